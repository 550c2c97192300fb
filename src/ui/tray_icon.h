#pragma once

// The notification-area icon: one per window that owns it. Its tooltip is the
// component's Hint.

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
    [[nodiscard]] HICON Icon() const noexcept { return icon_; }

    // Called by the owner for its WM_APP_TRAYICON messages.
    void HandleCallback(WPARAM wParam, LPARAM lParam);

    std::function<void()> onMouseMove;
    std::function<void()> onDblClick;
    // The icon was opened from the keyboard.
    std::function<void()> onSelect;
    std::function<void(POINT screenPoint)> onRightClick;

private:
    bool Notify(DWORD message, UINT flags);

    HICON icon_ = nullptr;
    bool added_ = false;
    bool version4_ = false;
    DWORD lastButtonUp_ = 0; // GetTickCount of the last left-button release
};

} // namespace merovane::ui
