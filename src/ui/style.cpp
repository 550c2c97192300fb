#include "ui/style.h"

#include "ui/dpi.h"

#include "ui/gdi.h"

#include "base/handles.h"

#include <uxtheme.h>
#include <vssym32.h>

#include <algorithm>
#include <string>

namespace merovane::ui {

namespace {

constexpr Palette kSystem{.custom = false};

constexpr Palette kLight{
    .custom = true,
    .dark = false,
    .window = RGB(243, 243, 243),
    .text = RGB(27, 27, 27),
    .face = RGB(251, 251, 251),
    .faceHot = RGB(246, 246, 246),
    .facePressed = RGB(230, 230, 230),
    .border = RGB(204, 204, 204),
    .accent = RGB(0, 95, 184),
    .accentText = RGB(255, 255, 255),
    .disabledText = RGB(160, 160, 160),
    .link = RGB(0, 95, 184),
    .listBack = RGB(255, 255, 255),
};

constexpr Palette kDark{
    .custom = true,
    .dark = true,
    .window = RGB(32, 32, 32),
    .text = RGB(255, 255, 255),
    .face = RGB(45, 45, 45),
    .faceHot = RGB(55, 55, 55),
    .facePressed = RGB(38, 38, 38),
    .border = RGB(70, 70, 70),
    .accent = RGB(76, 194, 255),
    .accentText = RGB(0, 0, 0),
    .disabledText = RGB(120, 120, 120),
    .link = RGB(96, 205, 255),
    .listBack = RGB(39, 39, 39),
};

void Fill(HDC dc, const RECT& rect, COLORREF colour)
{
    ::SetDCBrushColor(dc, colour);
    ::FillRect(dc, &rect, static_cast<HBRUSH>(::GetStockObject(DC_BRUSH)));
}

void Frame(HDC dc, const RECT& rect, COLORREF colour)
{
    ::SetDCBrushColor(dc, colour);
    ::FrameRect(dc, &rect, static_cast<HBRUSH>(::GetStockObject(DC_BRUSH)));
}

std::wstring TextOf(HWND window)
{
    const int length = ::GetWindowTextLengthW(window);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    ::GetWindowTextW(window, text.data(), length + 1);
    text.resize(static_cast<size_t>(length));
    return text;
}

bool HasAllGlyphs(HDC dc, const std::wstring& text)
{
    std::wstring indices(text.size(), L'\0');
    if (text.empty() || ::GetGlyphIndicesW(dc, text.c_str(), static_cast<int>(text.size()),
                                           reinterpret_cast<WORD*>(indices.data()),
                                           GGI_MARK_NONEXISTING_GLYPHS) == GDI_ERROR) {
        return true;
    }
    return indices.find(static_cast<wchar_t>(0xFFFF)) == std::wstring::npos;
}

// A caption the window's font has no glyphs for (the menu button's "≡" in
// some fonts) is drawn with a font that has them.
unique_hfont FallbackFont(HDC dc, const std::wstring& text)
{
    if (HasAllGlyphs(dc, text)) {
        return {};
    }
    LOGFONTW current{};
    ::GetObjectW(::GetCurrentObject(dc, OBJ_FONT), sizeof(current), &current);
    for (const wchar_t* face : {L"Segoe UI Symbol", L"Segoe UI", L"Arial Unicode MS", L"DejaVu Sans", L"Symbol"}) {
        LOGFONTW candidate = current;
        ::lstrcpynW(candidate.lfFaceName, face, LF_FACESIZE);
        unique_hfont font(::CreateFontIndirectW(&candidate));
        bool fits = false;
        {
            const SelectedObject trial(dc, font.get());
            fits = HasAllGlyphs(dc, text);
        }
        if (fits) {
            return font;
        }
    }
    return {};
}

void DrawCaption(HDC dc, RECT rect, const std::wstring& text, COLORREF colour, UINT format, bool focus)
{
    const auto fallback = FallbackFont(dc, text);
    const SelectedObject font(dc, fallback.get());
    ::SetBkMode(dc, TRANSPARENT);
    ::SetTextColor(dc, colour);
    ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &rect, format | DT_NOPREFIX);
    if (focus) {
        RECT measured = rect;
        ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &measured, format | DT_NOPREFIX | DT_CALCRECT);
        if (format & DT_CENTER) {
            ::OffsetRect(&measured, (rect.right - measured.right) / 2 - (measured.left - rect.left) / 2, 0);
        }
        if (format & DT_VCENTER) {
            ::OffsetRect(&measured, 0, (rect.bottom - measured.bottom) / 2);
        }
        ::InflateRect(&measured, 1, 1);
        ::DrawFocusRect(dc, &measured);
    }
}

// The system's own look: themed when themes are on, classic otherwise.
void DrawSystemButton(const DRAWITEMSTRUCT& item, Kind kind, bool checked, bool down, const std::wstring& text)
{
    HDC dc = item.hDC;
    RECT rect = item.rcItem;
    const bool disabled = (item.itemState & ODS_DISABLED) != 0;
    const bool pressed = down || (item.itemState & ODS_SELECTED) != 0;
    const bool focus = (item.itemState & ODS_FOCUS) != 0 && (item.itemState & ODS_NOFOCUSRECT) == 0;
    ::FillRect(dc, &rect, ::GetSysColorBrush(COLOR_BTNFACE));
    const unique_htheme theme(::IsAppThemed() ? ::OpenThemeData(item.hwndItem, L"BUTTON") : nullptr);
    const COLORREF textColour = ::GetSysColor(disabled ? COLOR_GRAYTEXT : COLOR_BTNTEXT);

    if (kind == Kind::CheckBox || kind == Kind::RadioButton) {
        const int box = ScaleFor(item.hwndItem, 13);
        RECT glyph{rect.left, rect.top + (rect.bottom - rect.top - box) / 2, rect.left + box, 0};
        glyph.bottom = glyph.top + box;
        DrawCheckGlyph(dc, glyph, kind, checked, disabled, kSystem, item.hwndItem);
        RECT label{glyph.right + ScaleFor(item.hwndItem, 4), rect.top, rect.right, rect.bottom};
        DrawCaption(dc, label, text, textColour, DT_LEFT | DT_VCENTER | DT_SINGLELINE, focus);
    } else {
        if (theme) {
            const int state = disabled ? PBS_DISABLED : pressed ? PBS_PRESSED : focus ? PBS_DEFAULTED : PBS_NORMAL;
            if (kind != Kind::SpeedButton || pressed) {
                ::DrawThemeBackground(theme.get(), dc, BP_PUSHBUTTON, state, &rect, nullptr);
            }
        } else if (kind != Kind::SpeedButton || pressed) {
            ::DrawFrameControl(dc, &rect, DFC_BUTTON, DFCS_BUTTONPUSH | (pressed ? DFCS_PUSHED : 0));
        } else {
            ::DrawEdge(dc, &rect, BDR_RAISEDINNER, BF_RECT);
        }
        if (pressed) {
            ::OffsetRect(&rect, 1, 1);
        }
        DrawCaption(dc, rect, text, textColour, DT_CENTER | DT_VCENTER | DT_SINGLELINE, focus);
    }
}

void DrawStyledButton(const DRAWITEMSTRUCT& item, Kind kind, bool checked, bool down, const Palette& palette,
                      const std::wstring& text)
{
    HDC dc = item.hDC;
    const RECT rect = item.rcItem;
    const bool disabled = (item.itemState & ODS_DISABLED) != 0;
    const bool pressed = down || (item.itemState & ODS_SELECTED) != 0;
    const bool focus = (item.itemState & ODS_FOCUS) != 0 && (item.itemState & ODS_NOFOCUSRECT) == 0;
    const COLORREF textColour = disabled ? palette.disabledText : palette.text;
    ::SetBkMode(dc, TRANSPARENT);

    if (kind == Kind::CheckBox || kind == Kind::RadioButton) {
        Fill(dc, rect, palette.window);
        const int box = ScaleFor(item.hwndItem, 14);
        RECT glyph{rect.left + 1, rect.top + (rect.bottom - rect.top - box) / 2, rect.left + 1 + box, 0};
        glyph.bottom = glyph.top + box;
        DrawCheckGlyph(dc, glyph, kind, checked, disabled, palette, item.hwndItem);
        RECT label{glyph.right + ScaleFor(item.hwndItem, 6), rect.top, rect.right, rect.bottom};
        DrawCaption(dc, label, text, textColour, DT_LEFT | DT_VCENTER | DT_SINGLELINE, focus);
        return;
    }

    Fill(dc, rect, kind == Kind::SpeedButton && !pressed ? palette.window : pressed ? palette.facePressed
                                                                                     : palette.face);
    if (kind != Kind::SpeedButton || pressed) {
        Frame(dc, rect, palette.border);
    }
    DrawCaption(dc, rect, text, textColour, DT_CENTER | DT_VCENTER | DT_SINGLELINE, focus);
}

} // namespace

void DrawCheckGlyph(HDC dc, const RECT& glyph, Kind kind, bool checked, bool disabled, const Palette& palette,
                    HWND themeSource)
{
    if (!palette.custom) {
        const unique_htheme theme(::IsAppThemed() ? ::OpenThemeData(themeSource, L"BUTTON") : nullptr);
        if (theme) {
            const int part = kind == Kind::CheckBox ? BP_CHECKBOX : BP_RADIOBUTTON;
            int state = kind == Kind::CheckBox ? static_cast<int>(checked ? CBS_CHECKEDNORMAL : CBS_UNCHECKEDNORMAL)
                                               : static_cast<int>(checked ? RBS_CHECKEDNORMAL : RBS_UNCHECKEDNORMAL);
            if (disabled) {
                state += 3; // the *DISABLED states follow NORMAL, HOT, PRESSED
            }
            ::DrawThemeBackground(theme.get(), dc, part, state, &glyph, nullptr);
        } else {
            UINT flags = kind == Kind::CheckBox ? DFCS_BUTTONCHECK : DFCS_BUTTONRADIO;
            flags |= (checked ? DFCS_CHECKED : 0) | (disabled ? DFCS_INACTIVE : 0);
            RECT box = glyph;
            ::DrawFrameControl(dc, &box, DFC_BUTTON, flags);
        }
        return;
    }
    const COLORREF edge = checked ? palette.accent : palette.text;
    const SelectedObject pen(dc, ::GetStockObject(DC_PEN));
    const SelectedObject brush(dc, ::GetStockObject(DC_BRUSH));
    ::SetDCPenColor(dc, disabled ? palette.disabledText : edge);
    const int w = glyph.right - glyph.left;
    if (kind == Kind::CheckBox) {
        ::SetDCBrushColor(dc, checked ? palette.accent : palette.face);
        const int round = std::max(2, w / 4);
        ::RoundRect(dc, glyph.left, glyph.top, glyph.right, glyph.bottom, round, round);
        if (checked) {
            ::SetDCPenColor(dc, palette.accentText);
            const POINT tick[] = {{glyph.left + w * 3 / 14, glyph.top + w * 7 / 14},
                                  {glyph.left + w * 6 / 14, glyph.top + w * 10 / 14},
                                  {glyph.left + w * 11 / 14, glyph.top + w * 4 / 14}};
            for (int thickness = 0; thickness < std::max(1, w / 7); ++thickness) {
                POINT shifted[3];
                for (int i = 0; i < 3; ++i) {
                    shifted[i] = {tick[i].x, tick[i].y + thickness};
                }
                ::Polyline(dc, shifted, 3);
            }
        }
    } else {
        ::SetDCBrushColor(dc, palette.face);
        ::Ellipse(dc, glyph.left, glyph.top, glyph.right, glyph.bottom);
        if (checked) {
            const int inset = w / 4;
            ::SetDCBrushColor(dc, palette.accent);
            ::SetDCPenColor(dc, palette.accent);
            ::Ellipse(dc, glyph.left + inset, glyph.top + inset, glyph.right - inset, glyph.bottom - inset);
        }
    }
}

bool HighContrastOn() noexcept
{
    HIGHCONTRASTW contrast{};
    contrast.cbSize = sizeof(contrast);
    return ::SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof(contrast), &contrast, 0) != FALSE &&
           (contrast.dwFlags & HCF_HIGHCONTRASTON) != 0;
}

Palette SystemColourPalette()
{
    const COLORREF window = ::GetSysColor(COLOR_WINDOW);
    const int luminance = (GetRValue(window) * 299 + GetGValue(window) * 587 + GetBValue(window) * 114) / 1000;
    return Palette{
        .custom = true,
        .dark = luminance < 128,
        .window = ::GetSysColor(COLOR_BTNFACE),
        .text = ::GetSysColor(COLOR_BTNTEXT),
        .face = ::GetSysColor(COLOR_BTNFACE),
        .faceHot = ::GetSysColor(COLOR_HIGHLIGHT),
        .facePressed = ::GetSysColor(COLOR_HIGHLIGHT),
        .border = ::GetSysColor(COLOR_BTNTEXT),
        .accent = ::GetSysColor(COLOR_HIGHLIGHT),
        .accentText = ::GetSysColor(COLOR_HIGHLIGHTTEXT),
        .disabledText = ::GetSysColor(COLOR_GRAYTEXT),
        .link = ::GetSysColor(COLOR_HOTLIGHT),
        .listBack = window,
    };
}

const Palette& PaletteFor(Style style)
{
    return PaletteFor(style, HighContrastOn());
}

const Palette& PaletteFor(Style style, bool highContrast)
{
    if (highContrast && style != Style::System) {
        // Read afresh each time: the user may switch themes while it runs.
        // Windows draw on the user-interface thread only.
        static Palette contrast;
        contrast = SystemColourPalette();
        return contrast;
    }
    switch (style) {
    case Style::Light:
        return kLight;
    case Style::Dark:
        return kDark;
    case Style::System:
    default:
        return kSystem;
    }
}

void DrawButtonControl(const DRAWITEMSTRUCT& item, Kind kind, bool checked, bool down, const Palette& palette)
{
    const std::wstring text = TextOf(item.hwndItem);
    if (palette.custom) {
        DrawStyledButton(item, kind, checked, down, palette, text);
    } else {
        DrawSystemButton(item, kind, checked, down, text);
    }
}

} // namespace merovane::ui
