// The window's life: the notification-area icon from start to exit, hiding
// to it and coming back; the settings file read at start, kept when
// unreadable, merged with what changed on disk, written at exit and at the
// end of the session; and the start-up checks.

#include "support/program_fixture.h"

#include "base/error.h"
#include "base/handles.h"
#include "core/app_rules.h"
#include "core/icon_store.h"
#include "base/ini_file.h"
#include "shell/program.h"
#include "base/settings_file.h"
#include "base/startup.h"
#include "support/dialogs.h"
#include "support/pictures.h"
#include "support/sandbox.h"
#include "ui/application.h"
#include "ui/component.h"
#include "ui/list_view.h"
#include "ui/menu.h"
#include "ui/messages.h"
#include "ui/tray_icon.h"

#include <gtest/gtest.h>

#include <commctrl.h>
#include <shellapi.h>

#include <sddl.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <thread>

namespace merovane {
namespace {

using test::Entry;
using test::kBase;
using test::SendTrayEvent;

class MainWindowLifeTest : public test::ProgramFixture {};

TEST_F(MainWindowLifeTest, AnUnwritableSettingsFileIsReportedAndTheProgramStillEnds)
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
        // What failed and what it means first, the system's reason below.
        const std::wstring first = L"Настройки не сохранены: не удалось записать файл «" + paths.settingsFile + L"».";
        EXPECT_EQ(answer.Text().substr(0, first.size() + 2), first + L"\r\n") << ToUtf8(answer.Text());
        EXPECT_GT(answer.Text().size(), first.size() + 2);
    }
    EXPECT_TRUE(ended);
}

TEST_F(MainWindowLifeTest, ALanguageChoiceThatCannotBeStoredSaysWhichFile)
{
    test::WriteFileBytes(paths.languageDirectory + L"English.ini", "[Language information]\r\nLANGNAME=English\r\n");
    Program& p = Start();
    auto& languages = p.Main().Get<ui::MenuItem>(L"LanguageMenu");
    ASSERT_EQ(languages.Items().size(), 1u);
    paths.settingsFile = temp / L"missing\\Option.ini";
    // The window shows what the click lets escape in its error box.
    try {
        languages.Items()[0]->Click();
        ADD_FAILURE() << "the failed save went unreported";
    } catch (const Error& error) {
        const std::wstring first = L"Настройки не сохранены: не удалось записать файл «" + paths.settingsFile + L"».";
        EXPECT_EQ(error.message().rfind(first + L"\r\n", 0), 0u) << ToUtf8(error.message());
    }
}

TEST_F(MainWindowLifeTest, SettingsAreReadBackAtTheNextStart)
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
    EXPECT_TRUE(p.Settings().Get<ui::CheckBox>(L"CheckBoxToTray").Checked());
    EXPECT_TRUE(p.Settings().Get<ui::RadioButton>(L"RadioButtonHideNew").Checked());
    EXPECT_FALSE(p.Settings().Get<ui::RadioButton>(L"RadioButtonViewNew").Checked());

    main.ShowAtStart();
    EXPECT_TRUE(::IsZoomed(main.Handle()));
    program->SaveOptions(Program::kSaveOnClose);
    const IniFile saved = IniFile::Load(paths.settingsFile);
    EXPECT_EQ(saved.ReadString(kOptionSection, option_key::Window, L""), L"wsMaximized");
    EXPECT_EQ(saved.ReadString(kOptionSection, option_key::Height, L""), L"10"); // left as it was
    EXPECT_EQ(saved.ReadString(kOptionSection, L"Unknown", L""), L"kept");
    EXPECT_EQ(saved.ReadString(L"Other", L"a", L""), L"b");
}

// The file changes under the running window (an import by the command
// line, a hand edit): a save writes what the window changed since it read
// the file, or since its last save, and keeps the rest as the file says.
TEST_F(MainWindowLifeTest, ASaveKeepsWhatChangedInTheFileMeanwhileExceptWhatTheWindowChanged)
{
    test::WriteFileBytes(paths.settingsFile, "[Option]\r\nThemeLight=1\r\nIconSmallMenu=1\r\nCheckBoxToTray=0\r\n");
    Program& p = Start();
    test::WriteFileBytes(paths.settingsFile, "[Option]\r\nThemeDark=1\r\nIconSmallMenu=1\r\nCheckBoxToTray=1\r\n"
                                             "RadioButtonHideNew=1\r\nCheckBoxAutoCheck=0\r\n");
    p.Main().Get<ui::MenuItem>(L"IconBigMenu").Click();
    program->SaveOptions(Program::kSaveOnClose);
    Options saved = ReadOptions(IniFile::Load(paths.settingsFile));
    EXPECT_EQ(saved.iconSize, IconSize::Large);             // the window's change
    EXPECT_EQ(saved.theme, ThemeChoice::Dark);              // the file's, not the Light read at start
    EXPECT_TRUE(saved.closeToTray);
    EXPECT_EQ(saved.newIconPolicy, NewIconPolicy::HideAll);
    EXPECT_FALSE(saved.checkForUpdatesAtStart);             // a group this save does not write

    // Saved once, the change is the window's no more: a later edit of the
    // file stays, and a new change of the window wins again.
    test::WriteFileBytes(paths.settingsFile, "[Option]\r\nThemeDark=1\r\nIconSmallMenu=1\r\n");
    p.Main().Get<ui::MenuItem>(L"ThemeAuto").Click();
    program->SaveOptions(Program::kSaveOnClose);
    saved = ReadOptions(IniFile::Load(paths.settingsFile));
    EXPECT_EQ(saved.iconSize, IconSize::Small);
    EXPECT_EQ(saved.theme, ThemeChoice::System);
    EXPECT_FALSE(saved.closeToTray);
}

// An import made while the window runs keeps its window size when the
// window closes, key by key: a size the window chose because the file gave
// none is not one the user set in it.
TEST_F(MainWindowLifeTest, AnImportedWindowSizeOutlivesTheRunningWindow)
{
    const std::string imported = "[Option]\r\nWindow=wsNormal\r\nWidth=900\r\nHeight=650\r\n";
    struct Case {
        const char* name;
        std::string atStart;
        bool resize; // the user resizes the window after the import
        const wchar_t* window;
        const wchar_t* width;
        const wchar_t* height;
    } cases[] = {
        {"the file had a width but no height", "[Option]\r\nWindow=wsNormal\r\nWidth=760\r\n", false, L"wsNormal",
         L"900", L"650"},
        {"the file had no size", "[Option]\r\nThemeDark=1\r\n", false, L"wsNormal", L"900", L"650"},
        {"the file had a size below the minimum", "[Option]\r\nWidth=10\r\nHeight=10\r\n", false, L"wsNormal",
         L"900", L"650"},
        {"started maximised", "[Option]\r\nWindow=wsMaximized\r\nWidth=760\r\n", false, L"wsNormal", L"900",
         L"650"},
        {"resized after the import: the window's size", "[Option]\r\nWidth=760\r\n", true, L"wsNormal", L"820",
         L"600"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::WriteFileBytes(paths.settingsFile, c.atStart);
        Program& p = Start();
        p.Main().ShowAtStart();
        test::WriteFileBytes(paths.settingsFile, imported);
        if (c.resize) {
            ::SetWindowPos(p.Main().Handle(), nullptr, 0, 0, 820, 600, SWP_NOMOVE | SWP_NOZORDER);
        }
        p.SaveOptions(Program::kSaveOnClose);
        const IniFile saved = IniFile::Load(paths.settingsFile);
        EXPECT_EQ(saved.ReadString(kOptionSection, option_key::Window, L""), c.window);
        EXPECT_EQ(saved.ReadString(kOptionSection, option_key::Width, L""), c.width);
        EXPECT_EQ(saved.ReadString(kOptionSection, option_key::Height, L""), c.height);
        program.reset();
        test::DrainQuit();
    }
}

// A save killed midway leaves its temporary file beside the settings or the
// rules; the next start takes it away, unless its process still runs.
TEST_F(MainWindowLifeTest, AStartRemovesWhatSavesThatNeverEndedLeft)
{
    const std::wstring ended = std::to_wstring(test::EndedProcessId());
    const std::wstring running = std::to_wstring(::GetCurrentProcessId());
    const std::wstring leftovers[] = {temp / (L"Option.ini." + ended + L"-0.tmp"),
                                      temp / (L"Rules.ini." + ended + L"-2.tmp")};
    const std::wstring kept[] = {temp / (L"Option.ini." + running + L"-0.tmp"), temp / L"Option.ini.bak.tmp",
                                 temp / (L"Notes.txt." + ended + L"-0.tmp")};
    for (const std::wstring& file : leftovers) {
        test::WriteFileBytes(file, "[Option]\r\n");
    }
    for (const std::wstring& file : kept) {
        test::WriteFileBytes(file, "[Option]\r\n");
    }
    Start();
    for (const std::wstring& file : leftovers) {
        EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(file))) << ToUtf8(file);
    }
    for (const std::wstring& file : kept) {
        EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(file))) << ToUtf8(file);
    }
}

// Read back as bytes: "unchanged" means every byte.
std::string FileBytes(const std::wstring& path)
{
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A settings file that exists but can't be read at start: the program starts
// with defaults, says so once, and writes none of its options over the file.
TEST_F(MainWindowLifeTest, AnUnreadableSettingsFileStartsWithDefaultsAndIsNeverWrittenOver)
{
    const std::string userOptions = "[Option]\r\nThemeDark=1\r\nHeight=800\r\nCheckBoxToTray=1\r\n";
    enum class Kind { Locked, Folder, Undecodable };
    struct Case {
        const char* name;
        Kind kind;
    } cases[] = {
        {"locked by another program", Kind::Locked},
        {"a folder of that name", Kind::Folder},
        // Invalid UTF-8 after the mark: what decodes is used, nothing is written back.
        {"bytes that do not decode", Kind::Undecodable},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        paths.settingsFile = temp / (std::wstring(c.name, c.name + 3) + L"\\Option.ini");
        std::filesystem::create_directories(std::filesystem::path(paths.settingsFile).parent_path());
        const std::string bytes = c.kind == Kind::Undecodable ? "\xEF\xBB\xBF" + userOptions + "Name=\xC3\x28\r\n" : userOptions;
        unique_handle lock;
        if (c.kind == Kind::Folder) {
            std::filesystem::create_directory(std::filesystem::path(paths.settingsFile));
        } else {
            test::WriteFileBytes(paths.settingsFile, bytes);
        }
        if (c.kind == Kind::Locked) {
            lock.reset(::CreateFileW(paths.settingsFile.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
            ASSERT_TRUE(lock);
        }
        {
            test::MessageBoxAnswer answer(IDOK);
            Program& p = Start();
            ASSERT_TRUE(answer.Answered());
            EXPECT_EQ(answer.Text().rfind(L"Не удалось прочитать файл настроек «" + paths.settingsFile + L"».", 0), 0u)
                << ToUtf8(answer.Text());
            EXPECT_NE(answer.Text().find(L"\r\n"), std::wstring::npos); // the system's text below
            EXPECT_EQ(p.Main().Get<ui::MenuItem>(L"ThemeDark").Checked(), c.kind == Kind::Undecodable);
        }
        lock.reset(); // readable again, and still not to be overwritten

        bool ended = false;
        program->Main().onTerminate = [&] { ended = true; };
        program->Main().Get<ui::MenuItem>(L"IconBigMenu").Click();
        program->Update().Close();
        program->Main().Get<ui::MenuItem>(L"CloseTrayMenu").Click();
        EXPECT_TRUE(ended);
        if (c.kind == Kind::Folder) {
            EXPECT_TRUE(std::filesystem::is_directory(std::filesystem::path(paths.settingsFile)));
        } else {
            EXPECT_EQ(FileBytes(paths.settingsFile), bytes);
        }
        program.reset();
        ui::application::SetStyle(ui::Style::System);
        test::DrainQuit();
    }
}

TEST_F(MainWindowLifeTest, AnExitDuringTheStartUpKeepsTheOptions)
{
    const std::string userOptions =
        "[Option]\r\nRadioButtonViewNew=1\r\nCheckBoxToTray=1\r\nCheckBoxAutoUpdateList=1\r\nThemeDark=1\r\n";
    test::WriteFileBytes(paths.settingsFile, userOptions);
    program = std::make_unique<Program>([this] { return paths; });
    program->SaveOptions(Program::kSaveOnClose); // nothing read yet: nothing written
    EXPECT_EQ(FileBytes(paths.settingsFile), userOptions);
    program.reset();

    Program& p = Start();
    const Options before = p.CurrentOptions();
    EXPECT_EQ(before.newIconPolicy, NewIconPolicy::ShowAll);
    p.SaveOptions(Program::kSaveOnClose);
    Options after = ReadOptions(IniFile::Load(paths.settingsFile));
    after.window = before.window;
    EXPECT_EQ(after, before);
    EXPECT_TRUE(after.closeToTray && after.refreshList && after.theme == ThemeChoice::Dark);
}

TEST_F(MainWindowLifeTest, TheEndOfTheSessionSavesTheSettingsAndEnds)
{
    // A logoff, and an installer closing the program through the Restart
    // Manager: both save and end the program, even with close-to-tray on.
    for (const LPARAM reason : {LPARAM{0}, LPARAM{ENDSESSION_CLOSEAPP}}) {
        SCOPED_TRACE(reason);
        test::WriteFileBytes(paths.settingsFile, "[Option]\r\nCheckBoxToTray=1\r\n");
        Program& p = Start();
        bool ended = false;
        p.Main().onTerminate = [&] { ended = true; };
        p.Main().Get<ui::MenuItem>(L"IconBigMenu").Click();
        EXPECT_EQ(::SendMessageW(p.Main().Handle(), WM_QUERYENDSESSION, 0, reason), TRUE);
        ::SendMessageW(p.Main().Handle(), WM_ENDSESSION, TRUE, reason);
        EXPECT_TRUE(ReadOption(IniFile::Load(paths.settingsFile), option_key::IconBigMenu));
        EXPECT_TRUE(ended);
        EXPECT_FALSE(p.Main().Get<ui::TrayIcon>(L"TrayIcon1").Added());
        program.reset();
        test::DrainQuit();
    }
}

// Placement, not the window rectangle: a minimised window's rectangle is the
// icon's.
TEST_F(MainWindowLifeTest, AMinimisedWindowSavesItsRestoredSizeAndState)
{
    Program& p = Start();
    HWND window = p.Main().Handle();
    p.Main().Show();
    ::SetWindowPos(window, nullptr, 0, 0, 900, 700, SWP_NOMOVE | SWP_NOZORDER);
    ::ShowWindow(window, SW_MINIMIZE);
    p.SaveOptions(Program::kSaveOnClose);
    IniFile saved = IniFile::Load(paths.settingsFile);
    EXPECT_EQ(saved.ReadString(kOptionSection, option_key::Window, L""), L"wsNormal");
    EXPECT_EQ(saved.ReadString(kOptionSection, option_key::Width, L""), L"900");
    EXPECT_EQ(saved.ReadString(kOptionSection, option_key::Height, L""), L"700");

    ::ShowWindow(window, SW_RESTORE);
    ::ShowWindow(window, SW_MAXIMIZE);
    ::ShowWindow(window, SW_MINIMIZE);
    p.SaveOptions(Program::kSaveOnClose);
    saved = IniFile::Load(paths.settingsFile);
    EXPECT_EQ(saved.ReadString(kOptionSection, option_key::Window, L""), L"wsMaximized");
    EXPECT_EQ(saved.ReadString(kOptionSection, option_key::Width, L""), L"900");
}

TEST(Startup, AnotherInstanceIsSeenThroughAMutexItMayOnlyWaitOn)
{
    // An elevated copy's mutex: a normal start may wait on it, nothing more.
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:(A;;0x00100000;;;WD)", SDDL_REVISION_1,
                                                                       &descriptor, nullptr));
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor, FALSE};
    unique_handle elevated(::CreateMutexW(&attributes, FALSE, L"Merovane"));
    ::LocalFree(descriptor);
    ASSERT_TRUE(elevated);
    EXPECT_TRUE(IsAnotherInstanceRunning());
    elevated.reset();

    EXPECT_FALSE(IsAnotherInstanceRunning()); // the first copy: it takes the mutex
    EXPECT_TRUE(IsAnotherInstanceRunning());
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

TEST_F(MainWindowLifeTest, TheTrayIconLivesFromStartToExit)
{
    Program& p = Start();
    auto& tray = p.Main().Get<ui::TrayIcon>(L"TrayIcon1");
    EXPECT_TRUE(tray.Added());
    EXPECT_EQ(tray.Hint(), L"Merovane"); // until the pointer first moves over it
    SendTrayEvent(p, WM_MOUSEMOVE);
    // The test executable has no version resource: an empty description and version.
    EXPECT_EQ(tray.Hint(), L"\r " + ArchitectureLabel());

    // Explorer restarted: the icon went with the old taskbar and is added to
    // the new one.
    NOTIFYICONDATAW gone{};
    gone.cbSize = sizeof(gone);
    gone.hWnd = p.Main().Handle();
    gone.uID = 1;
    ASSERT_TRUE(::Shell_NotifyIconW(NIM_DELETE, &gone));
    ::SendMessageW(p.Main().Handle(), ::RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
    EXPECT_TRUE(::Shell_NotifyIconW(NIM_MODIFY, &gone)); // there again
    EXPECT_TRUE(tray.Added());

    p.Main().onTerminate = [] {};
    p.Main().Get<ui::MenuItem>(L"CloseTrayMenu").Click();
    EXPECT_FALSE(tray.Added());
    EXPECT_FALSE(::IsWindow(p.Main().Handle()));
}

// Every way back from the notification area gives the window its taskbar
// button and the maximised state it was saved with.
TEST_F(MainWindowLifeTest, TheWindowComesBackFromTheTrayAsItWasStored)
{
    test::WriteFileBytes(paths.settingsFile, "[Option]\r\nCheckBoxAutostartToTray=1\r\nWindow=wsMaximized\r\n");
    Program& p = Start();
    HWND window = p.Main().Handle();
    p.Main().ShowAtStart();
    ASSERT_FALSE(::IsWindowVisible(window));
    // An exit before the first showing keeps the maximised state.
    p.SaveOptions(Program::kSaveOnClose);
    EXPECT_EQ(IniFile::Load(paths.settingsFile).ReadString(kOptionSection, option_key::Window, L""), L"wsMaximized");

    const auto toolWindow = [window] { return (::GetWindowLongPtrW(window, GWL_EXSTYLE) & WS_EX_TOOLWINDOW) != 0; };
    p.Main().Get<ui::MenuItem>(L"ShowMainFormTrayMenu").Click();
    EXPECT_TRUE(::IsWindowVisible(window));
    EXPECT_TRUE(::IsZoomed(window));
    EXPECT_FALSE(toolWindow());

    // Enter or Space on the icon opens the window; the NIN_SELECT that follows
    // every left click does not.
    struct Case {
        const char* name;
        std::vector<LPARAM> events;
        bool shown;
    } cases[] = {
        {"keyboard", {NIN_KEYSELECT}, true},
        {"mouse click", {WM_LBUTTONDOWN, WM_LBUTTONUP, NIN_SELECT}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        p.Main().HideToTray();
        for (const LPARAM event : c.events) {
            ::SendMessageW(window, ui::WM_APP_TRAYICON, 0, event);
        }
        EXPECT_EQ(::IsWindowVisible(window) != FALSE, c.shown);
        if (c.shown) {
            EXPECT_FALSE(toolWindow());
        }
    }
}

// The menu opened on the tray icon, by the mouse or the keyboard, is the
// tray's, whatever opened the menu before.
TEST_F(MainWindowLifeTest, TheTrayIconsMenuHasTheTrayItemsHoweverItWasOpened)
{
    Program& p = Start();
    p.Main().Show();
    // The button opened it last.
    std::thread escape = test::PressEscapeSoon();
    p.Main().Get<ui::SpeedButton>(L"SpeedButton_GeneralMenu").Click();
    escape.join();
    ASSERT_TRUE(p.Main().Get<ui::MenuItem>(L"DelOldIconMenu").Visible());

    // Shift+F10 or the menu key on the icon: a context-menu event (or, from a
    // taskbar of the older kind, a right button release).
    escape = test::PressEscapeSoon();
    SendTrayEvent(p, WM_CONTEXTMENU);
    SendTrayEvent(p, WM_RBUTTONUP);
    escape.join();
    EXPECT_TRUE(p.Main().Get<ui::MenuItem>(L"CloseTrayMenu").Visible());
    EXPECT_TRUE(p.Main().Get<ui::MenuItem>(L"ShowMainFormTrayMenu").Visible());
    EXPECT_FALSE(p.Main().Get<ui::MenuItem>(L"DelOldIconMenu").Visible());
}

TEST_F(MainWindowLifeTest, MinimiseAndCloseFollowTheCloseToTrayOption)
{
    Program& p = Start();
    p.Main().Show();
    HWND window = p.Main().Handle();

    // Minimising always hides to the notification area.
    ::SendMessageW(window, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    EXPECT_FALSE(::IsWindowVisible(window));
    EXPECT_NE(::GetWindowLongPtrW(window, GWL_EXSTYLE) & WS_EX_TOOLWINDOW, 0);
    SendTrayEvent(p, WM_LBUTTONDBLCLK); // back, with its taskbar button
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

TEST_F(MainWindowLifeTest, StartingToTheTrayShowsNothing)
{
    test::WriteFileBytes(paths.settingsFile, "[Option]\r\nCheckBoxAutostartToTray=1\r\n");
    Program& p = Start();
    p.Main().ShowAtStart();
    EXPECT_FALSE(::IsWindowVisible(p.Main().Handle()));
    EXPECT_NE(::GetWindowLongPtrW(p.Main().Handle(), GWL_EXSTYLE) & WS_EX_TOOLWINDOW, 0);
    EXPECT_EQ(StatusText(), L"Элементов: 0");
}

} // namespace
} // namespace merovane
