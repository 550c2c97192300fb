#include "locale_fixture.h"

#include "base/error.h"
#include "main_window/main_window_definition.h"
#include "settings_dialog/settings_dialog_definition.h"
#include "about_window/about_window_definition.h"
#include "update_dialog/update_dialog_definition.h"
#include "base/ini_file.h"
#include "i18n/language.h"
#include "i18n/translation.h"
#include "ui/application.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace merovane {
namespace {

std::wstring ShippedFile(std::wstring_view baseName)
{
    return (test::TestBinaryDir().parent_path() / L"bin" / L"Language" / (std::wstring(baseName) + L".ini")).wstring();
}

// The shipped language files against the program's four real windows.
TEST(ShippedLanguages, EachCoversEveryTextAndKeepsEveryKey)
{
    struct Case {
        const wchar_t* baseName;
        const wchar_t* languageName;
        const wchar_t* settingsCaption;
        const wchar_t* updateCaption;
        const wchar_t* closeToTray;
        const wchar_t* showNewIcons;
        const wchar_t* error;
    } cases[] = {
        {L"English", L"English", L"Settings", L"Update Merovane", L"Minimize to tray when closed",
         L"Show new icons automatically", L"Error"},
        {L"German", L"Deutsch", L"Einstellungen", L"Update Merovane", L"Beim Schlie\u00DFen in den Infobereich minimieren",
         L"Neue Symbole automatisch anzeigen", L"Fehler"},
        {L"Ukrainian", L"\u0423\u043A\u0440\u0430\u0457\u043D\u0441\u044C\u043A\u0430",
         L"\u041D\u0430\u043B\u0430\u0448\u0442\u0443\u0432\u0430\u043D\u043D\u044F",
         L"\u041E\u043D\u043E\u0432\u043B\u0435\u043D\u043D\u044F Merovane",
         L"\u0417\u0433\u043E\u0440\u0442\u0430\u0442\u0438 \u0432 \u0442\u0440\u0435\u0439 \u043F\u0456\u0434 "
         L"\u0447\u0430\u0441 \u0437\u0430\u043A\u0440\u0438\u0442\u0442\u044F",
         L"\u041F\u043E\u043A\u0430\u0437\u0443\u0432\u0430\u0442\u0438 \u043D\u043E\u0432\u0456 \u0437\u043D\u0430"
         L"\u0447\u043A\u0438 \u0430\u0432\u0442\u043E\u043C\u0430\u0442\u0438\u0447\u043D\u043E",
         L"\u041F\u043E\u043C\u0438\u043B\u043A\u0430"},
    };
    const IniFile english = IniFile::Load(ShippedFile(L"English"));
    for (const Case& c : cases) {
        SCOPED_TRACE(ToUtf8(c.baseName));
        test::LocaleFixture locale;
        const std::wstring shipped = ShippedFile(c.baseName);
        const std::wstring copy = locale.Paths().languageDirectory + c.baseName + L".ini";
        ASSERT_TRUE(::CopyFileW(shipped.c_str(), copy.c_str(), FALSE)) << ToUtf8(shipped);
        locale.SetActive(c.baseName);
        locale.CreateLog();

        const IniFile file = IniFile::Load(shipped);
        EXPECT_TRUE(file.Faithful());
        EXPECT_EQ(file.ReadString(L"Language information", L"LANGNAME"), c.languageName);
        // The same keys as English, icon names included.
        for (const std::wstring& section : english.SectionNames()) {
            EXPECT_EQ(file.SectionKeys(section), english.SectionKeys(section)) << ToUtf8(section);
        }

        ui::Form form1(MainWindowDefinition());
        ui::Form form8(AboutWindowDefinition());
        ui::Form form2(SettingsDialogDefinition());
        ui::Form form10(UpdateDialogDefinition());
        for (ui::Form* form : {&form1, &form8, &form2, &form10}) {
            form->Create();
        }

        // Nothing in it is stale: the start-up cleanup leaves it alone.
        EXPECT_FALSE(CleanLanguageFile(copy, ui::application::Forms()));
        EXPECT_EQ(test::ReadFileBytes(copy), test::ReadFileBytes(shipped));

        // Every text of every window has its entry: nothing reaches the log.
        Translator engine;
        for (ui::Form* form : {&form1, &form8, &form2, &form10}) {
            EXPECT_TRUE(engine.TranslateForm(*form, L"Merovane", locale.Paths()));
        }
        EXPECT_EQ(locale.LogLines(), std::vector<std::wstring>{});
        EXPECT_EQ(form2.Caption(), c.settingsCaption);
        EXPECT_EQ(form10.Caption(), c.updateCaption);
        EXPECT_EQ(form2.FindComponent(L"CheckBoxToTray")->Caption(), c.closeToTray);
        EXPECT_EQ(form2.FindComponent(L"RadioButtonViewNewOnly")->Caption(), c.showNewIcons);
        EXPECT_EQ(form1.FindComponent(L"LangError")->Caption(), c.error);
    }
}

} // namespace
} // namespace merovane
