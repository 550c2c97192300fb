#include "settings_dialog/settings_dialog_definition.h"

#include "base/settings_file.h"

namespace merovane {

namespace {

using namespace ui;
using namespace settings_dialog;

// The body is not docked: it comes first so that the tab order ends on the
// button, and keeps its size by its anchors instead.
static constexpr ui::ComponentDef kComponents[] = {
    {.kind = Kind::TabControl, .name = L"TabControlBody", .bounds = {0, 0, 334, 344},
     .anchors = AnchorLeft | AnchorTop | AnchorRight | AnchorBottom, .flags = Framed},
    {.kind = Kind::GroupBox, .name = L"GroupBoxGeneral", .parent = L"TabControlBody",
     .caption = L"Основные", .bounds = {0, 0, 334, 231}, .align = Align::Top},
    {.kind = Kind::CheckBox, .name = kCheckBoxAutostartToTray.name, .parent = L"GroupBoxGeneral",
     .caption = L"Свернуть в трей при запуске", .bounds = {16, 20, 305, 17}, .flags = HandCursor},
    {.kind = Kind::CheckBox, .name = kCheckBoxToTray.name, .parent = L"GroupBoxGeneral",
     .caption = L"Свернуть программу при закрытии", .bounds = {16, 40, 305, 17},
     .flags = HandCursor},
    {.kind = Kind::CheckBox, .name = kCheckBoxColorTrayIcon.name, .parent = L"GroupBoxGeneral",
     .caption = L"Цветная иконка", .bounds = {16, 60, 305, 17}, .flags = HandCursor},
    {.kind = Kind::CheckBox, .name = kCheckBoxHiddenIcons.name, .parent = L"GroupBoxGeneral",
     .caption = L"Меню скрытых значков", .bounds = {16, 80, 305, 17}, .flags = HandCursor},
    // Shown while a policy sets some of these controls (Group Policy).
    {.kind = Kind::Label, .name = kLabelSetByOrganisation.name, .parent = L"GroupBoxGeneral",
     .caption = L"Задано вашей организацией (серые)", .bounds = {16, 100, 305, 17}, .flags = Hidden},
    {.kind = Kind::CheckBox, .name = kCheckBoxAutoUpdateList.name, .parent = L"GroupBoxGeneral",
     .caption = L"Обновлять список автоматически", .bounds = {16, 120, 305, 17},
     .flags = HandCursor},
    // The new-icon policy: one exclusive group, none checked until the
    // settings are read.
    {.kind = Kind::RadioButton, .name = option_key::RadioButtonSystem, .parent = L"GroupBoxGeneral",
     .caption = L"Оставить как в системе", .bounds = {16, 140, 305, 17}, .flags = HandCursor},
    {.kind = Kind::RadioButton, .name = option_key::RadioButtonViewNew, .parent = L"GroupBoxGeneral",
     .caption = L"Показывать все автоматически", .bounds = {16, 160, 305, 17},
     .flags = HandCursor},
    {.kind = Kind::RadioButton, .name = option_key::RadioButtonHideNew, .parent = L"GroupBoxGeneral",
     .caption = L"Скрывать все автоматически", .bounds = {16, 180, 305, 17},
     .flags = HandCursor},
    {.kind = Kind::RadioButton, .name = option_key::RadioButtonViewNewOnly, .parent = L"GroupBoxGeneral",
     .caption = L"Показывать новые значки автоматически", .bounds = {16, 200, 305, 17},
     .flags = HandCursor},
    {.kind = Kind::GroupBox, .name = L"GroupBoxAutostart", .parent = L"TabControlBody",
     .caption = L"Автозагрузка", .bounds = {0, 231, 334, 48}, .align = Align::Top},
    {.kind = Kind::CheckBox, .name = kCheckBoxAutostart.name, .parent = L"GroupBoxAutostart",
     .caption = L"Автозагрузка при старте Windows", .bounds = {16, 20, 305, 17},
     .flags = HandCursor},
    // The label comes first: it names the control for screen readers.
    {.kind = Kind::GroupBox, .name = L"GroupBoxHotKey", .parent = L"TabControlBody",
     .caption = L"Сочетание клавиш", .bounds = {0, 279, 334, 48}, .align = Align::Top},
    {.kind = Kind::Label, .name = L"LabelHotKeyShowEveryIcon", .parent = L"GroupBoxHotKey",
     .caption = L"Показать все значки на время:", .bounds = {16, 22, 170, 17}},
    {.kind = Kind::HotKey, .name = kHotKeyShowEveryIcon.name, .parent = L"GroupBoxHotKey",
     .bounds = {190, 19, 131, 21}},
    {.kind = Kind::TabControl, .name = L"TabControlButtons", .bounds = {0, 344, 334, 35},
     .align = Align::Bottom, .flags = Framed},
    {.kind = Kind::Button, .name = kButtonSave.name, .parent = L"TabControlButtons", .caption = L"Ok",
     .bounds = {0, 0, 334, 35}, .align = Align::Client, .flags = Bold | HandCursor},

    // Message texts: captions, so that a language file translates them.
    {.kind = Kind::PopupMenu, .name = L"PopupMenuLanguage"},
    {.kind = Kind::MenuItem, .name = L"LangAutostartNotChanged", .parent = L"PopupMenuLanguage",
     .caption = L"Не удалось изменить автозагрузку при старте Windows."},
    {.kind = Kind::MenuItem, .name = L"LangChevronNotChanged", .parent = L"PopupMenuLanguage",
     .caption = L"Не удалось изменить меню скрытых значков на панели задач."},
    // "%s" is the key combination.
    {.kind = Kind::MenuItem, .name = L"LangHotKeyTaken", .parent = L"PopupMenuLanguage",
     .caption = L"Сочетание клавиш «%s» уже занято другой программой. Выберите другое."},
};

} // namespace

const ui::FormDef& SettingsDialogDefinition()
{
    static constexpr ui::FormDef kForm{
        .name = L"Form2",
        .className = L"TForm2",
        .caption = L"Настройки",
        .clientWidth = 334,
        .clientHeight = 379,
        .minWidth = 350,
        .minHeight = 418,
        .border = ui::Border::Dialog,
        .fontFace = L"Segoe UI",
        .fontHeight = -12,
        .components = kComponents,
    };
    return kForm;
}

} // namespace merovane
