#pragma once

// "Show every icon for now", from the general menu and from its hot key: the
// state file beside the settings remembers how the icons were, so they go
// back as they were at exit or at the next start.

#include "core/promotion_watcher.h"
#include "ui/form_definition.h"

#include <windows.h>

#include <functional>
#include <string>

namespace merovane::ui {
class MenuItem;
} // namespace merovane::ui

namespace merovane {

class EveryIconToggle {
public:
    struct Host {
        // A message text of the window's language (a Lang* item).
        std::function<std::wstring(ui::Named<ui::MenuItem>)> message;
        // Puts a text on the status line.
        std::function<void(const std::wstring&)> say;
        // The icons changed: the list shows them again if it is visible.
        std::function<void()> iconsChanged;
    };

    // WM_HOTKEY's id for the key.
    static constexpr int kHotKeyId = 1;

    // `window` gets the hot key; `worker` is held while the icons change;
    // `statePath` names the state file.
    EveryIconToggle(HWND window, PromotionWatcher& worker, std::function<std::wstring()> statePath, Host host);
    EveryIconToggle(const EveryIconToggle&) = delete;
    EveryIconToggle& operator=(const EveryIconToggle&) = delete;

    // Shows every icon for now, or puts them back as they were.
    void Toggle();
    // Puts the icons back as they were before "show every icon": at exit
    // and at the start after a run that could not.
    void PutBackReporting(bool quietly);
    // Registers the key (0: none, the key is let go). False when another
    // program holds the combination; the status line says so.
    bool RegisterHotKey(WORD value);
    void UnregisterHotKey();

private:
    HWND window_;
    PromotionWatcher& worker_;
    std::function<std::wstring()> statePath_;
    Host host_;
    bool hotKeyRegistered_ = false;
};

} // namespace merovane
