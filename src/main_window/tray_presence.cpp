#include "main_window/tray_presence.h"

#include "base/file_info.h"
#include "base/settings_file.h"
#include "base/startup.h"
#include "base/theme_reader.h"
#include "ui/application.h"
#include "ui/menu.h"
#include "ui/tray_icon.h"

#include <iterator>

namespace merovane {

namespace {

void AddExStyle(HWND window, LONG_PTR style)
{
    ::SetWindowLongPtrW(window, GWL_EXSTYLE, ::GetWindowLongPtrW(window, GWL_EXSTYLE) | style);
}

void RemoveExStyle(HWND window, LONG_PTR style)
{
    ::SetWindowLongPtrW(window, GWL_EXSTYLE, ::GetWindowLongPtrW(window, GWL_EXSTYLE) & ~style);
}

} // namespace

TrayPresence::TrayPresence(HWND window, UINT dpi, ui::TrayIcon& icon, ui::PopupMenu& menu,
                           std::function<void()> prepareMenu)
    : window_(window), icon_(icon), menu_(menu), prepareMenu_(std::move(prepareMenu))
{
    // The notification area shows small icons; the images are drawn at 32 x 32.
    const int size = ::GetSystemMetricsForDpi(SM_CXSMICON, dpi);
    const wchar_t* images[] = {L"TRAYDARK", L"TRAYLIGHT", L"TRAYCOLOR"};
    for (size_t i = 0; i < std::size(images); ++i) {
        images_[i].reset(static_cast<HICON>(
            ::LoadImageW(::GetModuleHandleW(nullptr), images[i], IMAGE_ICON, size, size, LR_DEFAULTCOLOR)));
    }
    SetImage(0);
    icon_.onMouseMove = [this] { UpdateHint(); };
    icon_.onDblClick = [this] { ToggleFromTray(); };
    icon_.onSelect = [this] { ShowFromTray(); };
    icon_.onRightClick = [this](POINT point) { OpenMenu(point); };
}

void TrayPresence::Add()
{
    icon_.Add();
}

void TrayPresence::Remove()
{
    icon_.Remove();
}

void TrayPresence::StartHidden(bool maximized)
{
    HideToTray();
    pendingMaximize_ = maximized;
}

void TrayPresence::SetImage(int index)
{
    image_ = index;
    icon_.SetIcon(images_[index].get());
}

void TrayPresence::UpdateImage(bool colour)
{
    try {
        if (colour) {
            SetImage(2);
        } else {
            SetImage(IsSystemLightTheme() ? 0 : 1);
        }
        ui::application::ProcessMessages();
    } catch (...) {
        // The icon keeps its image.
    }
}

void TrayPresence::UpdateHint()
{
    std::wstring hint = GetFileDescription(OwnExecutablePath()) + L"\r" + ProgramVersionText() + L" " +
                        ArchitectureLabel();
    if (PortableMode()) {
        hint += L"\r Portable";
    }
    icon_.SetHint(hint);
    ui::application::ProcessMessages();
    prepareMenu_();
}

void TrayPresence::ToggleFromTray()
{
    if (WindowVisible()) {
        HideToTray();
        return;
    }
    ShowFromTray();
}

void TrayPresence::ShowFromTray()
{
    // Back with a taskbar button and an Alt+Tab entry.
    RemoveExStyle(window_, WS_EX_TOOLWINDOW);
    if (pendingMaximize_) {
        pendingMaximize_ = false;
        ::ShowWindow(window_, SW_SHOWMAXIMIZED);
    } else if (!WindowVisible()) {
        ::ShowWindow(window_, SW_SHOW); // as the form shows itself
        ::SetForegroundWindow(window_);
    }
    ::SetWindowPos(window_, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_SHOWWINDOW | SWP_NOMOVE | SWP_NOSIZE);
    if (::IsIconic(window_)) {
        ::ShowWindow(window_, SW_RESTORE);
    }
    ::BringWindowToTop(window_);
    ::SetForegroundWindow(window_);
}

void TrayPresence::HideToTray()
{
    ::ShowWindow(window_, SW_HIDE);
    AddExStyle(window_, WS_EX_TOOLWINDOW);
}

void TrayPresence::OpenMenu(POINT screenPoint)
{
    // Opened from the icon, by the mouse or the keyboard: the tray's items.
    prepareMenu_();
    ::SetForegroundWindow(window_);
    ui::application::ProcessMessages();
    menu_.Popup(window_, screenPoint, TPM_RIGHTALIGN | TPM_BOTTOMALIGN);
}

} // namespace merovane
