#pragma once

// The program's presence in the notification area: the icon, its three
// images and its hint, the window hidden to it and shown from it, and the
// general menu opened from it.

#include "base/handles.h"

#include <windows.h>

#include <functional>

namespace merovane::ui {
class PopupMenu;
class TrayIcon;
} // namespace merovane::ui

namespace merovane {

class TrayPresence {
public:
    // `window` is the main window, shown and hidden from here; `dpi` sizes
    // the images. `prepareMenu` sets the general menu's items for an opening
    // from the icon.
    TrayPresence(HWND window, UINT dpi, ui::TrayIcon& icon, ui::PopupMenu& menu, std::function<void()> prepareMenu);
    TrayPresence(const TrayPresence&) = delete;
    TrayPresence& operator=(const TrayPresence&) = delete;

    void Add();
    void Remove();

    // Picks the icon image from the colour option and the taskbar's light or
    // dark setting; errors leave the image as it is.
    void UpdateImage(bool colour);
    // The image shown: 0 dark grey, 1 light grey, 2 colour.
    [[nodiscard]] int Image() const noexcept { return image_; }

    // The window starts hidden here; a maximised one shows maximised the
    // first time.
    void StartHidden(bool maximized);
    // Started in the tray with a maximised window that was never shown yet.
    [[nodiscard]] bool PendingMaximize() const noexcept { return pendingMaximize_; }
    // Shows the window from the notification area (double click, "Show main
    // window", the keyboard on the icon, a second start): with its taskbar
    // button, maximised if it was, in front.
    void ShowFromTray();
    // Hides the window to the notification area, without a taskbar button.
    void HideToTray();

private:
    void SetImage(int index);
    void UpdateHint();
    void ToggleFromTray();
    void OpenMenu(POINT screenPoint);
    [[nodiscard]] bool WindowVisible() const { return ::IsWindowVisible(window_) != FALSE; }

    HWND window_;
    ui::TrayIcon& icon_;
    ui::PopupMenu& menu_;
    std::function<void()> prepareMenu_;
    unique_hicon images_[3];
    int image_ = 0;
    bool pendingMaximize_ = false;
};

} // namespace merovane
