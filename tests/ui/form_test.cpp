#include "ui/application.h"
#include "ui/component.h"
#include "ui/form.h"
#include "ui/list_view.h"
#include "ui/menu.h"
#include "ui/messages.h"

#include "base/error.h"
#include "support/dialogs.h"

#include <gtest/gtest.h>

#include <commctrl.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace merovane::ui {
namespace {

constexpr ComponentDef kComponents[] = {
    {.kind = Kind::TabControl, .name = L"TabControlTop", .bounds = {0, 0, 0, 30}, .align = Align::Top, .flags = Framed},
    {.kind = Kind::SpeedButton, .name = L"SpeedButtonMenu", .parent = L"TabControlTop", .caption = L"≡",
     .bounds = {370, 4, 22, 22}, .anchors = AnchorRight | AnchorTop},
    {.kind = Kind::StatusBar, .name = L"StatusBar1", .bounds = {0, 0, 0, 20}, .align = Align::Bottom},
    {.kind = Kind::GroupBox, .name = L"GroupBoxA", .caption = L"A", .bounds = {0, 0, 200, 0}, .align = Align::Left},
    {.kind = Kind::CheckBox, .name = L"CheckBoxOne", .parent = L"GroupBoxA", .caption = L"One", .bounds = {8, 20, 150, 17}},
    {.kind = Kind::RadioButton, .name = L"RadioA1", .parent = L"GroupBoxA", .caption = L"A1", .bounds = {8, 40, 150, 17}},
    {.kind = Kind::RadioButton, .name = L"RadioA2", .parent = L"GroupBoxA", .caption = L"A2", .bounds = {8, 60, 150, 17},
     .flags = Checked},
    {.kind = Kind::GroupBox, .name = L"GroupBoxB", .caption = L"B", .bounds = {0, 0, 0, 0}, .align = Align::Client},
    {.kind = Kind::RadioButton, .name = L"RadioB1", .parent = L"GroupBoxB", .caption = L"B1", .bounds = {8, 20, 150, 17},
     .flags = Checked},
    {.kind = Kind::ListView, .name = L"ListView1", .parent = L"GroupBoxB", .bounds = {8, 40, 180, 150},
     .flags = CheckBoxes | RowSelect, .items = L"Name\nCompany", .value = 80},
    {.kind = Kind::Button, .name = L"ButtonOk", .parent = L"GroupBoxB", .caption = L"Ok", .bounds = {8, 200, 80, 24},
     .flags = DefaultButton},
    {.kind = Kind::PopupMenu, .name = L"PopupMenu1"},
    {.kind = Kind::MenuItem, .name = L"N1", .parent = L"PopupMenu1", .caption = L"-"},
    {.kind = Kind::MenuItem, .name = L"Hidden", .parent = L"PopupMenu1", .caption = L"Hidden", .flags = Hidden},
    {.kind = Kind::MenuItem, .name = L"Theme", .parent = L"PopupMenu1", .caption = L"Theme"},
    {.kind = Kind::MenuItem, .name = L"Light", .parent = L"Theme", .caption = L"Light",
     .flags = RadioItem | AutoCheck | Checked, .value = 1},
    {.kind = Kind::MenuItem, .name = L"Dark", .parent = L"Theme", .caption = L"Dark", .flags = RadioItem | AutoCheck,
     .value = 1},
    {.kind = Kind::MenuItem, .name = L"N2", .parent = L"PopupMenu1", .caption = L"-"},
    {.kind = Kind::MenuItem, .name = L"N3", .parent = L"PopupMenu1", .caption = L"-"},
    {.kind = Kind::MenuItem, .name = L"About", .parent = L"PopupMenu1", .caption = L"About", .shortcut = L"F1"},
    {.kind = Kind::MenuItem, .name = L"Exit", .parent = L"PopupMenu1", .caption = L"Exit", .flags = Disabled},
    {.kind = Kind::MenuItem, .name = L"N4", .parent = L"PopupMenu1", .caption = L"-"},
};
constexpr FormDef kForm{.name = L"FormTest",
                        .className = L"TFormTest",
                        .caption = L"Test",
                        .clientWidth = 400,
                        .clientHeight = 300,
                        .minWidth = 300,
                        .minHeight = 200,
                        .components = kComponents};

// Visible message boxes of this process, topmost first.
BOOL CALLBACK CollectMessageBox(HWND window, LPARAM parameter)
{
    DWORD process = 0;
    ::GetWindowThreadProcessId(window, &process);
    wchar_t name[16]{};
    ::GetClassNameW(window, name, 16);
    if (process == ::GetCurrentProcessId() && ::IsWindowVisible(window) && lstrcmpW(name, L"#32770") == 0) {
        reinterpret_cast<std::vector<HWND>*>(parameter)->push_back(window);
    }
    return TRUE;
}

std::vector<HWND> OpenMessageBoxes()
{
    std::vector<HWND> boxes;
    ::EnumWindows(CollectMessageBox, reinterpret_cast<LPARAM>(&boxes));
    return boxes;
}

// Closes the menu being tracked, as a click elsewhere would.
void CALLBACK EndMenuLater(HWND, UINT, UINT_PTR id, DWORD)
{
    ::KillTimer(nullptr, id);
    ::EndMenu();
}

void PumpFor(DWORD milliseconds)
{
    const DWORD end = ::GetTickCount() + milliseconds;
    while (::GetTickCount() < end) {
        application::ProcessMessages();
        ::Sleep(5);
    }
}

LPARAM PointParameter(int x, int y)
{
    return MAKELPARAM(static_cast<WORD>(x), static_cast<WORD>(y));
}

class FormTest : public ::testing::Test {
protected:
    FormTest() { form.Create(); }

    // What a mouse click on a button sends its parent.
    static void ClickButton(HWND button) { ::SendMessageW(button, BM_CLICK, 0, 0); }

    static RECT ClientRectIn(HWND window, HWND reference)
    {
        RECT rect;
        ::GetWindowRect(window, &rect);
        ::MapWindowPoints(nullptr, reference, reinterpret_cast<POINT*>(&rect), 2);
        return rect;
    }

    Form form{kForm};
};

TEST_F(FormTest, ComponentsAreFoundByNameWithoutRegardToCase)
{
    EXPECT_EQ(form.FindComponent(L"checkboxone"), form.FindComponent(L"CheckBoxOne"));
    EXPECT_EQ(form.FindComponent(L"Missing"), nullptr);
    EXPECT_EQ(form.FindComponent(L""), nullptr);
    EXPECT_THROW((void)form.Get<RadioButton>(L"CheckBoxOne"), std::logic_error);
    EXPECT_EQ(form.Components().size(), std::size(kComponents));
    EXPECT_EQ(form.FindComponent(L"RadioA1")->Parent(), form.FindComponent(L"GroupBoxA"));
}

TEST_F(FormTest, TextPropertiesExistWhereTheKindHasThem)
{
    auto& check = form.Get<CheckBox>(L"CheckBoxOne");
    EXPECT_EQ(check.GetText(L"caption"), std::optional<std::wstring>(L"One"));
    EXPECT_TRUE(check.SetText(L"Caption", L"Uno"));
    wchar_t shown[16]{};
    ::GetWindowTextW(check.Handle(), shown, 16);
    EXPECT_STREQ(shown, L"Uno");
    EXPECT_FALSE(check.GetText(L"Title").has_value());
    EXPECT_FALSE(check.SetText(L"TextHint", L"x"));
    EXPECT_FALSE(form.FindComponent(L"PopupMenu1")->GetText(L"Hint").has_value());
    EXPECT_FALSE(form.FindComponent(L"StatusBar1")->GetText(L"Caption").has_value());
}

TEST_F(FormTest, CheckBoxRunsItsClickWhenItsStateChanges)
{
    auto& check = form.Get<CheckBox>(L"CheckBoxOne");
    int clicks = 0;
    check.onClick = [&] { ++clicks; };
    check.SetChecked(false); // no change
    EXPECT_EQ(clicks, 0);
    check.SetChecked(true);
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(::SendMessageW(check.Handle(), BM_GETCHECK, 0, 0), BST_CHECKED);
    ClickButton(check.Handle()); // the user unticks it
    EXPECT_EQ(clicks, 2);
    EXPECT_FALSE(check.Checked());
    EXPECT_EQ(::SendMessageW(check.Handle(), BM_GETCHECK, 0, 0), BST_UNCHECKED);
}

TEST_F(FormTest, EnterPressesTheDefaultButton)
{
    int clicks = 0;
    form.Get<Button>(L"ButtonOk").onClick = [&] { ++clicks; };
    form.Show();
    ::SetFocus(form.Get<CheckBox>(L"CheckBoxOne").Handle());
    ::PostMessageW(form.Get<CheckBox>(L"CheckBoxOne").Handle(), WM_KEYDOWN, VK_RETURN, 0);
    application::ProcessMessages();
    EXPECT_EQ(clicks, 1);
    EXPECT_FALSE(form.Get<CheckBox>(L"CheckBoxOne").Checked());
}

TEST_F(FormTest, RadioButtonsClickOnlyWhenCheckedAndOnlyWithinTheirParent)
{
    auto& a1 = form.Get<RadioButton>(L"RadioA1");
    auto& a2 = form.Get<RadioButton>(L"RadioA2");
    auto& b1 = form.Get<RadioButton>(L"RadioB1");
    int a1Clicks = 0;
    int a2Clicks = 0;
    a1.onClick = [&] { ++a1Clicks; };
    a2.onClick = [&] { ++a2Clicks; };

    a1.SetChecked(true);
    EXPECT_TRUE(a1.Checked());
    EXPECT_FALSE(a2.Checked());
    EXPECT_TRUE(b1.Checked()); // another group box, another group
    EXPECT_EQ(a1Clicks, 1);
    EXPECT_EQ(a2Clicks, 0); // unchecking runs nothing

    a1.SetChecked(false);
    EXPECT_EQ(a1Clicks, 1);
    ClickButton(a2.Handle());
    EXPECT_EQ(a2Clicks, 1);
    ClickButton(a2.Handle()); // already checked
    EXPECT_EQ(a2Clicks, 1);
    EXPECT_EQ(::SendMessageW(a1.Handle(), BM_GETCHECK, 0, 0), BST_UNCHECKED);
    EXPECT_EQ(::SendMessageW(a2.Handle(), BM_GETCHECK, 0, 0), BST_CHECKED);
}

TEST_F(FormTest, MenusShowWhatIsVisibleWithoutStraySeparators)
{
    auto& menu = form.Get<PopupMenu>(L"PopupMenu1");
    auto describe = [](HMENU handle) {
        std::wstring text;
        for (int i = 0; i < ::GetMenuItemCount(handle); ++i) {
            wchar_t caption[64]{};
            MENUITEMINFOW info{};
            info.cbSize = sizeof(info);
            info.fMask = MIIM_FTYPE | MIIM_STATE | MIIM_STRING | MIIM_SUBMENU;
            info.dwTypeData = caption;
            info.cch = 64;
            ::GetMenuItemInfoW(handle, static_cast<UINT>(i), TRUE, &info);
            if (info.fType & MFT_SEPARATOR) {
                text += L"-|";
                continue;
            }
            text += caption;
            if (info.fState & MFS_CHECKED) {
                text += (info.fType & MFT_RADIOCHECK) ? L"(o)" : L"(v)";
            }
            if (info.fState & MFS_DISABLED) {
                text += L"(off)";
            }
            if (info.hSubMenu != nullptr) {
                text += L"{";
                for (int j = 0; j < ::GetMenuItemCount(info.hSubMenu); ++j) {
                    wchar_t sub[64]{};
                    ::GetMenuStringW(info.hSubMenu, static_cast<UINT>(j), sub, 64, MF_BYPOSITION);
                    text += sub;
                    text += L";";
                }
                text += L"}";
            }
            text += L"|";
        }
        return text;
    };
    EXPECT_EQ(describe(menu.Build().get()), L"Theme{Light;Dark;}|-|About\tF1|Exit(off)|");

    form.Get<MenuItem>(L"Theme").SetVisible(false);
    form.Get<MenuItem>(L"Hidden").SetVisible(true);
    EXPECT_EQ(describe(menu.Build().get()), L"Hidden|-|About\tF1|Exit(off)|");

    // A radio item chosen from the menu unchecks its group.
    form.Get<MenuItem>(L"Dark").Click();
    EXPECT_TRUE(form.Get<MenuItem>(L"Dark").Checked());
    EXPECT_FALSE(form.Get<MenuItem>(L"Light").Checked());
}

TEST_F(FormTest, RuntimeMenuItemsShowTheirCaptionLiterally)
{
    auto& theme = form.Get<MenuItem>(L"Theme");
    MenuItem& added = theme.AddItem(L"Fish & Chips\t\tF&C", true, true);
    added.SetLiteralCaption(true);
    EXPECT_EQ(theme.Items().size(), 3u);
    EXPECT_EQ(form.FindComponent(L"Fish & Chips"), nullptr);
    unique_hmenu built = form.Get<PopupMenu>(L"PopupMenu1").Build();
    HMENU submenu = ::GetSubMenu(built.get(), 0);
    wchar_t text[64]{};
    ::GetMenuStringW(submenu, 2, text, 64, MF_BYPOSITION);
    EXPECT_STREQ(text, L"Fish && Chips\t\tF&&C");
    theme.ClearItems();
    EXPECT_EQ(theme.Items().size(), 2u); // the designed items stay
}

TEST_F(FormTest, ListViewReportsEveryCheckChangeOnce)
{
    auto& list = form.Get<ListView>(L"ListView1");
    std::vector<int> reported;
    list.onItemChecked = [&](int row) { reported.push_back(row); };
    list.AddRow({L"a", -1, {L"A Corp", L"C:\\a.exe", L"key-a", L"False"}, false});
    list.AddRow({L"b", -1, {L"B Corp"}, true}); // a checked row reports itself
    EXPECT_EQ(reported, (std::vector<int>{1}));

    list.SetChecked(0, true);
    list.SetChecked(0, true); // no change, no report
    EXPECT_EQ(reported, (std::vector<int>{1, 0}));
    EXPECT_TRUE(ListView_GetCheckState(list.Handle(), 0));

    // What a click on the box or the space bar does to the control.
    ListView_SetCheckState(list.Handle(), 1, FALSE);
    EXPECT_EQ(reported, (std::vector<int>{1, 0, 1}));
    EXPECT_FALSE(list.Row(1).checked);

    // Sub-items beyond the columns are kept by the list, not the control.
    EXPECT_EQ(list.Row(0).subItems[2], L"key-a");
    wchar_t company[32]{};
    ListView_GetItemText(list.Handle(), 1, 1, company, 32);
    EXPECT_STREQ(company, L"B Corp");
}

TEST_F(FormTest, AClickOrTheSpaceBarOnACheckBoxTogglesItOnce)
{
    auto& list = form.Get<ListView>(L"ListView1");
    form.Show();
    std::vector<int> reported;
    list.onItemChecked = [&](int row) { reported.push_back(row); };
    list.AddRow({L"a", -1, {}, false});
    list.AddRow({L"b", -1, {}, false});
    RECT bounds;
    ASSERT_TRUE(ListView_GetItemRect(list.Handle(), 1, &bounds, LVIR_BOUNDS));
    LVHITTESTINFO hit{};
    hit.pt = {bounds.left + 2, (bounds.top + bounds.bottom) / 2};
    for (; hit.pt.x < bounds.left + 40; ++hit.pt.x) {
        if (ListView_HitTest(list.Handle(), &hit) == 1 && (hit.flags & LVHT_ONITEMSTATEICON) != 0) {
            break;
        }
    }
    ASSERT_NE(hit.flags & LVHT_ONITEMSTATEICON, 0u);
    const LPARAM box = PointParameter(hit.pt.x, hit.pt.y);

    struct Case {
        const char* input;
        std::function<void()> send;
        bool checked;
    } cases[] = {
        {"click", [&] {
             ::SendMessageW(list.Handle(), WM_LBUTTONDOWN, MK_LBUTTON, box);
             ::SendMessageW(list.Handle(), WM_LBUTTONUP, 0, box);
         }, true},
        {"second click", [&] {
             ::SendMessageW(list.Handle(), WM_LBUTTONDOWN, MK_LBUTTON, box);
             ::SendMessageW(list.Handle(), WM_LBUTTONUP, 0, box);
         }, false},
        {"space bar", [&] {
             list.Select(1);
             ::SendMessageW(list.Handle(), WM_KEYDOWN, VK_SPACE, 0);
             ::SendMessageW(list.Handle(), WM_KEYUP, VK_SPACE, 0);
         }, true},
    };
    size_t reports = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        c.send();
        application::ProcessMessages();
        EXPECT_EQ(list.Row(1).checked, c.checked);
        EXPECT_EQ(ListView_GetCheckState(list.Handle(), 1) != FALSE, c.checked);
        EXPECT_EQ(reported.size(), ++reports); // one report, not two
        EXPECT_FALSE(list.Row(0).checked);
    }
}

TEST_F(FormTest, AMonitorOfAnotherDpiRescalesTheWindow)
{
    auto& list = form.Get<ListView>(L"ListView1");
    const int column = ListView_GetColumnWidth(list.Handle(), 0);
    const UINT dpi = form.Dpi();
    RECT suggested;
    ::GetWindowRect(form.Handle(), &suggested);
    suggested.right = suggested.left + (suggested.right - suggested.left) * 2;
    suggested.bottom = suggested.top + (suggested.bottom - suggested.top) * 2;
    ::SendMessageW(form.Handle(), WM_DPICHANGED, MAKEWPARAM(dpi * 2, dpi * 2), reinterpret_cast<LPARAM>(&suggested));
    EXPECT_EQ(form.Dpi(), dpi * 2);
    EXPECT_EQ(form.Scale(10), ::MulDiv(10, static_cast<int>(dpi) * 2, 96));
    EXPECT_EQ(ListView_GetColumnWidth(list.Handle(), 0), column * 2);
    RECT window;
    ::GetWindowRect(form.Handle(), &window);
    EXPECT_EQ(window.right - window.left, suggested.right - suggested.left);
}

TEST_F(FormTest, ListViewSortsStablyAndKeepsTheSelection)
{
    auto& list = form.Get<ListView>(L"ListView1");
    for (const wchar_t* name : {L"b", L"a2", L"c", L"a1"}) {
        list.AddRow({name, -1, {std::wstring(name).substr(0, 1)}, false});
    }
    list.Select(2); // "c"
    // By first letter only: "a2" and "a1" compare equal and keep their order.
    list.Sort([](const ListRow& x, const ListRow& y) { return x.caption[0] - y.caption[0]; });
    std::vector<std::wstring> order;
    for (int i = 0; i < list.RowCount(); ++i) {
        order.push_back(list.Row(i).caption);
        wchar_t shown[8]{};
        ListView_GetItemText(list.Handle(), i, 0, shown, 8);
        EXPECT_EQ(list.Row(i).caption, shown);
    }
    EXPECT_EQ(order, (std::vector<std::wstring>{L"a2", L"a1", L"b", L"c"}));
    EXPECT_EQ(list.Selected(), 3);
    list.DeleteRow(0);
    EXPECT_EQ(list.Row(0).caption, L"a1");
    EXPECT_EQ(ListView_GetItemCount(list.Handle()), 3);
}

TEST_F(FormTest, LayoutDocksAndAnchorsAtEverySize)
{
    auto& top = form.Get<TabControl>(L"TabControlTop");
    auto& button = form.Get<SpeedButton>(L"SpeedButtonMenu");
    auto& status = form.Get<StatusBar>(L"StatusBar1");
    auto& left = form.Get<Container>(L"GroupBoxA");
    auto& client = form.Get<Container>(L"GroupBoxB");
    for (const int width : {500, 700}) {
        RECT frame{0, 0, form.Scale(width), form.Scale(400)};
        ::AdjustWindowRectExForDpi(&frame, WS_OVERLAPPEDWINDOW, FALSE, 0, form.Dpi());
        ::SetWindowPos(form.Handle(), nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                       SWP_NOZORDER | SWP_NOMOVE);
        RECT area;
        ::GetClientRect(form.Handle(), &area);
        const RECT topRect = ClientRectIn(top.Handle(), form.Handle());
        const RECT buttonRect = ClientRectIn(button.Handle(), top.Handle());
        const RECT leftRect = ClientRectIn(left.Handle(), form.Handle());
        const RECT clientRect = ClientRectIn(client.Handle(), form.Handle());
        const RECT statusRect = ClientRectIn(status.Handle(), form.Handle());
        SCOPED_TRACE(width);
        EXPECT_EQ(topRect.right - topRect.left, area.right);
        EXPECT_EQ(topRect.bottom, form.Scale(30));
        // 400 - 370 - 22 = 8 units from the right edge, whatever the width.
        EXPECT_EQ(area.right - buttonRect.right, form.Scale(8));
        EXPECT_EQ(leftRect.top, topRect.bottom);
        EXPECT_EQ(leftRect.right - leftRect.left, form.Scale(200));
        EXPECT_EQ(clientRect.left, leftRect.right);
        EXPECT_EQ(clientRect.right, area.right);
        EXPECT_EQ(clientRect.bottom, statusRect.top);
    }
}

// A window whose own handler of one message fails.
class FailingForm : public Form {
public:
    using Form::Form;
    UINT failOn = 0;

protected:
    bool HandleMessage(UINT message, WPARAM, LPARAM, LRESULT&) override
    {
        if (message == failOn) {
            throw Error(ERROR_ACCESS_DENIED);
        }
        return false;
    }
};

TEST(FormErrors, AFailedHandlerCountsAsHandledAndKeepsTheWindow)
{
    struct Case {
        const char* what;
        UINT message;
        WPARAM wParam;
        bool inOnClose; // the window's close handler fails, not its message handler
        LRESULT expected;
    };
    const Case cases[] = {
        {"close handler", WM_CLOSE, 0, true, 0},
        {"close message", WM_CLOSE, 0, false, 0},
        {"close box", WM_SYSCOMMAND, SC_CLOSE, false, 0},
        {"minimise box", WM_SYSCOMMAND, SC_MINIMIZE, false, 0},
        {"end of session", WM_QUERYENDSESSION, 0, false, TRUE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FailingForm form(kForm);
        form.Create();
        form.Show();
        if (c.inOnClose) {
            form.onClose = [](bool&) { throw Error(ERROR_ACCESS_DENIED); };
        } else {
            form.failOn = c.message;
        }
        test::MessageBoxAnswer answer(IDOK);
        const LRESULT result = ::SendMessageW(form.Handle(), c.message, c.wParam, 0);
        EXPECT_TRUE(answer.Answered());
        EXPECT_EQ(answer.Text(), SystemMessage(ERROR_ACCESS_DENIED));
        EXPECT_EQ(result, c.expected);
        EXPECT_TRUE(::IsWindow(form.Handle()));
        EXPECT_TRUE(form.Visible());
        EXPECT_FALSE(::IsIconic(form.Handle()));
    }
}

TEST_F(FormTest, OneErrorBoxAtATime)
{
    std::atomic<int> clicks{0};
    auto& button = form.Get<Button>(L"ButtonOk");
    button.onClick = [&] {
        ++clicks;
        throw Error(ERROR_FILE_NOT_FOUND);
    };
    const auto click = [&] {
        ::PostMessageW(form.Handle(), WM_COMMAND, MAKEWPARAM(button.ControlId(), BN_CLICKED),
                       reinterpret_cast<LPARAM>(button.Handle()));
    };

    // Another thread waits for the first box, makes the handler fail again
    // under it, then answers every box there is.
    size_t boxesBefore = 0;
    size_t boxesAfterClick = 0;
    std::atomic<bool> done{false};
    std::thread observer([&] {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (OpenMessageBoxes().empty() && std::chrono::steady_clock::now() < deadline) {
            ::Sleep(10);
        }
        ::Sleep(100);
        boxesBefore = OpenMessageBoxes().size();
        click();
        while (clicks < 2 && std::chrono::steady_clock::now() < deadline) {
            ::Sleep(10);
        }
        ::Sleep(100);
        boxesAfterClick = OpenMessageBoxes().size();
        auto quiet = std::chrono::steady_clock::now();
        while (std::chrono::steady_clock::now() - quiet < std::chrono::milliseconds(300) &&
               std::chrono::steady_clock::now() < deadline + std::chrono::seconds(10)) {
            for (HWND box : OpenMessageBoxes()) {
                ::PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                               reinterpret_cast<LPARAM>(::GetDlgItem(box, IDOK)));
                quiet = std::chrono::steady_clock::now();
            }
            ::Sleep(20);
        }
        done = true;
    });
    click();
    while (!done) {
        PumpFor(20);
    }
    observer.join();
    EXPECT_EQ(boxesBefore, 1u);
    EXPECT_EQ(clicks, 2);
    EXPECT_EQ(boxesAfterClick, 1u);
}

TEST_F(FormTest, ASpeedButtonLeavesTheFocusWhereItWas)
{
    auto& list = form.Get<ListView>(L"ListView1");
    auto& button = form.Get<SpeedButton>(L"SpeedButtonMenu");
    form.Show();
    ::SetFocus(list.Handle());
    ASSERT_EQ(::GetFocus(), list.Handle());
    int clicks = 0;
    HWND focusWhileClicked = nullptr;
    button.onClick = [&] {
        ++clicks;
        focusWhileClicked = ::GetFocus();
        ::SetTimer(nullptr, 0, 100, EndMenuLater);
        RECT rect;
        ::GetWindowRect(button.Handle(), &rect);
        form.Get<PopupMenu>(L"PopupMenu1").Popup(form.Handle(), POINT{rect.right, rect.bottom});
    };
    RECT client;
    ::GetClientRect(button.Handle(), &client);
    const LPARAM centre = PointParameter(client.right / 2, client.bottom / 2);
    ::PostMessageW(button.Handle(), WM_LBUTTONDOWN, MK_LBUTTON, centre);
    ::PostMessageW(button.Handle(), WM_LBUTTONUP, 0, centre);
    application::ProcessMessages();
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(focusWhileClicked, list.Handle());
    EXPECT_EQ(::GetFocus(), list.Handle());
}

TEST_F(FormTest, EveryClickOfADoubleClickCountsOnCheckBoxes)
{
    struct Case {
        const wchar_t* name;
        bool before;
        bool after;
        int clicks;
    };
    const Case cases[] = {
        {L"CheckBoxOne", false, false, 2}, // ticked, then unticked
        {L"RadioA2", true, true, 0},       // stays checked
        {L"RadioA1", false, true, 1},      // checked by the first click
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.name);
        auto& control = form.Get<Control>(c.name);
        int clicks = 0;
        control.onClick = [&] { ++clicks; };
        const auto checked = [&] { return ::SendMessageW(control.Handle(), BM_GETCHECK, 0, 0) == BST_CHECKED; };
        ASSERT_EQ(checked(), c.before);
        // What a quick double click sends the control.
        RECT client;
        ::GetClientRect(control.Handle(), &client);
        const LPARAM point = PointParameter(client.right / 2, client.bottom / 2);
        for (const UINT message : {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_LBUTTONUP}) {
            ::PostMessageW(control.Handle(), message, message == WM_LBUTTONUP ? 0 : MK_LBUTTON, point);
        }
        application::ProcessMessages();
        EXPECT_EQ(checked(), c.after);
        EXPECT_EQ(clicks, c.clicks);
    }
}

TEST_F(FormTest, ColumnsKeepTheirMinimumWhileDraggedNarrower)
{
    auto& list = form.Get<ListView>(L"ListView1");
    HWND header = ListView_GetHeader(list.Handle());
    list.AutoSizeColumns(60);
    // Drags the right edge of the first column by `distance` pixels in a few
    // steps, as the mouse would; returns the narrowest width seen on the way.
    const auto drag = [&](int distance) {
        RECT item;
        Header_GetItemRect(header, 0, &item);
        const int x = item.right - 1;
        const int y = (item.top + item.bottom) / 2;
        int narrowest = ListView_GetColumnWidth(list.Handle(), 0);
        ::SendMessageW(header, WM_LBUTTONDOWN, MK_LBUTTON, PointParameter(x, y));
        for (int step = 1; step <= 4; ++step) {
            ::SendMessageW(header, WM_MOUSEMOVE, MK_LBUTTON, PointParameter(x + distance * step / 4, y));
            narrowest = std::min(narrowest, ListView_GetColumnWidth(list.Handle(), 0));
        }
        ::SendMessageW(header, WM_LBUTTONUP, 0, PointParameter(x + distance, y));
        return std::min(narrowest, ListView_GetColumnWidth(list.Handle(), 0));
    };
    const auto headerWidth = [&] {
        RECT item;
        Header_GetItemRect(header, 0, &item);
        return static_cast<int>(item.right - item.left);
    };
    for (const UINT dpi : {form.Dpi(), form.Dpi() * 2}) {
        if (dpi != form.Dpi()) {
            RECT suggested;
            ::GetWindowRect(form.Handle(), &suggested);
            ::SendMessageW(form.Handle(), WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
        }
        SCOPED_TRACE(dpi);
        const int minimum = form.Scale(60);
        ListView_SetColumnWidth(list.Handle(), 0, minimum + 40);
        EXPECT_EQ(drag(30), minimum + 40); // wider goes through
        EXPECT_EQ(ListView_GetColumnWidth(list.Handle(), 0), minimum + 70);
        EXPECT_EQ(drag(-200), minimum);
        EXPECT_EQ(ListView_GetColumnWidth(list.Handle(), 0), minimum);
        EXPECT_EQ(headerWidth(), minimum);
        // A width set on the header directly obeys too.
        HDITEMW narrow{};
        narrow.mask = HDI_WIDTH;
        narrow.cxy = 5;
        Header_SetItem(header, 0, &narrow);
        EXPECT_EQ(ListView_GetColumnWidth(list.Handle(), 0), minimum);
        EXPECT_EQ(headerWidth(), minimum);
    }
}

} // namespace
} // namespace merovane::ui
