#include "main_window/main_window_definition.h"

#include "base/settings_file.h"

namespace merovane {

namespace {

using namespace ui;
using namespace main_window;

// Radio groups of the general menu.
constexpr int kThemeGroup = 1;
constexpr int kViewGroup = 2;
// The rule of the selected row, in the list's menu and in the general menu.
constexpr int kEntryRuleGroup = 3;
constexpr int kGeneralRuleGroup = 4;

// The status bar comes before the list's frame: docking goes in definition
// order, and the frame takes what is left.
static constexpr ui::ComponentDef kComponents[] = {
    {.kind = Kind::TabControl, .name = L"TabControlBody", .bounds = {0, 0, 684, 32},
     .align = Align::Top, .flags = Framed},
    {.kind = Kind::SpeedButton, .name = kMenuButton.name, .parent = L"TabControlBody",
     .caption = L"≡", .bounds = {657, 5, 22, 22}, .anchors = AnchorRight | AnchorTop,
     .flags = HandCursor, .hint = L"Меню", .fontFace = L"Tahoma", .fontHeight = -21},
    {.kind = Kind::StatusBar, .name = kStatusBar.name, .bounds = {0, 492, 684, 19},
     .align = Align::Bottom},
    {.kind = Kind::TabControl, .name = L"TabControlTitle", .bounds = {0, 32, 684, 460},
     .align = Align::Client, .flags = Framed},
    {.kind = Kind::ListView, .name = kList.name, .parent = L"TabControlTitle",
     .bounds = {0, 0, 684, 460}, .align = Align::Client,
     .flags = CheckBoxes | RowSelect | SingleSelect, .items = L"Имя\nКомпания\nПуть",
     .value = 200},

    // Message texts: captions, so that a language file translates them.
    {.kind = Kind::PopupMenu, .name = L"PopupMenuLanguage"},
    {.kind = Kind::MenuItem, .name = kLangElements.name, .parent = L"PopupMenuLanguage",
     .caption = L"Элементов:"},
    {.kind = Kind::MenuItem, .name = kLangDeleteRegistryKey.name, .parent = L"PopupMenuLanguage",
     .caption = L"Вы уверены, что хотите удалить ключ реестра?"},
    {.kind = Kind::MenuItem, .name = kLangError.name, .parent = L"PopupMenuLanguage",
     .caption = L"Ошибка"},
    {.kind = Kind::MenuItem, .name = kLangOnlyWindows.name, .parent = L"PopupMenuLanguage",
     .caption = L"Эта программа работает только на Windows 11."},
    // "%s" stands for the file or the entry's name.
    {.kind = Kind::MenuItem, .name = kLangSettingsNotRead.name, .parent = L"PopupMenuLanguage",
     .caption = L"Не удалось прочитать файл настроек «%s». Программа работает с настройками по умолчанию "
                L"и не сохранит их до следующего запуска."},
    {.kind = Kind::MenuItem, .name = kLangSettingsNotSaved.name, .parent = L"PopupMenuLanguage",
     .caption = L"Настройки не сохранены: не удалось записать файл «%s»."},
    {.kind = Kind::MenuItem, .name = kLangIconNotChanged.name, .parent = L"PopupMenuLanguage",
     .caption = L"Не удалось изменить значок «%s»."},
    {.kind = Kind::MenuItem, .name = kLangPolicyNotApplied.name, .parent = L"PopupMenuLanguage",
     .caption = L"Не удалось применить правило для новых значков."},
    {.kind = Kind::MenuItem, .name = kLangEntryNotDeleted.name, .parent = L"PopupMenuLanguage",
     .caption = L"Не удалось удалить значок «%s» из реестра."},
    {.kind = Kind::MenuItem, .name = kLangRulesNotSaved.name, .parent = L"PopupMenuLanguage",
     .caption = L"Правило не сохранено: не удалось записать файл «%s»."},
    // A row under a rule: "%s" is the entry's name.
    {.kind = Kind::MenuItem, .name = kLangRuleShowMark.name, .parent = L"PopupMenuLanguage",
     .caption = L"%s (правило: показывать)"},
    {.kind = Kind::MenuItem, .name = kLangRuleHideMark.name, .parent = L"PopupMenuLanguage",
     .caption = L"%s (правило: скрывать)"},
    {.kind = Kind::MenuItem, .name = kLangPolicyIgnored.name, .parent = L"PopupMenuLanguage",
     .caption = L"Merovane не учитывает часть политики вашей организации:"},
    // A row under the organisation's rule (Group Policy).
    {.kind = Kind::MenuItem, .name = kLangPolicyShowMark.name, .parent = L"PopupMenuLanguage",
     .caption = L"%s (организация: показывать)"},
    {.kind = Kind::MenuItem, .name = kLangPolicyHideMark.name, .parent = L"PopupMenuLanguage",
     .caption = L"%s (организация: скрывать)"},
    // The status line after a tick changed a row's rule.
    {.kind = Kind::MenuItem, .name = kLangRuleNowShow.name, .parent = L"PopupMenuLanguage",
     .caption = L"Правило для «%s» изменено: всегда показывать."},
    {.kind = Kind::MenuItem, .name = kLangRuleNowHide.name, .parent = L"PopupMenuLanguage",
     .caption = L"Правило для «%s» изменено: всегда скрывать."},
    // Explorer keeps its own copy of the entries until it restarts.
    {.kind = Kind::MenuItem, .name = kLangAfterExplorerRestart.name, .parent = L"PopupMenuLanguage",
     .caption = L"Windows покажет удаление после перезапуска Проводника (меню: «Перезапустить Проводник»)."},
    {.kind = Kind::MenuItem, .name = kLangExplorerNotRestarted.name, .parent = L"PopupMenuLanguage",
     .caption = L"Не удалось перезапустить Проводник."},
    {.kind = Kind::MenuItem, .name = kLangExplorerRestarted.name, .parent = L"PopupMenuLanguage",
     .caption = L"Проводник перезапущен."},
    // A row's state as a screen reader says it.
    {.kind = Kind::MenuItem, .name = kLangRowShown.name, .parent = L"PopupMenuLanguage", .caption = L"показан"},
    {.kind = Kind::MenuItem, .name = kLangRowHidden.name, .parent = L"PopupMenuLanguage", .caption = L"скрыт"},
    // "%s" is the row's place and the number of icons, "2/5".
    {.kind = Kind::MenuItem, .name = kLangOrderPosition.name, .parent = L"PopupMenuLanguage",
     .caption = L"Место в порядке значков на панели задач: %s. Windows покажет новый порядок после перезапуска "
                L"Проводника (меню: «Перезапустить Проводник»)."},
    {.kind = Kind::MenuItem, .name = kLangOrderNotKept.name, .parent = L"PopupMenuLanguage",
     .caption = L"Этого значка нет в порядке значков панели задач: Windows ещё не расставила его."},
    {.kind = Kind::MenuItem, .name = kLangOrderNotChanged.name, .parent = L"PopupMenuLanguage",
     .caption = L"Не удалось изменить порядок значков."},
    {.kind = Kind::MenuItem, .name = kLangEveryIconShown.name, .parent = L"PopupMenuLanguage",
     .caption = L"Все значки показаны на время. Повторите команду, чтобы вернуть всё как было."},
    {.kind = Kind::MenuItem, .name = kLangEveryIconPutBack.name, .parent = L"PopupMenuLanguage",
     .caption = L"Значки возвращены как было."},
    {.kind = Kind::MenuItem, .name = kLangEveryIconNotChanged.name, .parent = L"PopupMenuLanguage",
     .caption = L"Не удалось показать все значки или вернуть их как было."},
    // "%s" is the key combination.
    {.kind = Kind::MenuItem, .name = kLangHotKeyTaken.name, .parent = L"PopupMenuLanguage",
     .caption = L"Сочетание клавиш «%s» уже занято другой программой."},

    // Opened from the "≡" button and from the tray icon; each opening shows
    // its own subset of the items.
    {.kind = Kind::PopupMenu, .name = kGeneralMenu.name, .flags = RightJustifyMenu},
    {.kind = Kind::MenuItem, .name = kNameItem.name, .parent = kGeneralMenu.name, .flags = Disabled},
    {.kind = Kind::MenuItem, .name = kVersionItem.name, .parent = kGeneralMenu.name, .flags = Disabled},
    {.kind = Kind::MenuItem, .name = L"N1", .parent = kGeneralMenu.name, .caption = L"-"},
    {.kind = Kind::MenuItem, .name = kShowWindowItem.name, .parent = kGeneralMenu.name,
     .caption = L"Показать главное окно"},
    {.kind = Kind::MenuItem, .name = L"N2", .parent = kGeneralMenu.name, .caption = L"-"},
    {.kind = Kind::MenuItem, .name = L"ThemeMenu", .parent = kGeneralMenu.name,
     .caption = L"Тема"},
    {.kind = Kind::MenuItem, .name = option_key::ThemeAuto, .parent = L"ThemeMenu", .caption = L"Системная",
     .flags = RadioItem | AutoCheck, .value = kThemeGroup},
    {.kind = Kind::MenuItem, .name = option_key::ThemeLight, .parent = L"ThemeMenu", .caption = L"Светлая",
     .flags = RadioItem | AutoCheck, .value = kThemeGroup},
    {.kind = Kind::MenuItem, .name = option_key::ThemeDark, .parent = L"ThemeMenu", .caption = L"Темная",
     .flags = RadioItem | AutoCheck, .value = kThemeGroup},
    {.kind = Kind::MenuItem, .name = kLanguageItem.name, .parent = kGeneralMenu.name,
     .caption = L"Язык"},
    {.kind = Kind::MenuItem, .name = L"N3", .parent = kGeneralMenu.name, .caption = L"-"},
    {.kind = Kind::MenuItem, .name = kViewItem.name, .parent = kGeneralMenu.name, .caption = L"Вид"},
    {.kind = Kind::MenuItem, .name = option_key::IconSmallMenu, .parent = kViewItem.name,
     .caption = L"Маленькие  значки", .flags = RadioItem | AutoCheck, .value = kViewGroup},
    {.kind = Kind::MenuItem, .name = option_key::IconBigMenu, .parent = kViewItem.name,
     .caption = L"Большие значки", .flags = RadioItem | AutoCheck, .value = kViewGroup},
    {.kind = Kind::MenuItem, .name = kRefreshListItem.name, .parent = kGeneralMenu.name,
     .caption = L"Обновить список", .shortcut = L"F5"},
    {.kind = Kind::MenuItem, .name = L"N4", .parent = kGeneralMenu.name, .caption = L"-"},
    {.kind = Kind::MenuItem, .name = kShowAppGeneralItem.name, .parent = kGeneralMenu.name,
     .caption = L"Всегда показывать это приложение", .flags = RadioItem, .value = kGeneralRuleGroup},
    {.kind = Kind::MenuItem, .name = kHideAppGeneralItem.name, .parent = kGeneralMenu.name,
     .caption = L"Всегда скрывать это приложение", .flags = RadioItem, .value = kGeneralRuleGroup},
    {.kind = Kind::MenuItem, .name = kNoRuleGeneralItem.name, .parent = kGeneralMenu.name,
     .caption = L"Без правила", .flags = RadioItem, .value = kGeneralRuleGroup},
    {.kind = Kind::MenuItem, .name = kRulesSeparator.name, .parent = kGeneralMenu.name, .caption = L"-"},
    {.kind = Kind::MenuItem, .name = kDeleteDuplicatesItem.name, .parent = kGeneralMenu.name,
     .caption = L"Удалить старые значки в реестре"},
    {.kind = Kind::MenuItem, .name = kDeleteMissingItem.name, .parent = kGeneralMenu.name,
     .caption = L"Удалить несуществующие файлы"},
    {.kind = Kind::MenuItem, .name = kShowEveryIconItem.name, .parent = kGeneralMenu.name,
     .caption = L"Показать все значки на время"},
    {.kind = Kind::MenuItem, .name = kRestartExplorerItem.name, .parent = kGeneralMenu.name,
     .caption = L"Перезапустить Проводник"},
    {.kind = Kind::MenuItem, .name = L"N5", .parent = kGeneralMenu.name, .caption = L"-"},
    {.kind = Kind::MenuItem, .name = kSettingsItem.name, .parent = kGeneralMenu.name,
     .caption = L"Настройки"},
    {.kind = Kind::MenuItem, .name = L"N6", .parent = kGeneralMenu.name, .caption = L"-"},
    {.kind = Kind::MenuItem, .name = kCheckUpdateItem.name, .parent = kGeneralMenu.name,
     .caption = L"Проверить обновления"},
    {.kind = Kind::MenuItem, .name = kAboutItem.name, .parent = kGeneralMenu.name,
     .caption = L"О программе", .shortcut = L"F1"},
    {.kind = Kind::MenuItem, .name = L"N7", .parent = kGeneralMenu.name, .caption = L"-"},
    {.kind = Kind::MenuItem, .name = kExitItem.name, .parent = kGeneralMenu.name,
     .caption = L"Выход"},

    // The list's own menu.
    {.kind = Kind::PopupMenu, .name = kEntryMenu.name},
    {.kind = Kind::MenuItem, .name = kOpenFolderItem.name, .parent = kEntryMenu.name,
     .caption = L"Открыть папку"},
    {.kind = Kind::MenuItem, .name = L"N12", .parent = kEntryMenu.name, .caption = L"-"},
    {.kind = Kind::MenuItem, .name = kMoveUpItem.name, .parent = kEntryMenu.name,
     .caption = L"Переместить выше на панели задач", .shortcut = L"Alt+Up"},
    {.kind = Kind::MenuItem, .name = kMoveDownItem.name, .parent = kEntryMenu.name,
     .caption = L"Переместить ниже на панели задач", .shortcut = L"Alt+Down"},
    {.kind = Kind::MenuItem, .name = L"N8", .parent = kEntryMenu.name, .caption = L"-"},
    {.kind = Kind::MenuItem, .name = kShowAppItem.name, .parent = kEntryMenu.name,
     .caption = L"Всегда показывать это приложение", .flags = RadioItem, .value = kEntryRuleGroup},
    {.kind = Kind::MenuItem, .name = kHideAppItem.name, .parent = kEntryMenu.name,
     .caption = L"Всегда скрывать это приложение", .flags = RadioItem, .value = kEntryRuleGroup},
    {.kind = Kind::MenuItem, .name = kNoRuleItem.name, .parent = kEntryMenu.name,
     .caption = L"Без правила", .flags = RadioItem, .value = kEntryRuleGroup},
    {.kind = Kind::MenuItem, .name = L"N11", .parent = kEntryMenu.name, .caption = L"-"},
    {.kind = Kind::MenuItem, .name = kShowAllItem.name, .parent = kEntryMenu.name,
     .caption = L"Показать все"},
    {.kind = Kind::MenuItem, .name = kHideAllItem.name, .parent = kEntryMenu.name,
     .caption = L"Скрыть все"},
    {.kind = Kind::MenuItem, .name = L"N9", .parent = kEntryMenu.name, .caption = L"-"},
    {.kind = Kind::MenuItem, .name = kDeleteItem.name, .parent = kEntryMenu.name,
     .caption = L"Удалить иконку", .shortcut = L"Del"},

    {.kind = Kind::TrayIcon, .name = kTrayIcon.name, .hint = L"Merovane"},
    // Switched on by the settings once they are read, never before.
};

} // namespace

const ui::FormDef& MainWindowDefinition()
{
    // The caption gets the version and bitness appended at start.
    static constexpr ui::FormDef kForm{
        .name = L"Form1",
        .className = L"TForm1",
        .caption = L"Merovane",
        .clientWidth = 684,
        .clientHeight = 511,
        .minWidth = 700,
        .minHeight = 550,
        .border = ui::Border::Sizeable,
        .fontFace = L"Segoe UI",
        .fontHeight = -12,
        .components = kComponents,
    };
    return kForm;
}

} // namespace merovane
