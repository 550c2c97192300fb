#pragma once

// The definition of the main window (Form1): its components, their built-in texts and
// positions. Component names are part of the language files and the settings
// file, so they never change.

#include "ui/form_definition.h"

namespace merovane::ui {
class ListView;
class MenuItem;
class PopupMenu;
class SpeedButton;
class StatusBar;
class TrayIcon;
} // namespace merovane::ui

namespace merovane {

const ui::FormDef& MainWindowDefinition();

// The components the window's code uses; the definition spells them so too.
// The theme and view items are named by their settings keys (base/option_names.h).
namespace main_window {
using ui::Named;
inline constexpr Named<ui::SpeedButton> kMenuButton{L"SpeedButton_GeneralMenu"};
inline constexpr Named<ui::StatusBar> kStatusBar{L"StatusBar1"};
inline constexpr Named<ui::ListView> kList{L"ListView1"};
inline constexpr Named<ui::TrayIcon> kTrayIcon{L"TrayIcon1"};

// The general menu, opened from the "≡" button and from the tray icon.
inline constexpr Named<ui::PopupMenu> kGeneralMenu{L"PopupMenu_General"};
inline constexpr Named<ui::MenuItem> kNameItem{L"Name"};
inline constexpr Named<ui::MenuItem> kVersionItem{L"Version"};
inline constexpr Named<ui::MenuItem> kShowWindowItem{L"ShowMainFormTrayMenu"};
inline constexpr Named<ui::MenuItem> kLanguageItem{L"LanguageMenu"};
inline constexpr Named<ui::MenuItem> kViewItem{L"ViewMenu"};
inline constexpr Named<ui::MenuItem> kRefreshListItem{L"RefreshListMenu"};
inline constexpr Named<ui::MenuItem> kShowAppGeneralItem{L"AlwaysShowAppGeneralMenu"};
inline constexpr Named<ui::MenuItem> kHideAppGeneralItem{L"AlwaysHideAppGeneralMenu"};
inline constexpr Named<ui::MenuItem> kNoRuleGeneralItem{L"NoRuleGeneralMenu"};
inline constexpr Named<ui::MenuItem> kRulesSeparator{L"N10"};
inline constexpr Named<ui::MenuItem> kDeleteDuplicatesItem{L"DelOldIconMenu"};
inline constexpr Named<ui::MenuItem> kDeleteMissingItem{L"DelNonExistentFilesMenu"};
inline constexpr Named<ui::MenuItem> kShowEveryIconItem{L"ShowEveryIconMenu"};
inline constexpr Named<ui::MenuItem> kRestartExplorerItem{L"RestartExplorerMenu"};
inline constexpr Named<ui::MenuItem> kSettingsItem{L"OptionMenu"};
inline constexpr Named<ui::MenuItem> kCheckUpdateItem{L"CheckUpdateMenu"};
inline constexpr Named<ui::MenuItem> kAboutItem{L"AboutMenu"};
inline constexpr Named<ui::MenuItem> kExitItem{L"CloseTrayMenu"};

// The list's own menu.
inline constexpr Named<ui::PopupMenu> kEntryMenu{L"PopupMenuIcon"};
inline constexpr Named<ui::MenuItem> kOpenFolderItem{L"OpenFolderMenu"};
inline constexpr Named<ui::MenuItem> kMoveUpItem{L"MoveUpMenu"};
inline constexpr Named<ui::MenuItem> kMoveDownItem{L"MoveDownMenu"};
inline constexpr Named<ui::MenuItem> kShowAppItem{L"AlwaysShowAppMenu"};
inline constexpr Named<ui::MenuItem> kHideAppItem{L"AlwaysHideAppMenu"};
inline constexpr Named<ui::MenuItem> kNoRuleItem{L"NoRuleMenu"};
inline constexpr Named<ui::MenuItem> kShowAllItem{L"ShowAllMenu"};
inline constexpr Named<ui::MenuItem> kHideAllItem{L"HideAllMenu"};
inline constexpr Named<ui::MenuItem> kDeleteItem{L"DeleteIconMenu"};

// Message texts: hidden items the language files translate.
inline constexpr Named<ui::MenuItem> kLangElements{L"LangElements"};
inline constexpr Named<ui::MenuItem> kLangDeleteRegistryKey{L"LangDeleteRegistryKey"};
inline constexpr Named<ui::MenuItem> kLangError{L"LangError"};
inline constexpr Named<ui::MenuItem> kLangOnlyWindows{L"LangOnlyWindows"};
inline constexpr Named<ui::MenuItem> kLangSettingsNotRead{L"LangSettingsNotRead"};
inline constexpr Named<ui::MenuItem> kLangSettingsNotSaved{L"LangSettingsNotSaved"};
inline constexpr Named<ui::MenuItem> kLangIconNotChanged{L"LangIconNotChanged"};
inline constexpr Named<ui::MenuItem> kLangPolicyNotApplied{L"LangPolicyNotApplied"};
inline constexpr Named<ui::MenuItem> kLangEntryNotDeleted{L"LangEntryNotDeleted"};
inline constexpr Named<ui::MenuItem> kLangRulesNotSaved{L"LangRulesNotSaved"};
inline constexpr Named<ui::MenuItem> kLangRuleShowMark{L"LangRuleShowMark"};
inline constexpr Named<ui::MenuItem> kLangRuleHideMark{L"LangRuleHideMark"};
inline constexpr Named<ui::MenuItem> kLangPolicyIgnored{L"LangPolicyIgnored"};
inline constexpr Named<ui::MenuItem> kLangPolicyShowMark{L"LangPolicyShowMark"};
inline constexpr Named<ui::MenuItem> kLangPolicyHideMark{L"LangPolicyHideMark"};
inline constexpr Named<ui::MenuItem> kLangRuleNowShow{L"LangRuleNowShow"};
inline constexpr Named<ui::MenuItem> kLangRuleNowHide{L"LangRuleNowHide"};
inline constexpr Named<ui::MenuItem> kLangAfterExplorerRestart{L"LangAfterExplorerRestart"};
inline constexpr Named<ui::MenuItem> kLangExplorerNotRestarted{L"LangExplorerNotRestarted"};
inline constexpr Named<ui::MenuItem> kLangExplorerRestarted{L"LangExplorerRestarted"};
inline constexpr Named<ui::MenuItem> kLangRowShown{L"LangRowShown"};
inline constexpr Named<ui::MenuItem> kLangRowHidden{L"LangRowHidden"};
inline constexpr Named<ui::MenuItem> kLangOrderPosition{L"LangOrderPosition"};
inline constexpr Named<ui::MenuItem> kLangOrderNotKept{L"LangOrderNotKept"};
inline constexpr Named<ui::MenuItem> kLangOrderNotChanged{L"LangOrderNotChanged"};
inline constexpr Named<ui::MenuItem> kLangEveryIconShown{L"LangEveryIconShown"};
inline constexpr Named<ui::MenuItem> kLangEveryIconPutBack{L"LangEveryIconPutBack"};
inline constexpr Named<ui::MenuItem> kLangEveryIconNotChanged{L"LangEveryIconNotChanged"};
inline constexpr Named<ui::MenuItem> kLangHotKeyTaken{L"LangHotKeyTaken"};
} // namespace main_window

} // namespace merovane
