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

// The shipped English file against the program's four real windows.
TEST(EnglishLanguage, CoversEveryTextAndKeepsEveryKey)
{
    test::LocaleFixture locale;
    const std::wstring shipped = (test::TestBinaryDir().parent_path() / L"bin" / L"Language" / L"English.ini").wstring();
    const std::wstring copy = locale.Paths().languageDirectory + L"English.ini";
    ASSERT_TRUE(::CopyFileW(shipped.c_str(), copy.c_str(), FALSE)) << ToUtf8(shipped);
    locale.SetActive(L"English");
    locale.CreateLog();

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
    EXPECT_EQ(form2.Caption(), L"Settings");
    EXPECT_EQ(form10.Caption(), L"Update Merovane");
    EXPECT_EQ(form2.FindComponent(L"CheckBoxToTray")->Caption(), L"Minimize to tray when closed");
    EXPECT_EQ(form1.FindComponent(L"LangError")->Caption(), L"Error");
}

} // namespace
} // namespace merovane
