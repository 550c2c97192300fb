#pragma once

// The definition of the settings dialog (Form2): its components, their built-in texts and
// positions. Component names are part of the language files and the settings
// file, so they never change.

#include "ui/form_definition.h"

namespace merovane::ui {
class Button;
class CheckBox;
class HotKey;
class Label;
} // namespace merovane::ui

namespace merovane {

const ui::FormDef& SettingsDialogDefinition();

// The components the code uses; the definition spells them so too.
namespace settings_dialog {
inline constexpr ui::Named<ui::CheckBox> kCheckBoxAutostartToTray{L"CheckBoxAutostartToTray"};
inline constexpr ui::Named<ui::CheckBox> kCheckBoxToTray{L"CheckBoxToTray"};
inline constexpr ui::Named<ui::CheckBox> kCheckBoxColorTrayIcon{L"CheckBoxColorTrayIcon"};
inline constexpr ui::Named<ui::CheckBox> kCheckBoxHiddenIcons{L"CheckBoxHiddenIcons"};
inline constexpr ui::Named<ui::Label> kLabelSetByOrganisation{L"LabelSetByOrganisation"};
inline constexpr ui::Named<ui::CheckBox> kCheckBoxAutoUpdateList{L"CheckBoxAutoUpdateList"};
inline constexpr ui::Named<ui::CheckBox> kCheckBoxAutostart{L"CheckBoxAutostart"};
inline constexpr ui::Named<ui::HotKey> kHotKeyShowEveryIcon{L"HotKeyShowEveryIcon"};
inline constexpr ui::Named<ui::Button> kButtonSave{L"ButtonSave"};
} // namespace settings_dialog

} // namespace merovane
