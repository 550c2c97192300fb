// The settings, About and update windows are made the first time they are
// needed, not at start; made later, they still speak the language chosen
// (also one chosen since the start) and show the options.

#include "support/program_fixture.h"

#include "ui/menu.h"

#include <algorithm>
#include <fstream>
#include <iterator>

namespace merovane {
namespace {

class LaterWindowsTest : public test::ProgramFixture {
protected:
    // Whether the window of that name exists yet, without asking the
    // program for it (which would make it).
    static bool Made(std::wstring_view name)
    {
        const auto& forms = ui::application::Forms();
        return std::any_of(forms.begin(), forms.end(),
                           [&](const ui::Form* form) { return form->Name() == name && form->Handle() != nullptr; });
    }
    static std::string FileText(const std::wstring& path)
    {
        std::ifstream in(std::filesystem::path(path), std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    static std::string Translation(const std::string& word)
    {
        return "[Language information]\r\nLANGNAME=" + word + "\r\n[Merovane]\r\nForm2.Caption=" + word +
               " settings\r\nForm2.CheckBoxToTray.Caption=" + word + " to tray\r\nForm8.Caption=" + word +
               " about\r\nForm10.Caption=" + word + " update\r\n";
    }
};

TEST_F(LaterWindowsTest, AreMadeWhenFirstAskedForWithTheLanguageAndTheOptions)
{
    const std::wstring english = paths.languageDirectory + L"English.ini";
    const std::wstring german = paths.languageDirectory + L"German.ini";
    // A stale key, so the cleanup at start has something to do.
    test::WriteFileBytes(english, Translation("English") + "Form2.Gone.Caption=x\r\n");
    test::WriteFileBytes(german, Translation("German"));
    test::WriteFileBytes(paths.settingsFile, "[Option]\r\nCheckBoxToTray=1\r\nCheckBoxAutoCheck=0\r\n"
                                             "[Language]\r\nLanguage=English\r\n");
    Program& p = Start();
    for (const wchar_t* name : {L"Form2", L"Form8", L"Form10"}) {
        EXPECT_FALSE(Made(name)) << ToUtf8(name);
    }
    // The cleanup knows the windows not made yet by their definitions.
    const std::string cleaned = FileText(english);
    EXPECT_EQ(cleaned.find("Form2.Gone"), std::string::npos);
    for (const char* key : {"Form2.Caption", "Form2.CheckBoxToTray.Caption", "Form8.Caption", "Form10.Caption"}) {
        EXPECT_NE(cleaned.find(key), std::string::npos) << key;
    }

    EXPECT_EQ(p.Settings().Caption(), L"English settings");
    EXPECT_TRUE(Made(L"Form2"));
    EXPECT_EQ(p.Settings().Get<ui::CheckBox>(L"CheckBoxToTray").Caption(), L"English to tray");
    EXPECT_TRUE(p.Settings().Get<ui::CheckBox>(L"CheckBoxToTray").Checked());
    EXPECT_EQ(p.About().Caption(), L"English about");

    // A language chosen since the start reaches the windows made before and after.
    auto& languages = p.Main().Get<ui::MenuItem>(L"LanguageMenu");
    ASSERT_EQ(languages.Items().size(), 2u);
    languages.Items()[1]->Click();
    EXPECT_EQ(p.Settings().Caption(), L"German settings");
    EXPECT_EQ(p.About().Caption(), L"German about");
    EXPECT_FALSE(Made(L"Form10"));
    EXPECT_EQ(p.Update().Caption().rfind(L"German update", 0), 0u) << ToUtf8(p.Update().Caption());
}

// The check at start needs the update window: it is made, and the check
// started, once the main window has painted, not before it shows.
TEST_F(LaterWindowsTest, TheCheckAtStartWaitsUntilTheMainWindowHasPainted)
{
    // Servers that refuse at once: the check fails silently.
    test::WriteFileBytes(paths.settingsFile, "[Option]\r\nCheckBoxAutoCheck=1\r\n[Update]\r\n"
                                             "PrimaryServer=http://127.0.0.1:1/\r\nFallbackServer=http://127.0.0.1:1/\r\n");
    Program& p = Start();
    EXPECT_FALSE(Made(L"Form10"));
    p.Main().Show();
    ::UpdateWindow(p.Main().Handle());
    EXPECT_FALSE(Made(L"Form10"));
    for (int i = 0; i < 200 && !Made(L"Form10"); ++i) {
        ui::application::ProcessMessages();
        ::Sleep(5);
    }
    EXPECT_TRUE(Made(L"Form10"));
    EXPECT_FALSE(::IsWindowVisible(p.Update().Handle()));
}

// The options are in effect from the start; the dialog made later shows them
// and applies nothing again (a policy applied again would run a full pass).
TEST_F(LaterWindowsTest, TheSettingsDialogMadeLaterShowsThePolicyWithoutApplyingItAgain)
{
    test::SetRegDword(test::Entry(L"hidden"), L"IsPromoted", 0);
    test::WriteFileBytes(paths.settingsFile,
                         "[Option]\r\nCheckBoxAutoUpdateList=1\r\nRadioButtonViewNew=1\r\nCheckBoxAutoCheck=0\r\n");
    Program& p = Start();
    ASSERT_TRUE(p.Main().Refresh().Running());
    ASSERT_TRUE(p.Main().Refresh().WaitUntilQuiet());
    EXPECT_EQ(test::GetRegDword(test::Entry(L"hidden"), L"IsPromoted"), 1);
    const int passes = p.Main().Refresh().PassCount();

    EXPECT_TRUE(p.Settings().Get<ui::CheckBox>(L"CheckBoxAutoUpdateList").Checked());
    EXPECT_TRUE(p.Settings().Get<ui::RadioButton>(L"RadioButtonViewNew").Checked());
    ASSERT_TRUE(p.Main().Refresh().WaitUntilQuiet());
    EXPECT_EQ(p.Main().Refresh().PassCount(), passes);
    EXPECT_TRUE(p.Main().Refresh().Running());
}

} // namespace
} // namespace merovane
