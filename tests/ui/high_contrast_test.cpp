#include "ui/style.h"

#include "ui/gdi.h"

#include <gtest/gtest.h>

#include <array>

namespace merovane::ui {
namespace {

// A high-contrast colour set, put in place for the test and taken back after.
class HighContrastColours {
public:
    HighContrastColours()
    {
        for (size_t i = 0; i < kIndices.size(); ++i) {
            saved_[i] = ::GetSysColor(kIndices[i]);
        }
        const std::array<COLORREF, 8> contrast = {RGB(0, 0, 0),     RGB(255, 255, 255), RGB(0, 0, 1),
                                                  RGB(255, 255, 0), RGB(26, 235, 255),  RGB(0, 0, 2),
                                                  RGB(63, 242, 63), RGB(255, 255, 3)};
        EXPECT_TRUE(::SetSysColors(static_cast<int>(kIndices.size()), kIndices.data(), contrast.data()));
    }
    ~HighContrastColours() { ::SetSysColors(static_cast<int>(kIndices.size()), kIndices.data(), saved_.data()); }

    static constexpr std::array<int, 8> kIndices = {COLOR_WINDOW,    COLOR_WINDOWTEXT, COLOR_BTNFACE,
                                                    COLOR_BTNTEXT,   COLOR_HIGHLIGHT,  COLOR_HIGHLIGHTTEXT,
                                                    COLOR_GRAYTEXT,  COLOR_HOTLIGHT};

private:
    std::array<COLORREF, 8> saved_{};
};

// Draws an owner-drawn control of `kind` into a bitmap and returns the pixel.
class Canvas {
public:
    Canvas()
        : button_(::CreateWindowExW(0, L"BUTTON", L"", WS_POPUP, 0, 0, kWidth, kHeight, nullptr, nullptr, nullptr,
                                    nullptr)),
          dc_(::CreateCompatibleDC(nullptr))
    {
        BITMAPINFO info{};
        info.bmiHeader = {sizeof(BITMAPINFOHEADER), kWidth, -kHeight, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
        bitmap_ = ::CreateDIBSection(dc_, &info, DIB_RGB_COLORS, nullptr, nullptr, 0);
        old_ = ::SelectObject(dc_, bitmap_);
    }
    ~Canvas()
    {
        ::SelectObject(dc_, old_);
        ::DeleteObject(bitmap_);
        ::DeleteDC(dc_);
        ::DestroyWindow(button_);
    }

    void Draw(Kind kind, bool checked, bool down, const Palette& palette)
    {
        DRAWITEMSTRUCT item{};
        item.CtlType = ODT_BUTTON;
        item.hwndItem = button_;
        item.hDC = dc_;
        item.rcItem = {0, 0, kWidth, kHeight};
        DrawButtonControl(item, kind, checked, down, palette);
    }
    COLORREF Pixel(int x, int y) const { return ::GetPixel(dc_, x, y); }

    static constexpr int kWidth = 100;
    static constexpr int kHeight = 20;

private:
    HWND button_;
    HDC dc_;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ old_ = nullptr;
};

TEST(HighContrast, OwnerDrawnPartsOfBothStylesDrawInTheSystemsColours)
{
    const HighContrastColours colours;
    Canvas canvas;
    // The check box's glyph is 14 pixels square, one pixel in and centred:
    // (8, 5) lies inside its fill, above the tick.
    struct Case {
        const char* name;
        Kind kind;
        bool checked;
        bool down;
        POINT at;
        int colour;
    } cases[] = {
        {"check box's background", Kind::CheckBox, false, false, {60, 10}, COLOR_BTNFACE},
        {"ticked box", Kind::CheckBox, true, false, {8, 5}, COLOR_HIGHLIGHT},
        {"empty box", Kind::CheckBox, false, false, {8, 5}, COLOR_BTNFACE},
        {"empty box's edge", Kind::CheckBox, false, false, {8, 3}, COLOR_BTNTEXT},
        {"menu button", Kind::SpeedButton, false, false, {5, 5}, COLOR_BTNFACE},
        {"menu button marked", Kind::SpeedButton, false, true, {5, 5}, COLOR_HIGHLIGHT},
        {"button", Kind::Button, false, false, {5, 5}, COLOR_BTNFACE},
        {"button's frame", Kind::Button, false, false, {0, 0}, COLOR_BTNTEXT},
    };
    for (const Style style : {Style::Light, Style::Dark}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (style == Style::Dark ? " (dark)" : " (light)"));
            canvas.Draw(c.kind, c.checked, c.down, PaletteFor(style, true));
            EXPECT_EQ(canvas.Pixel(c.at.x, c.at.y), ::GetSysColor(c.colour));
            // Without the theme the style's own colours show.
            canvas.Draw(c.kind, c.checked, c.down, PaletteFor(style, false));
            EXPECT_NE(canvas.Pixel(c.at.x, c.at.y), ::GetSysColor(c.colour));
        }
    }
    EXPECT_TRUE(PaletteFor(Style::Dark, true).dark); // a black window colour
    EXPECT_FALSE(PaletteFor(Style::System, true).custom); // the system draws, in its own colours
}

} // namespace
} // namespace merovane::ui
