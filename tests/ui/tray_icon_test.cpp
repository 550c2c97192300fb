#include "ui/application.h"
#include "ui/component.h"
#include "ui/form.h"
#include "ui/messages.h"
#include "ui/tray_icon.h"

#include <gtest/gtest.h>

#include <shellapi.h>

namespace merovane::ui {
namespace {

// Whether the notification area shows the window's icon: only an icon it has
// accepts a change.
bool InNotificationArea(HWND window)
{
    NOTIFYICONDATAW data{};
    data.cbSize = sizeof(data);
    data.hWnd = window;
    data.uID = 1;
    return ::Shell_NotifyIconW(NIM_MODIFY, &data) != FALSE;
}

constexpr ComponentDef kTrayComponents[] = {{.kind = Kind::TrayIcon, .name = L"TrayIcon1", .hint = L"Tray"}};
constexpr FormDef kTrayForm{
    .name = L"FormTray", .className = L"TFormTray", .caption = L"Tray", .components = kTrayComponents};

TEST(TrayIconMessages, TheIconAnswersItsOwnMessagesInAnyWindow)
{
    Form form(kTrayForm);
    form.Create();
    auto& tray = form.Get<TrayIcon>(L"TrayIcon1");
    int doubleClicks = 0;
    tray.onDblClick = [&] { ++doubleClicks; };
    tray.Add();
    ASSERT_TRUE(InNotificationArea(form.Handle()));
    ::SendMessageW(form.Handle(), WM_APP_TRAYICON, 0, MAKELPARAM(WM_LBUTTONDBLCLK, 1));
    EXPECT_EQ(doubleClicks, 1);

    // Explorer restarted with a new taskbar: an icon that was shown is shown
    // again, a removed one stays away.
    const UINT taskbarCreated = ::RegisterWindowMessageW(L"TaskbarCreated");
    struct Case {
        const char* what;
        bool added;
    };
    for (const Case c : {Case{"added", true}, Case{"removed", false}}) {
        SCOPED_TRACE(c.what);
        if (c.added) {
            tray.Add();
        } else {
            tray.Remove();
        }
        NOTIFYICONDATAW gone{};
        gone.cbSize = sizeof(gone);
        gone.hWnd = form.Handle();
        gone.uID = 1;
        ::Shell_NotifyIconW(NIM_DELETE, &gone); // the old taskbar took it along
        ::SendMessageW(form.Handle(), taskbarCreated, 0, 0);
        EXPECT_EQ(InNotificationArea(form.Handle()), c.added);
        EXPECT_EQ(tray.Added(), c.added);
    }
}

TEST(Application, ProcessMessagesLeavesAQuitForTheMainLoop)
{
    ::PostQuitMessage(3);
    application::ProcessMessages();
    MSG msg;
    ASSERT_TRUE(::PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 3u);
}

} // namespace
} // namespace merovane::ui
