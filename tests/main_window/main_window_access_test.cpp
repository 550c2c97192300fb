#include "support/program_fixture.h"

#include "base/ini_file.h"
#include "base/settings_file.h"
#include "core/show_every_icon.h"
#include "support/dialogs.h"
#include "support/sandbox.h"
#include "ui/application.h"
#include "ui/component.h"
#include "ui/list_view.h"
#include "ui/menu.h"

#include <gtest/gtest.h>

#include <commctrl.h>

namespace merovane {
namespace {

using test::Entry;

class MainWindowAccessTest : public test::ProgramFixture {
protected:
    std::wstring StatePath() const { return temp / kShowEveryIconStateName; }
};

void WriteMixedEntries()
{
    test::SetRegDword(Entry(L"100"), L"IsPromoted", 1);
    test::SetRegDword(Entry(L"200"), L"IsPromoted", 0);
    test::CreateRegKey(Entry(L"300")); // no value yet
    test::SetRegString(Entry(L"400"), L"IsPromoted", L"0");
}

void ExpectMixedEntries()
{
    EXPECT_EQ(test::GetRegDword(Entry(L"100"), L"IsPromoted"), 1);
    EXPECT_EQ(test::GetRegDword(Entry(L"200"), L"IsPromoted"), 0);
    EXPECT_FALSE(test::GetRegRaw(Entry(L"300"), L"IsPromoted").exists);
    const test::RawValue text = test::GetRegRaw(Entry(L"400"), L"IsPromoted");
    EXPECT_EQ(text.type, DWORD{REG_SZ});
}

TEST_F(MainWindowAccessTest, ShowEveryIconTogglesFromTheMenuAndTheHotKeyAndEndsWithTheProgram)
{
    WriteMixedEntries();
    Program& p = Start();
    p.Main().Show();
    ui::MenuItem& item = p.Main().Get<ui::MenuItem>(L"ShowEveryIconMenu");

    item.Click();
    EXPECT_TRUE(std::filesystem::exists(StatePath()));
    for (const wchar_t* key : {L"100", L"200", L"300", L"400"}) {
        EXPECT_EQ(test::GetRegDword(Entry(key), L"IsPromoted"), 1) << ToUtf8(key);
    }
    EXPECT_EQ(Captions(), (std::vector<std::wstring>{L"100 [x]", L"200 [x]", L"300 [x]", L"400 [x]"}));
    EXPECT_EQ(StatusText().substr(0, 18), L"Все значки показан");

    // The hot key's message is the second use.
    ::SendMessageW(p.Main().Handle(), WM_HOTKEY, 1, 0);
    EXPECT_FALSE(std::filesystem::exists(StatePath()));
    ExpectMixedEntries();

    // Shown again, one entry changed by the user meanwhile, then Exit.
    item.Click();
    ListView_SetCheckState(list->Handle(), RowOf(L"200"), FALSE);
    p.Main().Get<ui::MenuItem>(L"CloseTrayMenu").Click();
    EXPECT_EQ(test::GetRegDword(Entry(L"100"), L"IsPromoted"), 1);
    EXPECT_EQ(test::GetRegDword(Entry(L"200"), L"IsPromoted"), 0);
    EXPECT_FALSE(test::GetRegRaw(Entry(L"300"), L"IsPromoted").exists);
    EXPECT_EQ(test::GetRegRaw(Entry(L"400"), L"IsPromoted").type, DWORD{REG_SZ});
    EXPECT_FALSE(std::filesystem::exists(StatePath()));
}

TEST_F(MainWindowAccessTest, TheEndOfTheSessionPutsTheIconsBack)
{
    WriteMixedEntries();
    Program& p = Start();
    p.Main().Get<ui::MenuItem>(L"ShowEveryIconMenu").Click();
    ::SendMessageW(p.Main().Handle(), WM_ENDSESSION, TRUE, 0);
    ExpectMixedEntries();
    program.reset();
    test::DrainQuit();
}

TEST_F(MainWindowAccessTest, AStartAfterARunThatCouldNotPutTheIconsBackDoesIt)
{
    WriteMixedEntries();
    ShowEveryIcon(StatePath()); // what a run that then crashed did
    SetShowEveryIconActive(false);
    Start();
    ExpectMixedEntries();
    EXPECT_FALSE(std::filesystem::exists(StatePath()));
}

TEST_F(MainWindowAccessTest, AHotKeyTakenByAnotherProgramIsReported)
{
    // Another window holds Ctrl+Alt+F11.
    HWND other = ::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ASSERT_TRUE(::RegisterHotKey(other, 7, MOD_CONTROL | MOD_ALT, VK_F11));
    const WORD taken = MAKEWORD(VK_F11, HOTKEYF_CONTROL | HOTKEYF_ALT);
    const WORD free = MAKEWORD(VK_F9, HOTKEYF_CONTROL | HOTKEYF_ALT | HOTKEYF_SHIFT);
    test::WriteFileBytes(paths.settingsFile, "[Option]\r\nHotKeyShowEveryIcon=" + std::to_string(taken) + "\r\n");
    Program& p = Start();
    EXPECT_NE(StatusText().find(L"Ctrl+Alt+F11"), std::wstring::npos) << ToUtf8(StatusText());

    // Chosen in the settings dialog: a free one is taken and saved, a taken
    // one is reported and switched off.
    ui::HotKey& control = p.Settings().Get<ui::HotKey>(L"HotKeyShowEveryIcon");
    ::SendMessageW(control.Handle(), HKM_SETHOTKEY, free, 0);
    control.OnCommand(EN_CHANGE);
    EXPECT_EQ(p.CurrentOptions().showEveryIconHotKey, free);
    EXPECT_FALSE(::RegisterHotKey(other, 8, MOD_CONTROL | MOD_ALT | MOD_SHIFT, VK_F9)); // ours now

    test::MessageBoxAnswer answer(IDOK);
    ::SendMessageW(control.Handle(), HKM_SETHOTKEY, taken, 0);
    control.OnCommand(EN_CHANGE);
    ASSERT_TRUE(answer.Answered());
    EXPECT_NE(answer.Text().find(L"Ctrl+Alt+F11"), std::wstring::npos) << ToUtf8(answer.Text());
    EXPECT_EQ(p.CurrentOptions().showEveryIconHotKey, 0);
    EXPECT_EQ(control.Value(), 0);
    EXPECT_TRUE(::RegisterHotKey(other, 8, MOD_CONTROL | MOD_ALT | MOD_SHIFT, VK_F9)); // let go

    p.SaveOptions(Program::kSaveOnClose);
    EXPECT_EQ(ReadOptions(IniFile::Load(paths.settingsFile)).showEveryIconHotKey, 0);
    ::UnregisterHotKey(other, 7);
    ::UnregisterHotKey(other, 8);
    ::DestroyWindow(other);
}

} // namespace
} // namespace merovane
