#pragma once

// The definition of the update dialog (Form10): its components, their built-in texts and
// positions. Component names are part of the language files and the settings
// file, so they never change.

#include "ui/form_definition.h"

namespace merovane::ui {
class Button;
class CheckBox;
class Container;
class Label;
class ProgressBar;
} // namespace merovane::ui

namespace merovane {

const ui::FormDef& UpdateDialogDefinition();

// The components the code uses; the definition spells them so too.
namespace update_dialog {
inline constexpr ui::Named<ui::Label> kLabelUpDate{L"LabelUpDate"};
inline constexpr ui::Named<ui::Label> kLabelLocalVersion{L"LabelLocalVersion"};
inline constexpr ui::Named<ui::Label> kLabelServerVersion{L"LabelServerVersion"};
inline constexpr ui::Named<ui::ProgressBar> kProgressBarUpdate{L"ProgressBarUpdate"};
inline constexpr ui::Named<ui::Container> kGroupBoxOption{L"GroupBoxOption"};
inline constexpr ui::Named<ui::CheckBox> kCheckBoxQuickUpdate{L"CheckBoxQuickUpdate"};
inline constexpr ui::Named<ui::CheckBox> kCheckBoxForceUpdate{L"CheckBoxForceUpdate"};
inline constexpr ui::Named<ui::CheckBox> kCheckBoxAutoCheck{L"CheckBoxAutoCheck"};
inline constexpr ui::Named<ui::Button> kButtonDownload{L"ButtonDownload"};
inline constexpr ui::Named<ui::Button> kButtonClose{L"ButtonClose"};
} // namespace update_dialog

} // namespace merovane
