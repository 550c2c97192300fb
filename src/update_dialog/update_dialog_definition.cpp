#include "update_dialog/update_dialog_definition.h"

namespace merovane {

namespace {

using namespace ui;
using namespace update_dialog;

// The frame comes first and is not docked, so the status and version lines
// lead the tab order and the buttons end it.
static constexpr ui::ComponentDef kComponents[] = {
    {.kind = Kind::GroupBox, .name = L"GroupBox1", .bounds = {8, 4, 418, 94},
     .anchors = AnchorLeft | AnchorTop | AnchorRight | AnchorBottom},
    {.kind = Kind::Label, .name = kLabelUpDate.name, .parent = L"GroupBox1",
     .caption = L"Проверка обновления...", .bounds = {8, 16, 402, 32}, .flags = Bold | CenterText},
    {.kind = Kind::Label, .name = L"LabelLocalTitle", .parent = L"GroupBox1",
     .caption = L"Версия на компьютере:", .bounds = {8, 52, 195, 17}, .flags = RightText},
    // The two version values are filled in by each check.
    {.kind = Kind::Label, .name = kLabelLocalVersion.name, .parent = L"GroupBox1",
     .bounds = {209, 52, 201, 17}},
    {.kind = Kind::Label, .name = L"LabelServerTitle", .parent = L"GroupBox1",
     .caption = L"Версия на сервере:", .bounds = {8, 71, 195, 17}, .flags = RightText},
    {.kind = Kind::Label, .name = kLabelServerVersion.name, .parent = L"GroupBox1",
     .bounds = {209, 71, 201, 17}, .flags = Bold},
    // Shown at 0 until the first download ends; the window code works in
    // per cent of the package.
    {.kind = Kind::ProgressBar, .name = kProgressBarUpdate.name, .bounds = {8, 104, 418, 16},
     .anchors = AnchorLeft | AnchorRight | AnchorBottom, .value = 100},
    {.kind = Kind::GroupBox, .name = kGroupBoxOption.name, .caption = L"Опции",
     .bounds = {8, 124, 418, 42}, .anchors = AnchorLeft | AnchorRight | AnchorBottom},
    {.kind = Kind::CheckBox, .name = kCheckBoxQuickUpdate.name, .parent = L"GroupBoxOption",
     .caption = L"Быстрое", .bounds = {12, 17, 100, 17}, .flags = Checked},
    {.kind = Kind::CheckBox, .name = kCheckBoxForceUpdate.name, .parent = L"GroupBoxOption",
     .caption = L"Принудительное", .bounds = {120, 17, 130, 17}},
    {.kind = Kind::CheckBox, .name = kCheckBoxAutoCheck.name, .parent = L"GroupBoxOption",
     .caption = L"Проверять при запуске", .bounds = {258, 17, 152, 17}, .flags = Checked},
    {.kind = Kind::Button, .name = kButtonDownload.name, .caption = L"Скачать",
     .bounds = {226, 172, 96, 26}, .anchors = AnchorRight | AnchorBottom,
     .flags = DefaultButton},
    {.kind = Kind::Button, .name = kButtonClose.name, .caption = L"Закрыть",
     .bounds = {330, 172, 96, 26}, .anchors = AnchorRight | AnchorBottom},

    // Message texts: captions, so that a language file translates them.
    {.kind = Kind::PopupMenu, .name = L"PopupMenuLanguage"},
    {.kind = Kind::MenuItem, .name = L"LangNoDownload", .parent = L"PopupMenuLanguage",
     .caption = L"Файлы обновления не загружены!"},
    {.kind = Kind::MenuItem, .name = L"LangDownloadComplet", .parent = L"PopupMenuLanguage",
     .caption = L"Файлы обновления загружены!"},
    {.kind = Kind::MenuItem, .name = L"LangPackageNotServed", .parent = L"PopupMenuLanguage",
     .caption = L"Сервер не отдал пакет обновления"},
    {.kind = Kind::MenuItem, .name = L"LangPackageStalled", .parent = L"PopupMenuLanguage",
     .caption = L"Сервер перестал отвечать"},
    {.kind = Kind::MenuItem, .name = L"LangPackageTooSlow", .parent = L"PopupMenuLanguage",
     .caption = L"Сервер передаёт слишком медленно"},
    {.kind = Kind::MenuItem, .name = L"LangPackageBadSignature", .parent = L"PopupMenuLanguage",
     .caption = L"Подпись пакета недействительна"},
    {.kind = Kind::MenuItem, .name = L"LangPackageWrongSignature", .parent = L"PopupMenuLanguage",
     .caption = L"Подпись относится к другому пакету или версии"},
    {.kind = Kind::MenuItem, .name = L"LangPackageNotNewer", .parent = L"PopupMenuLanguage",
     .caption = L"Пакет не новее установленной версии"},
    {.kind = Kind::MenuItem, .name = L"LangPackageTooLong", .parent = L"PopupMenuLanguage",
     .caption = L"Пакет больше подписанного размера"},
    {.kind = Kind::MenuItem, .name = L"LangPackageIncomplete", .parent = L"PopupMenuLanguage",
     .caption = L"Пакет получен не полностью"},
    {.kind = Kind::MenuItem, .name = L"LangPackageDamaged", .parent = L"PopupMenuLanguage",
     .caption = L"Пакет повреждён или подменён"},
    {.kind = Kind::MenuItem, .name = L"LangPackageNotSaved", .parent = L"PopupMenuLanguage",
     .caption = L"Не удалось сохранить пакет"},
    {.kind = Kind::MenuItem, .name = L"LangPackageNoProgram", .parent = L"PopupMenuLanguage",
     .caption = L"В пакете нет этой программы"},
    {.kind = Kind::MenuItem, .name = L"LangUpdateNotStarted", .parent = L"PopupMenuLanguage",
     .caption = L"Не удалось запустить установку обновления"},
    {.kind = Kind::MenuItem, .name = L"LangUpdateNotInstalled", .parent = L"PopupMenuLanguage",
     .caption = L"Обновление не установлено: программа осталась прежней."},
    {.kind = Kind::MenuItem, .name = L"LangCannotInstallUpdates", .parent = L"PopupMenuLanguage",
     .caption = L"Эта сборка не может устанавливать обновления"},
    {.kind = Kind::MenuItem, .name = L"LangNoUpdate", .parent = L"PopupMenuLanguage",
     .caption = L"Нет обновления"},
    {.kind = Kind::MenuItem, .name = L"LangServerVersion", .parent = L"PopupMenuLanguage",
     .caption = L"Версия на сервере:"},
    {.kind = Kind::MenuItem, .name = L"LangVersionComputer", .parent = L"PopupMenuLanguage",
     .caption = L"Версия на компьютере:"},
    {.kind = Kind::MenuItem, .name = L"LangUpdateAvailable", .parent = L"PopupMenuLanguage",
     .caption = L"Доступно обновление"},
    {.kind = Kind::MenuItem, .name = L"LangDownload", .parent = L"PopupMenuLanguage", .caption = L"Скачать"},
    {.kind = Kind::MenuItem, .name = L"LangCancel", .parent = L"PopupMenuLanguage", .caption = L"Отмена"},
    {.kind = Kind::MenuItem, .name = L"LangUpdateNow", .parent = L"PopupMenuLanguage",
     .caption = L"Хотите обновить приложение сейчас?"},
    {.kind = Kind::MenuItem, .name = L"LangOlderVersion", .parent = L"PopupMenuLanguage",
     .caption = L"На сервере более старая версия"},
    {.kind = Kind::MenuItem, .name = L"LangInstallOlder", .parent = L"PopupMenuLanguage",
     .caption = L"Установить её вместо этой версии?"},
    {.kind = Kind::MenuItem, .name = L"LangYes", .parent = L"PopupMenuLanguage", .caption = L"Да"},
    {.kind = Kind::MenuItem, .name = L"LangNo", .parent = L"PopupMenuLanguage", .caption = L"Нет"},
    {.kind = Kind::MenuItem, .name = L"LangCheckUpdate", .parent = L"PopupMenuLanguage",
     .caption = L"Проверка обновления..."},
    {.kind = Kind::MenuItem, .name = L"LangFailedCheckUpdates", .parent = L"PopupMenuLanguage",
     .caption = L"Не удалось проверить обновления"},
    {.kind = Kind::MenuItem, .name = L"LangConnectionError", .parent = L"PopupMenuLanguage",
     .caption = L"Ошибка соединения"},
};

} // namespace

const ui::FormDef& UpdateDialogDefinition()
{
    // A language pass appends " Merovane" to the caption.
    static constexpr ui::FormDef kForm{
        .name = L"Form10",
        .className = L"TForm10",
        .caption = L"Обновление",
        .clientWidth = 434,
        .clientHeight = 205,
        .minWidth = 400,
        .minHeight = 244,
        .border = ui::Border::Dialog,
        .appWindow = true,
        .fontFace = L"Segoe UI",
        .fontHeight = -12,
        .components = kComponents,
    };
    return kForm;
}

} // namespace merovane
