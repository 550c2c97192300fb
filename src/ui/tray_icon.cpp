#include "ui/tray_icon.h"

#include "ui/form.h"
#include "ui/messages.h"

#include <shellapi.h>
#include <windowsx.h>

namespace merovane::ui {

TrayIcon::TrayIcon(Form& owner, const ComponentDef& def)
    : Component(owner, def), taskbarCreated_(::RegisterWindowMessageW(L"TaskbarCreated"))
{
}

TrayIcon::~TrayIcon()
{
    Remove();
}

bool TrayIcon::Notify(DWORD message, UINT flags)
{
    NOTIFYICONDATAW data{};
    data.cbSize = sizeof(data);
    data.hWnd = Owner().Handle();
    data.uID = 1;
    data.uFlags = flags;
    data.uCallbackMessage = WM_APP_TRAYICON;
    data.hIcon = icon_;
    ::lstrcpynW(data.szTip, hint_.c_str(), static_cast<int>(std::size(data.szTip)));
    if (message == NIM_SETVERSION) {
        data.uVersion = NOTIFYICON_VERSION_4;
    }
    return ::Shell_NotifyIconW(message, &data) != FALSE;
}

void TrayIcon::Add()
{
    if (Owner().Handle() == nullptr) {
        return;
    }
    Notify(NIM_DELETE, 0);
    added_ = Notify(NIM_ADD, NIF_MESSAGE | NIF_ICON | NIF_TIP | NIF_SHOWTIP);
    version4_ = added_ && Notify(NIM_SETVERSION, 0);
}

void TrayIcon::Remove()
{
    if (added_ && Owner().Handle() != nullptr) {
        Notify(NIM_DELETE, 0);
    }
    added_ = false;
}

void TrayIcon::SetIcon(HICON icon)
{
    icon_ = icon;
    if (added_) {
        Notify(NIM_MODIFY, NIF_ICON);
    }
}

void TrayIcon::SetHint(std::wstring_view hint)
{
    hint_ = hint;
    if (added_) {
        Notify(NIM_MODIFY, NIF_TIP | NIF_SHOWTIP);
    }
}

bool TrayIcon::HandleFormMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result)
{
    if (message == WM_APP_TRAYICON) {
        HandleCallback(wParam, lParam);
        result = 0;
        return true;
    }
    // The icon went with the old taskbar; one that was shown is shown again.
    if (message == taskbarCreated_ && taskbarCreated_ != 0 && added_) {
        Add();
        result = 0;
        return true;
    }
    return false;
}

void TrayIcon::HandleCallback(WPARAM wParam, LPARAM lParam)
{
    // Version 4 puts the event in the low word and the point in wParam; the
    // older form sends the bare mouse message.
    const UINT event = version4_ ? LOWORD(lParam) : static_cast<UINT>(lParam);
    switch (event) {
    case WM_LBUTTONUP:
        lastButtonUp_ = ::GetTickCount();
        break;
    case NIN_SELECT:
    case NIN_KEYSELECT:
        // Version 4 also sends NIN_SELECT after every left click; only the
        // keyboard's (Enter or Space on the icon) is a request to open.
        if (event == NIN_SELECT && ::GetTickCount() - lastButtonUp_ <= ::GetDoubleClickTime()) {
            break;
        }
        if (onSelect) {
            onSelect();
        }
        break;
    case WM_MOUSEMOVE:
        if (onMouseMove) {
            onMouseMove();
        }
        break;
    case WM_LBUTTONDBLCLK:
    case WM_RBUTTONDBLCLK:
    case WM_MBUTTONDBLCLK:
        if (onDblClick) {
            onDblClick();
        }
        break;
    case WM_CONTEXTMENU:
    case WM_RBUTTONUP:
        if ((event == WM_CONTEXTMENU) == version4_ && onRightClick) {
            POINT point{};
            if (version4_) {
                point = {GET_X_LPARAM(wParam), GET_Y_LPARAM(wParam)};
            } else {
                ::GetCursorPos(&point);
            }
            onRightClick(point);
        }
        break;
    default:
        break;
    }
}

} // namespace merovane::ui
