#include "program_fixture.h"

#include "core/error.h"
#include "core/icon_store.h"
#include "i18n/ini_file.h"
#include "shell/program.h"
#include "shell/settings_file.h"
#include "shell/startup.h"
#include "support/dialogs.h"
#include "support/sandbox.h"
#include "ui/application.h"
#include "ui/component.h"
#include "ui/list_view.h"
#include "ui/menu.h"
#include "ui/tray_icon.h"

#include <gtest/gtest.h>

#include <commctrl.h>

#include <filesystem>

namespace merovane {
namespace {

using test::Entry;
using test::kBase;

class MainWindowTest : public test::ProgramFixture {};

// A small notification area: a system icon, a program with a version
// resource, one whose executable is gone, and an entry with no values.
void WriteEntries()
{
    test::SetRegString(Entry(L"100"), L"IconGuid", L"{7820AE73-23E3-4229-82C1-E41CB67D5B9C}");
    test::SetRegDword(Entry(L"100"), L"IsPromoted", 1);
    test::SetRegString(Entry(L"200"), L"ExecutablePath", test::FixturePath(L"full.exe"));
    test::SetRegDword(Entry(L"200"), L"IsPromoted", 0);
    test::SetRegString(Entry(L"300"), L"ExecutablePath", L"C:\\nowhere\\gone.exe");
    test::SetRegString(Entry(L"300"), L"Publisher", L"Gone Inc");
    test::SetRegDword(Entry(L"300"), L"IsPromoted", 1);
    test::CreateRegKey(Entry(L"400"));
}

TEST_F(MainWindowTest, ShowingTheWindowLoadsAndSortsTheEntries)
{
    WriteEntries();
    Program& p = Start();
    EXPECT_EQ(list->RowCount(), 0); // nothing is read before the window shows
    EXPECT_EQ(StatusText(), L"Элементов: 0");

    p.Main().Show();
    EXPECT_EQ(Captions(), (std::vector<std::wstring>{L"Gone Inc [x]", L"Питание/Батарея [x]", L"400",
                                                     L"Fixture Tool"}));
    EXPECT_EQ(StatusText(), L"Элементов: 4");
    const ui::ListRow& program = list->Row(RowOf(L"200"));
    EXPECT_EQ(program.subItems,
              (std::vector<std::wstring>{L"Fixture Company", test::FixturePath(L"full.exe"), L"200", L"False"}));
    EXPECT_EQ(list->Row(RowOf(L"400")).subItems, (std::vector<std::wstring>{L"", L"", L"400", L"False"}));

    // Every showing reads the registry again.
    test::CreateRegKey(Entry(L"500"));
    p.Main().HideToTray();
    p.Main().Show();
    EXPECT_EQ(list->RowCount(), 5);
}

TEST_F(MainWindowTest, ABrokenEntryShowsUntickedAndTheLoadGoesOn)
{
    test::SetRegDword(Entry(L"1"), L"IsPromoted", 1);
    test::SetRegString(Entry(L"2"), L"IsPromoted", L"1");
    test::SetRegDword(Entry(L"3"), L"IsPromoted", 1);
    Program& p = Start();
    p.Main().Show();
    EXPECT_EQ(Captions(), (std::vector<std::wstring>{L"1 [x]", L"3 [x]", L"2"}));
    EXPECT_EQ(StatusText(), L"Элементов: 3");
    EXPECT_EQ(test::GetRegRaw(Entry(L"2"), L"IsPromoted").type, DWORD{REG_SZ}); // nothing was changed
}

TEST_F(MainWindowTest, TickingAndUntickingWritesIsPromoted)
{
    WriteEntries();
    Program& p = Start();
    p.Main().Show();
    const int row = RowOf(L"200");
    ListView_SetCheckState(list->Handle(), row, TRUE); // what a click or the space bar does
    EXPECT_EQ(test::GetRegDword(Entry(L"200"), L"IsPromoted"), 1);
    EXPECT_EQ(list->Row(row).subItems[3], L"True");
    ListView_SetCheckState(list->Handle(), row, FALSE);
    EXPECT_EQ(test::GetRegDword(Entry(L"200"), L"IsPromoted"), 0);
    EXPECT_EQ(list->Row(row).subItems[3], L"False");

    // Hide all, then show all: only rows that change are written.
    const FILETIME before = test::RegLastWrite(Entry(L"400"));
    ::Sleep(30);
    p.Main().Get<ui::MenuItem>(L"HideAllMenu").Click();
    EXPECT_EQ(test::GetRegDword(Entry(L"100"), L"IsPromoted"), 0);
    EXPECT_EQ(test::GetRegDword(Entry(L"300"), L"IsPromoted"), 0);
    EXPECT_EQ(test::GetRegDword(Entry(L"400"), L"IsPromoted"), -1); // unchecked already: untouched
    const FILETIME after = test::RegLastWrite(Entry(L"400"));
    EXPECT_EQ(::CompareFileTime(&before, &after), 0);
    p.Main().Get<ui::MenuItem>(L"ShowAllMenu").Click();
    for (const wchar_t* key : {L"100", L"200", L"300", L"400"}) {
        EXPECT_EQ(test::GetRegDword(Entry(key), L"IsPromoted"), 1) << ToUtf8(key);
    }
}

TEST_F(MainWindowTest, DeleteAsksFirstAndNoChangesNothing)
{
    test::SetRegString(Entry(L"700"), L"Publisher", L"50% \"off\" & more");
    test::SetRegString(Entry(L"700\\Sub"), L"x", L"y");
    test::CreateRegKey(Entry(L"800"));
    Program& p = Start();
    p.Main().Show();

    list->Select(-1);
    p.Main().DeleteIconMenuClick(); // nothing selected: no question
    EXPECT_EQ(list->RowCount(), 2);

    list->Select(RowOf(L"700"));
    {
        test::MessageBoxAnswer answer(IDNO);
        p.Main().DeleteIconMenuClick();
        ASSERT_TRUE(answer.Answered());
        EXPECT_EQ(answer.Text(), L"Вы уверены, что хотите удалить ключ реестра?\r\n\"50% \"off\" & more\"?");
    }
    EXPECT_TRUE(test::RegKeyExists(Entry(L"700")));
    EXPECT_EQ(list->RowCount(), 2);

    {
        test::MessageBoxAnswer answer(IDYES);
        // The Delete key in the list does the same.
        ::SendMessageW(list->Handle(), WM_KEYDOWN, VK_DELETE, 0);
        ASSERT_TRUE(answer.Answered());
    }
    EXPECT_FALSE(test::RegKeyExists(Entry(L"700")));
    EXPECT_EQ(Captions(), (std::vector<std::wstring>{L"800"}));
}

TEST_F(MainWindowTest, CleanupsReloadOnlyWhenTheyDeletedSomething)
{
    test::SetRegString(Entry(L"1"), L"ExecutablePath", test::FixturePath(L"full.exe"));
    test::SetRegString(Entry(L"2"), L"ExecutablePath", L"C:\\nowhere\\gone.exe");
    Program& p = Start();
    p.Main().Show();
    ASSERT_EQ(list->RowCount(), 2);

    test::CreateRegKey(Entry(L"3")); // appears after the load
    p.Main().DelOldIconMenuClick(); // no duplicates: nothing deleted, no reload
    EXPECT_EQ(list->RowCount(), 2);

    p.Main().DelNonExistentFilesMenuClick();
    EXPECT_FALSE(test::RegKeyExists(Entry(L"2")));
    EXPECT_EQ(list->RowCount(), 2); // reloaded: "1" and the new "3"
    EXPECT_GE(RowOf(L"3"), 0);
}

TEST_F(MainWindowTest, TheMenuButtonMarksItselfUntilReleased)
{
    Program& p = Start();
    p.Main().Show();
    // The general menu opens from the button; Escape dismisses it.
    std::thread escape([] {
        ::Sleep(300);
        INPUT keys[2]{};
        keys[0].type = keys[1].type = INPUT_KEYBOARD;
        keys[0].ki.wVk = keys[1].ki.wVk = VK_ESCAPE;
        keys[1].ki.dwFlags = KEYEVENTF_KEYUP;
        ::SendInput(2, keys, sizeof(INPUT));
    });
    p.Main().SpeedButton_GeneralMenuClick();
    escape.join();
    EXPECT_TRUE(p.Main().MenuButtonMarked());
    auto& menu = p.Main();
    EXPECT_TRUE(menu.Get<ui::MenuItem>(L"ViewMenu").Visible());
    EXPECT_FALSE(menu.Get<ui::MenuItem>(L"CloseTrayMenu").Visible());
    EXPECT_FALSE(menu.Get<ui::MenuItem>(L"Name").Visible());

    p.Main().SpeedButton_GeneralMenuClick(); // only releases
    EXPECT_FALSE(p.Main().MenuButtonMarked());

    // The icon's opening shows the other set.
    p.Main().TrayIcon1MouseMove();
    EXPECT_FALSE(menu.Get<ui::MenuItem>(L"ViewMenu").Visible());
    EXPECT_TRUE(menu.Get<ui::MenuItem>(L"CloseTrayMenu").Visible());
    EXPECT_TRUE(menu.Get<ui::MenuItem>(L"ShowMainFormTrayMenu").Visible());
}

TEST_F(MainWindowTest, MinimiseAndCloseFollowTheCloseToTrayOption)
{
    Program& p = Start();
    p.Main().Show();
    HWND window = p.Main().Handle();

    // Minimising always hides to the notification area.
    ::SendMessageW(window, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    EXPECT_FALSE(::IsWindowVisible(window));
    EXPECT_NE(::GetWindowLongPtrW(window, GWL_EXSTYLE) & WS_EX_TOOLWINDOW, 0);
    p.Main().TrayIcon1DblClick(); // back, with its taskbar button
    EXPECT_TRUE(::IsWindowVisible(window));
    EXPECT_EQ(::GetWindowLongPtrW(window, GWL_EXSTYLE) & WS_EX_TOOLWINDOW, 0);

    // With close-to-tray the window hides and the settings are already saved.
    p.Settings().Get<ui::CheckBox>(L"CheckBoxToTray").SetChecked(true);
    p.Main().Get<ui::MenuItem>(L"IconBigMenu").Click();
    ::SendMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_TRUE(::IsWindow(window));
    EXPECT_FALSE(::IsWindowVisible(window));
    const IniFile saved = IniFile::Load(paths.settingsFile);
    EXPECT_TRUE(ReadOption(saved, option_key::CheckBoxToTray));
    EXPECT_TRUE(ReadOption(saved, option_key::IconBigMenu));
    EXPECT_FALSE(ReadOption(saved, option_key::IconSmallMenu));
    EXPECT_EQ(saved.ReadString(kOptionSection, option_key::Window, L""), L"wsNormal");
    EXPECT_TRUE(ReadOption(saved, option_key::CheckBoxQuickUpdate));

    // Without it, closing ends the program.
    bool ended = false;
    p.Main().onTerminate = [&] { ended = true; };
    p.Settings().Get<ui::CheckBox>(L"CheckBoxToTray").SetChecked(false);
    ::SendMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_TRUE(ended);
    EXPECT_FALSE(::IsWindow(window));
    EXPECT_FALSE(ReadOption(IniFile::Load(paths.settingsFile), option_key::CheckBoxToTray));
}

TEST_F(MainWindowTest, AnUnwritableSettingsFileIsReportedAndTheProgramStillEnds)
{
    paths.settingsFile = temp / L"missing\\Option.ini";
    Program& p = Start();
    p.Main().Show();
    bool ended = false;
    p.Main().onTerminate = [&] { ended = true; };
    {
        test::MessageBoxAnswer answer(IDOK);
        ::SendMessageW(p.Main().Handle(), WM_CLOSE, 0, 0);
        ASSERT_TRUE(answer.Answered());
    }
    EXPECT_TRUE(ended);
}

TEST_F(MainWindowTest, TheTrayIconLivesFromStartToExit)
{
    Program& p = Start();
    auto& tray = p.Main().Get<ui::TrayIcon>(L"TrayIcon1");
    EXPECT_TRUE(tray.Added());
    EXPECT_EQ(tray.Hint(), L"Merovane"); // until the pointer first moves over it
    p.Main().TrayIcon1MouseMove();
    // The test executable has no version resource: an empty description and version.
    EXPECT_EQ(tray.Hint(), L"\r " + ArchitectureLabel());

    // Explorer restarted: the icon is added to the new taskbar.
    tray.Remove();
    ::SendMessageW(p.Main().Handle(), ::RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
    EXPECT_TRUE(tray.Added());

    p.Main().onTerminate = [] {};
    p.Main().Get<ui::MenuItem>(L"CloseTrayMenu").Click();
    EXPECT_FALSE(tray.Added());
    EXPECT_FALSE(::IsWindow(p.Main().Handle()));
}

TEST_F(MainWindowTest, SettingsAreReadBackAtTheNextStart)
{
    test::WriteFileBytes(paths.settingsFile, "[Option]\r\nIconSmallMenu=1\r\nIconBigMenu=1\r\nThemeLight=1\r\n"
                                             "ThemeDark=1\r\nCheckBoxToTray=0x1\r\nRadioButtonViewNew=1\r\n"
                                             "RadioButtonHideNew=1\r\nWindow=wsMaximized\r\nHeight=10\r\n"
                                             "Unknown=kept\r\n[Other]\r\na=b\r\n");
    Program& p = Start();
    auto& main = p.Main();
    EXPECT_TRUE(main.Get<ui::MenuItem>(L"IconBigMenu").Checked());
    EXPECT_FALSE(main.Get<ui::MenuItem>(L"IconSmallMenu").Checked());
    EXPECT_TRUE(main.Get<ui::MenuItem>(L"ThemeDark").Checked());
    EXPECT_FALSE(main.Get<ui::MenuItem>(L"ThemeLight").Checked());
    EXPECT_TRUE(p.Settings().Checked(L"CheckBoxToTray"));
    EXPECT_TRUE(p.Settings().Checked(L"RadioButtonHideNew"));
    EXPECT_FALSE(p.Settings().Checked(L"RadioButtonViewNew"));

    main.ShowAtStart();
    EXPECT_TRUE(::IsZoomed(main.Handle()));
    main.SaveNastr();
    const IniFile saved = IniFile::Load(paths.settingsFile);
    EXPECT_EQ(saved.ReadString(kOptionSection, option_key::Window, L""), L"wsMaximized");
    EXPECT_EQ(saved.ReadString(kOptionSection, option_key::Height, L""), L"10"); // left as it was
    EXPECT_EQ(saved.ReadString(kOptionSection, L"Unknown", L""), L"kept");
    EXPECT_EQ(saved.ReadString(L"Other", L"a", L""), L"b");
}

TEST_F(MainWindowTest, StartingToTheTrayShowsNothing)
{
    test::WriteFileBytes(paths.settingsFile, "[Option]\r\nCheckBoxAutostartToTray=1\r\n");
    Program& p = Start();
    p.Main().ShowAtStart();
    EXPECT_FALSE(::IsWindowVisible(p.Main().Handle()));
    EXPECT_NE(::GetWindowLongPtrW(p.Main().Handle(), GWL_EXSTYLE) & WS_EX_TOOLWINDOW, 0);
    EXPECT_EQ(StatusText(), L"Элементов: 0");
}

TEST_F(MainWindowTest, F1OpensTheAboutWindow)
{
    Program& p = Start();
    p.Main().Show();
    test::WindowCloser closer(L"TForm8");
    ::PostMessageW(list->Handle(), WM_KEYDOWN, VK_F1, 0);
    ui::application::ProcessMessages(); // runs the About window's modal loop until it is closed
    EXPECT_TRUE(closer.Closed());
    EXPECT_EQ(p.About().Get<ui::Label>(L"LabelVersion").Caption(), p.Main().Caption());
}

TEST(Startup, Windows11IsMajorTenFromBuild22000)
{
    struct Case {
        DWORD major;
        DWORD build;
        bool expected;
    } cases[] = {{10, 22000, true}, {10, 22631, true}, {10, 21999, false}, {6, 30000, false}, {11, 22000, false}};
    for (const Case& c : cases) {
        EXPECT_EQ(IsWindows11Version(c.major, c.build), c.expected) << c.major << "." << c.build;
    }
    EXPECT_TRUE(IsWindows11()); // the test prefix reports build 22631
}

TEST(Startup, CaptionCarriesVersionBitnessAndPortable)
{
    EXPECT_EQ(MainWindowCaption(L"Merovane", L"1.9.26.312", L"(64-bit)", false), L"Merovane 1.9.26.312 (64-bit)");
    EXPECT_EQ(MainWindowCaption(L"Merovane", L"", L"(32-bit)", true), L"Merovane  (32-bit) Portable");
    EXPECT_EQ(ArchitectureLabel(), sizeof(void*) == 8 ? L"(64-bit)" : L"(32-bit)");
}

} // namespace
} // namespace merovane
