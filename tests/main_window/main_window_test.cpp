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
    EXPECT_EQ(program.subItems, (std::vector<std::wstring>{L"Fixture Company", test::FixturePath(L"full.exe")}));
    EXPECT_FALSE(EntryOf(RowOf(L"200")).promoted);
    EXPECT_EQ(list->Row(RowOf(L"400")).subItems, (std::vector<std::wstring>{L"", L""}));

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
    EXPECT_TRUE(EntryOf(row).promoted);
    ListView_SetCheckState(list->Handle(), row, FALSE);
    EXPECT_EQ(test::GetRegDword(Entry(L"200"), L"IsPromoted"), 0);
    EXPECT_FALSE(EntryOf(row).promoted);

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

// Two entries of one app (a second path of the same executable, as an older
// entry Explorer kept), and an entry that names no app.
void WriteEntriesOfOneApp()
{
    test::SetRegString(Entry(L"200"), L"ExecutablePath", test::FixturePath(L"full.exe"));
    test::SetRegDword(Entry(L"200"), L"IsPromoted", 1);
    test::SetRegString(Entry(L"210"), L"ExecutablePath", test::FixturePath(L"full.exe"));
    test::SetRegDword(Entry(L"210"), L"IsPromoted", 1);
    test::CreateRegKey(Entry(L"400"));
}

std::optional<RuleAction> RuleOfFixtureTool(const std::wstring& rulesFile)
{
    return LoadRules(rulesFile).ActionFor(*IdentifyApp(test::FixturePath(L"full.exe"), L"Fixture Company", L""));
}

TEST_F(MainWindowTest, ARuleChosenInEitherMenuIsSavedShownAndAppliedToEveryRowOfTheApp)
{
    WriteEntriesOfOneApp();
    const std::wstring rulesFile = RulesPathBeside(paths.settingsFile);
    Program& p = Start();
    p.Main().Show();
    auto& entryMenu = p.Main().Get<ui::PopupMenu>(L"PopupMenuIcon");
    auto item = [&](std::wstring_view name) -> ui::MenuItem& { return p.Main().Get<ui::MenuItem>(name); };

    // Checked as the selected row's rule says; no app, nothing to choose.
    list->Select(RowOf(L"400"));
    entryMenu.onPopup();
    for (const wchar_t* name : {L"AlwaysShowAppMenu", L"AlwaysHideAppMenu", L"NoRuleMenu"}) {
        EXPECT_FALSE(item(name).Enabled()) << ToUtf8(name);
    }
    list->Select(RowOf(L"200"));
    entryMenu.onPopup();
    EXPECT_TRUE(item(L"NoRuleMenu").Enabled());
    EXPECT_TRUE(item(L"NoRuleMenu").Checked());
    EXPECT_FALSE(item(L"AlwaysHideAppMenu").Checked());

    item(L"AlwaysHideAppMenu").Click();
    EXPECT_EQ(RuleOfFixtureTool(rulesFile), RuleAction::Hide);
    for (const wchar_t* key : {L"200", L"210"}) {
        const int row = RowOf(key);
        EXPECT_EQ(list->Row(row).caption, L"Fixture Tool (правило: скрывать)") << ToUtf8(key);
        EXPECT_FALSE(list->Row(row).checked) << ToUtf8(key);
        EXPECT_EQ(test::GetRegDword(Entry(key), L"IsPromoted"), 0) << ToUtf8(key); // at once, no policy needed
    }
    EXPECT_EQ(list->Row(RowOf(L"400")).caption, L"400");
    list->Select(RowOf(L"210"));
    entryMenu.onPopup();
    EXPECT_TRUE(item(L"AlwaysHideAppMenu").Checked());
    EXPECT_FALSE(item(L"NoRuleMenu").Checked());

    // The general menu's items do the same for the selected row.
    item(L"AlwaysShowAppGeneralMenu").Click();
    ASSERT_TRUE(p.Main().Refresh().WaitUntilQuiet());
    EXPECT_EQ(RuleOfFixtureTool(rulesFile), RuleAction::Show);
    EXPECT_EQ(Captions(), (std::vector<std::wstring>{L"Fixture Tool (правило: показывать) [x]",
                                                     L"Fixture Tool (правило: показывать) [x]", L"400"}));
    EXPECT_EQ(test::GetRegDword(Entry(L"200"), L"IsPromoted"), 1);

    // No rule: the mark goes, the entries stay as they are.
    item(L"NoRuleGeneralMenu").Click();
    EXPECT_EQ(RuleOfFixtureTool(rulesFile), std::nullopt);
    EXPECT_EQ(Captions(), (std::vector<std::wstring>{L"Fixture Tool [x]", L"Fixture Tool [x]", L"400"}));
}

// A tick against a row's rule would be undone by the next pass: the rule
// follows the tick, for every row of the app, and the status line says so.
// Show all / Hide all leave rows under a rule alone.
TEST_F(MainWindowTest, TickingARowUnderARuleChangesTheRuleAndSaysSo)
{
    WriteEntriesOfOneApp();
    test::SetRegDword(Entry(L"400"), L"IsPromoted", 1);
    const std::wstring rulesFile = RulesPathBeside(paths.settingsFile);
    Program& p = Start();
    p.Main().Show();
    list->Select(RowOf(L"200"));
    p.Main().Get<ui::MenuItem>(L"AlwaysHideAppMenu").Click();

    ListView_SetCheckState(list->Handle(), RowOf(L"210"), TRUE); // what a click does
    ASSERT_TRUE(p.Main().Refresh().WaitUntilQuiet()); // a pass under the old rule may have run meanwhile
    EXPECT_EQ(RuleOfFixtureTool(rulesFile), RuleAction::Show);
    EXPECT_EQ(StatusText(), L"Правило для «Fixture Tool» изменено: всегда показывать.");
    for (const wchar_t* key : {L"200", L"210"}) {
        EXPECT_TRUE(list->Row(RowOf(key)).checked) << ToUtf8(key);
        EXPECT_EQ(test::GetRegDword(Entry(key), L"IsPromoted"), 1) << ToUtf8(key);
        EXPECT_EQ(list->Row(RowOf(key)).caption, L"Fixture Tool (правило: показывать)");
    }

    p.Main().Get<ui::MenuItem>(L"HideAllMenu").Click();
    ASSERT_TRUE(p.Main().Refresh().WaitUntilQuiet());
    EXPECT_EQ(test::GetRegDword(Entry(L"400"), L"IsPromoted"), 0);
    EXPECT_EQ(test::GetRegDword(Entry(L"200"), L"IsPromoted"), 1);
    EXPECT_EQ(RuleOfFixtureTool(rulesFile), RuleAction::Show);

    // A row without a rule ticks as ever.
    ListView_SetCheckState(list->Handle(), RowOf(L"400"), TRUE);
    EXPECT_EQ(test::GetRegDword(Entry(L"400"), L"IsPromoted"), 1);
    EXPECT_EQ(LoadRules(rulesFile).Rules().size(), 1u);
}

TEST_F(MainWindowTest, ARuleThatCannotBeSavedIsReportedAndNothingChanges)
{
    WriteEntriesOfOneApp();
    const std::wstring rulesFile = RulesPathBeside(paths.settingsFile);
    std::filesystem::create_directory(std::filesystem::path(rulesFile)); // a folder of that name
    Program& p = Start();
    p.Main().Show();
    list->Select(RowOf(L"200"));
    try {
        p.Main().Get<ui::MenuItem>(L"AlwaysHideAppMenu").Click();
        ADD_FAILURE() << "the failed save went unreported";
    } catch (const Error& error) {
        const std::wstring first = L"Правило не сохранено: не удалось записать файл «" + rulesFile + L"».";
        EXPECT_EQ(error.message().rfind(first + L"\r\n", 0), 0u) << ToUtf8(error.message());
    }
    EXPECT_EQ(test::GetRegDword(Entry(L"200"), L"IsPromoted"), 1);
    EXPECT_EQ(list->Row(RowOf(L"200")).caption, L"Fixture Tool");
}

// Rules the command line writes while the window runs: the next showing
// marks the rows and starts the worker, which gives new entries the rule.
TEST_F(MainWindowTest, RulesWrittenMeanwhileCountFromTheNextShowingAndForNewEntries)
{
    WriteEntriesOfOneApp();
    Program& p = Start();
    p.Main().Show();
    EXPECT_FALSE(p.Main().Refresh().Running()); // no policy, no rule

    AppRules rules;
    rules.Set(*IdentifyApp(test::FixturePath(L"full.exe"), L"Fixture Company", L""), RuleAction::Hide);
    SaveRules(rules, RulesPathBeside(paths.settingsFile));
    p.Main().HideToTray();
    p.Main().Show();
    EXPECT_EQ(list->Row(RowOf(L"210")).caption, L"Fixture Tool (правило: скрывать)");
    EXPECT_EQ(test::GetRegDword(Entry(L"210"), L"IsPromoted"), 0);
    ASSERT_TRUE(p.Main().Refresh().Running());
    ASSERT_TRUE(p.Main().Refresh().WaitUntilQuiet());

    test::SetRegString(Entry(L"220"), L"ExecutablePath", test::FixturePath(L"full.exe"));
    test::SetRegDword(Entry(L"220"), L"IsPromoted", 1);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (test::GetRegDword(Entry(L"220"), L"IsPromoted") != 0 && std::chrono::steady_clock::now() < deadline) {
        ::Sleep(5);
    }
    EXPECT_EQ(test::GetRegDword(Entry(L"220"), L"IsPromoted"), 0);
}


// A rule that the command line or a hand edit writes counts within a second,
// also when the window started with neither a rule nor a policy: for the
// app's entries, new ones included, and for the rows' marks.
TEST_F(MainWindowTest, ARuleWrittenWhileTheWindowRunsCountsAtOnce)
{
    WriteEntriesOfOneApp();
    const std::wstring rulesFile = RulesPathBeside(paths.settingsFile);
    const AppIdentity tool = *IdentifyApp(test::FixturePath(L"full.exe"), L"Fixture Company", L"");
    Program& p = Start();
    p.Main().Show();
    p.Main().HideToTray();
    ASSERT_FALSE(p.Main().Refresh().Running()); // no policy, no rule
    auto isPromoted = [](std::wstring_view key) { return test::GetRegDword(Entry(key), L"IsPromoted"); };

    AppRules rules;
    rules.Set(tool, RuleAction::Hide);
    SaveRules(rules, rulesFile);
    test::SetRegString(Entry(L"220"), L"ExecutablePath", test::FixturePath(L"full.exe"));
    test::SetRegDword(Entry(L"220"), L"IsPromoted", 1); // the app's update
    EXPECT_TRUE(test::HandleMessagesUntil(
        [&] { return isPromoted(L"200") == 0 && isPromoted(L"210") == 0 && isPromoted(L"220") == 0; },
        std::chrono::seconds(1)));

    // Shown, the rows carry the rule; a hand edit turns it round.
    p.Main().Show();
    EXPECT_EQ(list->Row(RowOf(L"220")).caption, L"Fixture Tool (правило: скрывать)");
    test::WriteFileBytes(rulesFile, "[Rule1]\r\nFile=full.exe\r\nFolder=" + ToUtf8(tool.folder) +
                                        "\r\nAction=Show\r\n");
    EXPECT_TRUE(test::HandleMessagesUntil(
        [&] {
            return isPromoted(L"220") == 1 && list->Row(RowOf(L"220")).caption == L"Fixture Tool (правило: показывать)";
        },
        std::chrono::seconds(1)));
}

// Backup, sync and virus scanners hold a just-saved file open without sharing
// for a while: meanwhile the rules read last count, for the entries and the
// rows' marks, and the file is read once it is let go, with nothing else
// changing.
TEST_F(MainWindowTest, ARulesFileHeldOpenByAnotherProgramKeepsTheRulesUntilItCanBeRead)
{
    WriteEntriesOfOneApp();
    const std::wstring rulesFile = RulesPathBeside(paths.settingsFile);
    const AppIdentity tool = *IdentifyApp(test::FixturePath(L"full.exe"), L"Fixture Company", L"");
    AppRules rules;
    rules.Set(tool, RuleAction::Hide);
    SaveRules(rules, rulesFile);
    test::WriteFileBytes(paths.settingsFile, "[Option]\r\nCheckBoxAutoUpdateList=1\r\nRadioButtonViewNew=1\r\n");
    Program& p = Start();
    p.Main().Show();
    ASSERT_TRUE(p.Main().Refresh().WaitUntilQuiet());
    auto isPromoted = [](std::wstring_view key) { return test::GetRegDword(Entry(key), L"IsPromoted"); };
    ASSERT_EQ(isPromoted(L"200"), 0);

    rules.Set(tool, RuleAction::Show);
    SaveRules(rules, rulesFile);
    {
        const unique_file held(::CreateFileW(rulesFile.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                             FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(held);
        // A new entry of the app, and one the user shows: the hide rule holds.
        test::SetRegString(Entry(L"220"), L"ExecutablePath", test::FixturePath(L"full.exe"));
        test::SetRegDword(Entry(L"220"), L"IsPromoted", 1);
        test::SetRegDword(Entry(L"210"), L"IsPromoted", 1);
        EXPECT_TRUE(test::HandleMessagesUntil([&] { return isPromoted(L"220") == 0 && isPromoted(L"210") == 0; },
                                        std::chrono::seconds(2)));
        test::HandleMessagesUntil([] { return false; }, std::chrono::milliseconds(300));
        ASSERT_TRUE(p.Main().Refresh().WaitUntilQuiet());
        EXPECT_EQ(isPromoted(L"220"), 0);
        EXPECT_EQ(list->Row(RowOf(L"200")).caption, L"Fixture Tool (правило: скрывать)");
    }
    EXPECT_TRUE(test::HandleMessagesUntil(
        [&] {
            return isPromoted(L"200") == 1 && isPromoted(L"210") == 1 && isPromoted(L"220") == 1 &&
                   list->Row(RowOf(L"200")).caption == L"Fixture Tool (правило: показывать)";
        },
        std::chrono::seconds(5)));
}

TEST_F(MainWindowTest, DeleteAsksFirstAndNoChangesNothing)
{
    test::SetRegString(Entry(L"700"), L"Publisher", L"50% \"off\" & more");
    test::SetRegString(Entry(L"700\\Sub"), L"x", L"y");
    test::CreateRegKey(Entry(L"800"));
    Program& p = Start();
    p.Main().Show();

    list->Select(-1);
    p.Main().Get<ui::MenuItem>(L"DeleteIconMenu").Click(); // nothing selected: no question
    EXPECT_EQ(list->RowCount(), 2);

    list->Select(RowOf(L"700"));
    {
        test::MessageBoxAnswer answer(IDNO);
        p.Main().Get<ui::MenuItem>(L"DeleteIconMenu").Click();
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
    EXPECT_EQ(StatusText(), L"Элементов: 1. Windows покажет удаление после перезапуска Проводника "
                            L"(меню: «Перезапустить Проводник»).");
}

TEST_F(MainWindowTest, CleanupsReloadOnlyWhenTheyDeletedSomething)
{
    test::SetRegString(Entry(L"1"), L"ExecutablePath", test::FixturePath(L"full.exe"));
    test::SetRegString(Entry(L"2"), L"ExecutablePath", L"C:\\nowhere\\gone.exe");
    Program& p = Start();
    p.Main().Show();
    ASSERT_EQ(list->RowCount(), 2);

    test::CreateRegKey(Entry(L"3")); // appears after the load
    p.Main().Get<ui::MenuItem>(L"DelOldIconMenu").Click(); // no duplicates: nothing deleted, no reload
    EXPECT_EQ(list->RowCount(), 2);
    EXPECT_EQ(StatusText(), L"Элементов: 2");

    p.Main().Get<ui::MenuItem>(L"DelNonExistentFilesMenu").Click();
    EXPECT_FALSE(test::RegKeyExists(Entry(L"2")));
    EXPECT_EQ(list->RowCount(), 2); // reloaded: "1" and the new "3"
    EXPECT_GE(RowOf(L"3"), 0);
    // Windows' own settings show the deletion once Explorer restarts.
    EXPECT_NE(StatusText().find(L"Перезапустить Проводник"), std::wstring::npos);
}

TEST_F(MainWindowTest, TheMenuButtonMarksItselfUntilReleased)
{
    Program& p = Start();
    p.Main().Show();
    // The general menu opens from the button; Escape dismisses it.
    std::thread escape = test::PressEscapeSoon();
    p.Main().Get<ui::SpeedButton>(L"SpeedButton_GeneralMenu").Click();
    escape.join();
    EXPECT_TRUE(p.Main().Get<ui::SpeedButton>(L"SpeedButton_GeneralMenu").Down());
    auto& menu = p.Main();
    EXPECT_TRUE(menu.Get<ui::MenuItem>(L"ViewMenu").Visible());
    EXPECT_FALSE(menu.Get<ui::MenuItem>(L"CloseTrayMenu").Visible());
    EXPECT_FALSE(menu.Get<ui::MenuItem>(L"Name").Visible());

    p.Main().Get<ui::SpeedButton>(L"SpeedButton_GeneralMenu").Click(); // only releases
    EXPECT_FALSE(p.Main().Get<ui::SpeedButton>(L"SpeedButton_GeneralMenu").Down());

    // The icon's opening shows the other set.
    SendTrayEvent(p, WM_MOUSEMOVE);
    EXPECT_FALSE(menu.Get<ui::MenuItem>(L"ViewMenu").Visible());
    EXPECT_TRUE(menu.Get<ui::MenuItem>(L"CloseTrayMenu").Visible());
    EXPECT_TRUE(menu.Get<ui::MenuItem>(L"ShowMainFormTrayMenu").Visible());
}

TEST_F(MainWindowTest, RowsShowTheNotificationAreasPictureAndTooltip)
{
    const test::Rgba red{200, 30, 60};
    test::SetRegString(Entry(L"500"), L"ExecutablePath", L"C:\\nowhere\\synced.exe");
    test::SetRegString(Entry(L"500"), L"InitialTooltip", L"Synced Files\nUp to date");
    test::SetRegRaw(Entry(L"500"), L"IconSnapshot", REG_BINARY, test::SolidPng(32, 32, red));
    Program& p = Start();
    p.Main().Show();
    ASSERT_EQ(Captions(), (std::vector<std::wstring>{L"Synced Files"}));

    // The picture arrives from the worker; the row asks for it when drawn.
    const auto image = [&] {
        LVITEMW item{};
        item.mask = LVIF_IMAGE;
        ListView_GetItem(list->Handle(), &item);
        return item.iImage;
    };
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (image() < 0 && std::chrono::steady_clock::now() < deadline) {
        ui::application::ProcessMessages();
        ::Sleep(10);
    }
    ASSERT_GE(image(), 0);
    for (const bool large : {false, true}) {
        p.Main().Get<ui::MenuItem>(large ? L"IconBigMenu" : L"IconSmallMenu").Click();
        const HIMAGELIST shown = ListView_GetImageList(list->Handle(), LVSIL_SMALL);
        int side = 0;
        int unused = 0;
        ASSERT_TRUE(::ImageList_GetIconSize(shown, &side, &unused));
        EXPECT_EQ(side, ::GetSystemMetrics(large ? SM_CXICON : SM_CXSMICON));
        const test::Rgba drawn = test::ImageListPixel(shown, image());
        EXPECT_TRUE(test::SameColour(drawn, red)) << large << ": " << test::Describe(drawn);
    }
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

// The question's message loop lets a reload run (here two double clicks on
// the tray icon: hide, show); "Yes" must still delete the entry it asked about.
TEST_F(MainWindowTest, DeleteRemovesTheAskedEntryEvenWhenTheListWasReloadedMeanwhile)
{
    test::SetRegString(Entry(L"600"), L"Publisher", L"Beta");
    test::SetRegString(Entry(L"700"), L"Publisher", L"Target");
    Program& p = Start();
    p.Main().Show();
    ASSERT_EQ(Captions(), (std::vector<std::wstring>{L"Beta", L"Target"}));
    list->Select(RowOf(L"700"));
    HWND window = p.Main().Handle();
    {
        test::MessageBoxAnswer answer(IDYES, [window] {
            test::SetRegString(Entry(L"100"), L"Publisher", L"Alpha"); // sorts before both
            for (int i = 0; i < 2; ++i) {
                ::PostMessageW(window, ui::WM_APP_TRAYICON, 0, WM_LBUTTONDBLCLK);
            }
            ::Sleep(300);
        });
        p.Main().Get<ui::MenuItem>(L"DeleteIconMenu").Click();
        ASSERT_TRUE(answer.Answered());
        EXPECT_EQ(answer.Text(), L"Вы уверены, что хотите удалить ключ реестра?\r\n\"Target\"?");
    }
    EXPECT_FALSE(test::RegKeyExists(Entry(L"700")));
    EXPECT_TRUE(test::RegKeyExists(Entry(L"600")));
    EXPECT_TRUE(test::RegKeyExists(Entry(L"100")));
    EXPECT_EQ(Captions(), (std::vector<std::wstring>{L"Alpha", L"Beta"}));
    EXPECT_EQ(StatusText().substr(0, 13), L"Элементов: 2.");
}

// An entry the user may not delete (an administrator's policy): the failure
// is reported with the entry's name and the row stays.
TEST_F(MainWindowTest, AnEntryThatCannotBeDeletedIsReportedAndKeepsItsRow)
{
    test::SetRegString(Entry(L"700"), L"Publisher", L"Locked");
    // A subkey nobody may open: the entry can't be emptied, so it stays.
    test::CreateRegKey(Entry(L"700\\Policy"));
    test::KeyAccessLimit locked(Entry(L"700\\Policy"), L"D:(A;;WD;;;WD)");
    Program& p = Start();
    p.Main().Show();
    list->Select(RowOf(L"700"));
    test::MessageBoxAnswer answer(IDYES);
    try {
        p.Main().Get<ui::MenuItem>(L"DeleteIconMenu").Click();
        ADD_FAILURE() << "the failed delete went unreported";
    } catch (const Error& error) {
        EXPECT_EQ(error.message().rfind(L"Не удалось удалить значок «Locked» из реестра.\r\n", 0), 0u)
            << ToUtf8(error.message());
    }
    ASSERT_TRUE(answer.Answered());
    EXPECT_TRUE(test::RegKeyExists(Entry(L"700")));
    EXPECT_EQ(RowOf(L"700"), 0);
}

// An entry that Explorer or the user removed while its row was on screen is
// never made again by a click, nor is the whole store.
TEST_F(MainWindowTest, ARowWhoseEntryVanishedWritesNothingAndLeavesTheList)
{
    struct Case {
        const char* name;
        std::wstring removed; // below HKEY_CURRENT_USER
    } cases[] = {{"the entry", Entry(L"200")}, {"the whole store", kBase}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::CreateRegKey(Entry(L"200"));
        test::CreateRegKey(Entry(L"400"));
        Program& p = Start();
        p.Main().Show();
        ASSERT_EQ(list->RowCount(), 2);
        ASSERT_EQ(::RegDeleteTreeW(HKEY_CURRENT_USER, c.removed.c_str()), ERROR_SUCCESS);
        ::RegDeleteKeyW(HKEY_CURRENT_USER, c.removed.c_str());

        ListView_SetCheckState(list->Handle(), RowOf(L"200"), TRUE);
        EXPECT_FALSE(test::RegKeyExists(Entry(L"200")));
        ui::application::ProcessMessages(); // the list is read again
        EXPECT_EQ(RowOf(L"200"), -1);
        p.Main().Get<ui::MenuItem>(L"ShowAllMenu").Click();
        ui::application::ProcessMessages();
        EXPECT_FALSE(test::RegKeyExists(Entry(L"200")));
        EXPECT_EQ(test::RegKeyExists(kBase), c.removed != kBase);
        program.reset();
        ::RegDeleteTreeW(HKEY_CURRENT_USER, kBase.c_str());
    }
}

// The options are read once, before any window exists, and a save writes
// them back: an exit while the start-up is still under way (the language
// passes let messages through) cannot store controls that still hold their
// designed states.
TEST_F(MainWindowTest, TheRefreshWorkerFollowsNewEntriesUntilTheProgramEnds)
{
    test::WriteFileBytes(paths.settingsFile, "[Option]\r\nCheckBoxAutoUpdateList=1\r\nRadioButtonViewNew=1\r\n");
    Program& p = Start();
    ASSERT_TRUE(p.Main().Refresh().Running());
    ASSERT_TRUE(p.Main().Refresh().WaitUntilQuiet());
    test::SetRegDword(Entry(L"new"), L"IsPromoted", 0);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (test::GetRegDword(Entry(L"new"), L"IsPromoted") != 1 && std::chrono::steady_clock::now() < deadline) {
        ::Sleep(5);
    }
    EXPECT_EQ(test::GetRegDword(Entry(L"new"), L"IsPromoted"), 1);

    p.Main().onTerminate = [] {};
    p.Main().Get<ui::MenuItem>(L"CloseTrayMenu").Click();
    EXPECT_FALSE(p.Main().Refresh().Running()); // stopped before the window went
}

} // namespace
} // namespace merovane
