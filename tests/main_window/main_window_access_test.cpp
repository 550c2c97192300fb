#include "support/program_fixture.h"

#include "base/ini_file.h"
#include "base/settings_file.h"
#include "base/text_file.h"
#include "core/icon_order.h"
#include "core/show_every_icon.h"
#include "support/dialogs.h"
#include "support/sandbox.h"
#include "ui/application.h"
#include "ui/com_ptr.h"
#include "ui/component.h"
#include "ui/list_view.h"
#include "ui/menu.h"

#include <gtest/gtest.h>

#include <commctrl.h>
#include <oleacc.h>

#include <thread>

namespace merovane {
namespace {

using test::Entry;

class MainWindowAccessTest : public test::ProgramFixture {
protected:
    std::wstring StatePath() const { return temp / kShowEveryIconStateName; }
};

void Select(ui::ListView& list, int row)
{
    ListView_SetItemState(list.Handle(), row, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
}

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

TEST_F(MainWindowAccessTest, ARuleDoesNotHideAnIconWhileEveryIconIsShown)
{
    test::SetRegString(Entry(L"200"), L"ExecutablePath", test::FixturePath(L"full.exe"));
    test::SetRegDword(Entry(L"200"), L"IsPromoted", 0);
    test::WriteFileBytes(paths.settingsFile, "[Option]\r\nCheckBoxAutoUpdateList=1\r\nRadioButtonHideNew=1\r\n");
    Program& p = Start();
    p.Main().Show();
    Select(*list, RowOf(L"200"));
    p.Main().Get<ui::MenuItem>(L"AlwaysHideAppMenu").Click();

    p.Main().Get<ui::MenuItem>(L"ShowEveryIconMenu").Click(); // reloads the list, rules and all
    EXPECT_EQ(test::GetRegDword(Entry(L"200"), L"IsPromoted"), 1);
    ASSERT_TRUE(p.Main().Refresh().WaitUntilQuiet());
    EXPECT_EQ(test::GetRegDword(Entry(L"200"), L"IsPromoted"), 1);
    p.Main().Get<ui::MenuItem>(L"ShowEveryIconMenu").Click();
    EXPECT_EQ(test::GetRegDword(Entry(L"200"), L"IsPromoted"), 0);
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

void StoreOrder(const std::vector<IconId>& ids)
{
    const std::string bytes = SerializeIconOrder(ids);
    test::SetRegRaw(test::kBase, kIconOrderValue, REG_BINARY, std::vector<BYTE>(bytes.begin(), bytes.end()));
}

std::vector<IconId> StoredOrder()
{
    const test::RawValue raw = test::GetRegRaw(test::kBase, kIconOrderValue);
    return ParseIconOrder(std::string(raw.data.begin(), raw.data.end())).value_or(std::vector<IconId>{99});
}

TEST_F(MainWindowAccessTest, MoveUpAndDownReorderTheTaskbarAndSayWhereTheIconIsNow)
{
    for (const wchar_t* key : {L"100", L"200", L"300", L"400"}) {
        test::CreateRegKey(Entry(key));
    }
    StoreOrder({300, 100, 200}); // 400 is not placed yet
    Program& p = Start();
    p.Main().Show();
    ui::PopupMenu& menu = p.Main().Get<ui::PopupMenu>(L"PopupMenuIcon");
    ui::MenuItem& up = p.Main().Get<ui::MenuItem>(L"MoveUpMenu");
    ui::MenuItem& down = p.Main().Get<ui::MenuItem>(L"MoveDownMenu");

    Select(*list, RowOf(L"100"));
    menu.onPopup();
    EXPECT_TRUE(up.Enabled() && down.Enabled());
    up.Click();
    EXPECT_EQ(StoredOrder(), (std::vector<IconId>{100, 300, 200}));
    EXPECT_NE(StatusText().find(L"1/3"), std::wstring::npos) << ToUtf8(StatusText());
    EXPECT_NE(StatusText().find(L"Перезапустить Проводник"), std::wstring::npos);
    // The value before the change is kept for the command line's undo.
    EXPECT_EQ(ParseIconOrder(ReadFileIfExists(temp / kIconOrderBackupName).value_or("")), (std::vector<IconId>{300, 100, 200}));

    // Alt+Up at the front keeps it there; Alt+Down twice takes it to the end.
    ::SendMessageW(list->Handle(), WM_SYSKEYDOWN, VK_UP, 1 << 29);
    EXPECT_EQ(StoredOrder(), (std::vector<IconId>{100, 300, 200}));
    ::SendMessageW(list->Handle(), WM_SYSKEYDOWN, VK_DOWN, 1 << 29);
    ::SendMessageW(list->Handle(), WM_SYSKEYDOWN, VK_DOWN, 1 << 29);
    EXPECT_EQ(StoredOrder(), (std::vector<IconId>{300, 200, 100}));
    EXPECT_NE(StatusText().find(L"3/3"), std::wstring::npos) << ToUtf8(StatusText());

    // An icon the order does not hold: the items are off, the keys say why.
    Select(*list, RowOf(L"400"));
    menu.onPopup();
    EXPECT_FALSE(up.Enabled() || down.Enabled());
    ::SendMessageW(list->Handle(), WM_SYSKEYDOWN, VK_UP, 1 << 29);
    EXPECT_EQ(StoredOrder(), (std::vector<IconId>{300, 200, 100}));
    EXPECT_NE(StatusText().find(L"нет в порядке"), std::wstring::npos) << ToUtf8(StatusText());

    // A value that is no whole number of ids is left alone.
    test::SetRegRaw(test::kBase, kIconOrderValue, REG_BINARY, {1, 2, 3});
    Select(*list, RowOf(L"100"));
    up.Click();
    EXPECT_EQ(test::GetRegRaw(test::kBase, kIconOrderValue).data, (std::vector<BYTE>{1, 2, 3}));
}

TEST_F(MainWindowAccessTest, TheKeyboardReachesTheMenusAndReloads)
{
    test::CreateRegKey(Entry(L"100"));
    Program& p = Start();
    p.Main().Show();
    ::SetForegroundWindow(p.Main().Handle());
    ::SetFocus(list->Handle());
    Select(*list, 0);

    // F5 reads the entries again.
    test::CreateRegKey(Entry(L"200"));
    ::PostMessageW(list->Handle(), WM_KEYDOWN, VK_F5, 0);
    ui::application::ProcessMessages();
    EXPECT_EQ(list->RowCount(), 2);

    // What the system sends for Shift+F10 and the menu key, and for Alt alone
    // and F10, opens the list's menu and the general menu; the message a
    // right click sends after its own menu opens no second one.
    int entryMenus = 0;
    int generalMenus = 0;
    ui::PopupMenu& entryMenu = p.Main().Get<ui::PopupMenu>(L"PopupMenuIcon");
    const auto prepare = entryMenu.onPopup;
    entryMenu.onPopup = [&] {
        ++entryMenus;
        prepare();
    };
    p.Main().Get<ui::PopupMenu>(L"PopupMenu_General").onPopup = [&] { ++generalMenus; };
    const auto opening = [](auto&& open) {
        std::thread escape = test::PressEscapeSoon();
        open();
        escape.join();
        ui::application::ProcessMessages();
    };
    opening([&] { ::SendMessageW(list->Handle(), WM_CONTEXTMENU, reinterpret_cast<WPARAM>(list->Handle()), -1); });
    EXPECT_EQ(entryMenus, 1);
    ::SendMessageW(list->Handle(), WM_CONTEXTMENU, reinterpret_cast<WPARAM>(list->Handle()), MAKELPARAM(10, 10));
    EXPECT_EQ(entryMenus, 1);
    opening([&] { ::SendMessageW(p.Main().Handle(), WM_SYSCOMMAND, SC_KEYMENU, 0); });
    EXPECT_EQ(generalMenus, 1);
    EXPECT_TRUE(p.Main().Get<ui::MenuItem>(L"RefreshListMenu").Visible()); // the button's items
}

TEST_F(MainWindowAccessTest, AScreenReaderHearsEachRowsNameAndState)
{
    ASSERT_TRUE(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    test::SetRegDword(Entry(L"100"), L"IsPromoted", 1);
    test::SetRegDword(Entry(L"200"), L"IsPromoted", 0);
    Program& p = Start();
    p.Main().Show();
    {
        ui::com_ptr<IAccessible> accessible;
        ASSERT_EQ(::AccessibleObjectFromWindow(list->Handle(), OBJID_CLIENT, __uuidof(IAccessible), accessible.put_void()),
                  S_OK);
        long count = 0;
        ASSERT_EQ(accessible->get_accChildCount(&count), S_OK);
        EXPECT_EQ(count, 2);
        struct Case {
            std::wstring key;
            bool checked;
            std::wstring state;
        } cases[] = {{L"100", true, L"показан"}, {L"200", false, L"скрыт"}};
        for (const Case& c : cases) {
            SCOPED_TRACE(ToUtf8(c.key));
            VARIANT child{};
            child.vt = VT_I4;
            child.lVal = RowOf(c.key) + 1;
            BSTR name = nullptr;
            ASSERT_EQ(accessible->get_accName(child, &name), S_OK);
            EXPECT_EQ(std::wstring(name), list->Row(RowOf(c.key)).caption);
            ::SysFreeString(name);
            BSTR value = nullptr;
            ASSERT_EQ(accessible->get_accValue(child, &value), S_OK);
            EXPECT_EQ(std::wstring(value), c.state);
            ::SysFreeString(value);
            VARIANT role{};
            ASSERT_EQ(accessible->get_accRole(child, &role), S_OK);
            EXPECT_EQ(role.lVal, ROLE_SYSTEM_CHECKBUTTON);
            VARIANT state{};
            ASSERT_EQ(accessible->get_accState(child, &state), S_OK);
            EXPECT_EQ((state.lVal & STATE_SYSTEM_CHECKED) != 0, c.checked);
        }
        // The default action ticks, as the space bar does, and writes the entry.
        VARIANT hidden{};
        hidden.vt = VT_I4;
        hidden.lVal = RowOf(L"200") + 1;
        ASSERT_EQ(accessible->accDoDefaultAction(hidden), S_OK);
        EXPECT_EQ(test::GetRegDword(Entry(L"200"), L"IsPromoted"), 1);
        VARIANT outOfRange{};
        outOfRange.vt = VT_I4;
        outOfRange.lVal = 3;
        BSTR none = nullptr;
        EXPECT_EQ(accessible->get_accName(outOfRange, &none), E_INVALIDARG);
    }
    {
        // The menu button shows "≡" and is called by its hint.
        ui::com_ptr<IAccessible> button;
        ASSERT_EQ(::AccessibleObjectFromWindow(p.Main().Get<ui::SpeedButton>(L"SpeedButton_GeneralMenu").Handle(),
                                               OBJID_CLIENT, __uuidof(IAccessible), button.put_void()),
                  S_OK);
        VARIANT self{};
        self.vt = VT_I4;
        self.lVal = CHILDID_SELF;
        BSTR name = nullptr;
        ASSERT_EQ(button->get_accName(self, &name), S_OK);
        EXPECT_EQ(std::wstring(name), L"Меню");
        ::SysFreeString(name);
        VARIANT role{};
        ASSERT_EQ(button->get_accRole(self, &role), S_OK);
        EXPECT_EQ(role.lVal, ROLE_SYSTEM_PUSHBUTTON);
    }
    program.reset();
    ::CoUninitialize();
}

} // namespace
} // namespace merovane
