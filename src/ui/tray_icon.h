#pragma once

// The notification-area icon: one per window that owns it. Its tooltip is the
// component's Hint. It answers its own messages in the window: the mouse and
// keyboard events on it, and Explorer's restart, which brings it back.

#include "ui/component.h"

namespace merovane::ui {

class TrayIcon : public Component {
public:
    TrayIcon(Form& owner, const ComponentDef& def);
    ~TrayIcon() override;

    [[nodiscard]] bool HasHint() const override { return true; }
    [[nodiscard]] const std::wstring& Hint() const noexcept { return hint_; }
    void SetHint(std::wstring_view hint);

    // Shows the icon in the notification area (again, after Explorer restarts).
    void Add();
    void Remove();
    [[nodiscard]] bool Added() const noexcept { return added_; }
    // The icon shown; not owned.
    void SetIcon(HICON icon);

    std::function<void()> onMouseMove;
    std::function<void()> onDblClick;
    // The icon was opened from the keyboard.
    std::function<void()> onSelect;
    std::function<void(POINT screenPoint)> onRightClick;

protected:
    bool HandleFormMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

private:
    // What one WM_APP_TRAYICON message reports.
    void HandleCallback(WPARAM wParam, LPARAM lParam);
    bool Notify(DWORD message, UINT flags);

    UINT taskbarCreated_; // the message Explorer broadcasts when it has made a new taskbar

    HICON icon_ = nullptr;
    bool added_ = false;
    bool version4_ = false;
    DWORD lastButtonUp_ = 0; // GetTickCount of the last left-button release
};

} // namespace merovane::ui
