// A long list: the rows show as the registry names them, and what their
// files say follows from a worker. Nothing here pumps messages between the
// showing and the checks, so the files' answer waits in the queue until a
// test lets it in.

#include "support/program_fixture.h"

#include "core/app_rules.h"
#include "core/icon_list.h"
#include "base/ini_file.h"
#include "support/sandbox.h"
#include "ui/list_view.h"
#include "ui/menu.h"
#include "ui/messages.h"

#include <gtest/gtest.h>

#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <tuple>

namespace merovane {
namespace {

using test::Entry;

class EntryFillTest : public test::ProgramFixture {
protected:
    static constexpr int kEntries = 150; // enough for the worker

    static std::wstring Key(int index)
    {
        wchar_t key[8];
        std::swprintf(key, 8, L"e%03d", index);
        return key;
    }

    // Every even entry is the fixture program (its file names it "Fixture
    // Tool"), or a copy of its own, which takes longer to read; every odd
    // one a program that is gone, named by its tooltip.
    void WriteEntries(bool copies)
    {
        const std::wstring program = test::FixturePath(L"full.exe");
        std::filesystem::create_directories(temp.path() / L"copies");
        for (int i = 0; i < kEntries; ++i) {
            std::wstring path = (temp / L"gone\\app") + std::to_wstring(i) + L".exe";
            if (i % 2 == 0) {
                path = copies ? (temp / L"copies\\tool") + std::to_wstring(i) + L".exe" : program;
                if (copies) {
                    std::filesystem::copy_file(program, path, std::filesystem::copy_options::overwrite_existing);
                }
            }
            const std::wstring key = Entry(Key(i));
            test::SetRegString(key, L"ExecutablePath", path);
            test::SetRegString(key, L"InitialTooltip", L"Tip " + std::to_wstring(1000 - i));
            test::SetRegDword(key, L"IsPromoted", i % 3 == 0 ? 1 : 0);
        }
    }

    bool Pending() const
    {
        for (int row = 0; row < list->RowCount(); ++row) {
            if (EntryOf(row).textsPending) {
                return true;
            }
        }
        return false;
    }

    // The rows are what a full load gives, in its sort order unless ticks
    // changed since (a tick moves no row).
    void ExpectRowsOfTheFullLoad(bool sorted = true) const
    {
        std::map<std::wstring, IconEntry> full;
        for (IconEntry& entry : ReadNotifyIconEntries(IniFile()).entries) {
            full.emplace(entry.keyName, std::move(entry));
        }
        ASSERT_EQ(list->RowCount(), static_cast<int>(full.size()));
        for (int row = 0; row < list->RowCount(); ++row) {
            const IconEntry& shown = EntryOf(row);
            SCOPED_TRACE(ToUtf8(shown.keyName));
            ASSERT_EQ(full.count(shown.keyName), 1U);
            const IconEntry& expected = full.at(shown.keyName);
            EXPECT_EQ(std::tie(shown.displayName, shown.company, shown.executablePath, shown.fileExists),
                      std::tie(expected.displayName, expected.company, expected.executablePath, expected.fileExists));
            EXPECT_EQ(list->Row(row).subItems, (std::vector<std::wstring>{expected.company, expected.executablePath}));
            EXPECT_FALSE(shown.textsPending);
            if (sorted && row > 0) {
                EXPECT_LE(CompareIconEntries(EntryOf(row - 1), shown), 0);
            }
        }
    }

    // Until the files' answer is in the queue, without letting it in.
    bool WaitForTheFilesAnswer() const
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        MSG msg;
        while (!::PeekMessageW(&msg, program->Main().Handle(), ui::WM_APP_ENTRYTEXTS, ui::WM_APP_ENTRYTEXTS,
                               PM_NOREMOVE)) {
            if (std::chrono::steady_clock::now() > deadline) {
                return false;
            }
            ::Sleep(5);
        }
        return true;
    }
};

TEST_F(EntryFillTest, RowsShowAtOnceAndTheirFilesNameThemWithoutMovingTheView)
{
    WriteEntries(false);
    Program& p = Start();
    p.Main().Show();
    // The count and every row as the registry names them, before any file.
    EXPECT_EQ(StatusText(), L"Элементов: " + std::to_wstring(kEntries));
    ASSERT_EQ(list->RowCount(), kEntries);
    const int selected = RowOf(Key(101)); // gone: its name stays "Tip 899"
    for (int row = 0; row < list->RowCount(); ++row) {
        EXPECT_TRUE(EntryOf(row).textsPending);
        EXPECT_EQ(list->Row(row).caption.rfind(L"Tip ", 0), 0U) << row;
    }

    // The user is somewhere in the middle of the list when the names arrive.
    list->Select(selected);
    list->ScrollToTop(std::max(0, selected - 2));
    const int place = selected - list->TopRow();
    ASSERT_TRUE(test::HandleMessagesUntil([&] { return !Pending(); }));
    ExpectRowsOfTheFullLoad();
    const int now = list->Selected();
    ASSERT_GE(now, 0);
    EXPECT_EQ(EntryOf(now).keyName, Key(101));
    EXPECT_EQ(now - list->TopRow(), place); // the selected row kept its place on screen
    EXPECT_EQ(StatusText(), L"Элементов: " + std::to_wstring(kEntries));
}

TEST_F(EntryFillTest, AReloadDuringTheFillKeepsOnlyTheNewLoadsTexts)
{
    WriteEntries(false);
    Program& p = Start();
    p.Main().Show();
    ASSERT_TRUE(WaitForTheFilesAnswer());

    // The entries now point elsewhere: the first load's answer is stale.
    WriteEntries(true);
    p.Main().Get<ui::MenuItem>(L"RefreshListMenu").Click();
    ASSERT_TRUE(Pending());
    // The first load's answer arrives while the second load's files are read.
    MSG msg;
    ASSERT_TRUE(::PeekMessageW(&msg, p.Main().Handle(), ui::WM_APP_ENTRYTEXTS, ui::WM_APP_ENTRYTEXTS, PM_REMOVE));
    ::DispatchMessageW(&msg);
    ASSERT_TRUE(test::HandleMessagesUntil([&] { return !Pending(); }));
    ExpectRowsOfTheFullLoad();
    EXPECT_EQ(EntryOf(RowOf(Key(0))).executablePath, temp / L"copies\\tool0.exe");
}

// What the user does with a row while the files are read acts on the app
// its file names, for every row of that app.
TEST_F(EntryFillTest, RulesAndTicksDuringTheFillActOnTheAppItsFileNames)
{
    WriteEntries(false);
    const std::wstring rulesFile = RulesPathBeside(paths.settingsFile);
    Program& p = Start();
    p.Main().Show();
    ASSERT_TRUE(Pending());

    list->Select(RowOf(Key(0)));
    p.Main().Get<ui::MenuItem>(L"AlwaysHideAppMenu").Click();
    const AppIdentity fixtureTool = *IdentifyApp(test::FixturePath(L"full.exe"), L"Fixture Company", L"");
    EXPECT_EQ(LoadRules(rulesFile).ActionFor(fixtureTool), RuleAction::Hide);
    for (int i = 0; i < kEntries; i += 2) {
        const int row = RowOf(Key(i));
        EXPECT_EQ(list->Row(row).caption, L"Fixture Tool (правило: скрывать)") << i;
        EXPECT_FALSE(list->Row(row).checked) << i;
        EXPECT_EQ(test::GetRegDword(Entry(Key(i)), L"IsPromoted"), 0) << i;
    }

    // A tick against the rule turns it round, for every row of the app.
    ListView_SetCheckState(list->Handle(), RowOf(Key(4)), TRUE);
    EXPECT_EQ(LoadRules(rulesFile).ActionFor(fixtureTool), RuleAction::Show);
    for (int i = 0; i < kEntries; i += 2) {
        EXPECT_TRUE(list->Row(RowOf(Key(i))).checked) << i;
    }
    ASSERT_TRUE(test::HandleMessagesUntil([&] { return !Pending(); }));
    ExpectRowsOfTheFullLoad(false);
}

} // namespace
} // namespace merovane
