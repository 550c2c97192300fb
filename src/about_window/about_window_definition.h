#pragma once

// The definition of the About window (Form8): its components, their built-in texts and
// positions. Component names are part of the language files and the settings
// file, so they never change.

#include "ui/form_definition.h"

namespace merovane::ui {
class Button;
class Image;
class Label;
} // namespace merovane::ui

namespace merovane {

const ui::FormDef& AboutWindowDefinition();

// The components the code uses; the definition spells them so too.
namespace about_window {
inline constexpr ui::Named<ui::Label> kLabelVersion{L"LabelVersion"};
inline constexpr ui::Named<ui::Label> kLabelCopyright{L"LabelCopyright"};
inline constexpr ui::Named<ui::Label> kLabelTelegram{L"LabelTelegram"};
inline constexpr ui::Named<ui::Label> kLabelGMail{L"LabelGMail"};
inline constexpr ui::Named<ui::Label> kLabelYaMail{L"LabelYaMail"};
inline constexpr ui::Named<ui::Label> kLabelMainWebSite{L"LabelMainWebSite"};
inline constexpr ui::Named<ui::Image> kImage1{L"Image1"};
inline constexpr ui::Named<ui::Button> kButton1{L"Button1"};
} // namespace about_window

} // namespace merovane
