#pragma once

// The program's two visual styles and the ordinary system look. One style is
// active for every window of the program at once.

#include "ui/form_definition.h"

#include <windows.h>

#include <string_view>

namespace merovane::ui {

enum class Style {
    System, // the ordinary system look: no theme chosen yet
    Light,  // "Windows11 Modern Light"
    Dark,   // "Windows11 Modern Dark"
};

inline constexpr std::wstring_view kLightStyleName = L"Windows11 Modern Light";
inline constexpr std::wstring_view kDarkStyleName = L"Windows11 Modern Dark";

struct Palette {
    bool custom = false;       // false: leave drawing to the system
    bool dark = false;
    COLORREF window = 0;   // window and panel background
    COLORREF text = 0;
    COLORREF face = 0;     // buttons, headers
    COLORREF faceHot = 0;
    COLORREF facePressed = 0;
    COLORREF border = 0;
    COLORREF accent = 0;   // check marks, focus, selection, progress
    COLORREF accentText = 0;
    COLORREF disabledText = 0;
    COLORREF link = 0;
    COLORREF listBack = 0; // list views
};

// The palette of a style. With a high-contrast theme on, the two styles
// draw in the system's colours instead of their own; the system look draws
// as the system does anyway.
const Palette& PaletteFor(Style style);
const Palette& PaletteFor(Style style, bool highContrast);
// True while Windows runs a high-contrast theme.
bool HighContrastOn() noexcept;
// The styles' palette under a high-contrast theme: the system's colours.
Palette SystemColourPalette();

// Draws a check box's or radio button's box alone, in the palette or as the
// system draws it (then `themeSource` names the window whose theme is used).
void DrawCheckGlyph(HDC dc, const RECT& glyph, Kind kind, bool checked, bool disabled, const Palette& palette,
                    HWND themeSource);

// Draws a button-class control (push button, flat button, check box, radio
// button) in the palette; with the system look, as the system draws it.
void DrawButtonControl(const DRAWITEMSTRUCT& item, Kind kind, bool checked, bool down, const Palette& palette);

} // namespace merovane::ui
