#include "main_window/every_icon_toggle.h"

#include "base/error.h"
#include "core/show_every_icon.h"
#include "main_window/main_window_definition.h"
#include "ui/application.h"
#include "ui/component.h"

#include <commctrl.h>

namespace merovane {

using namespace main_window;

namespace {

// The hot-key control's value as RegisterHotKey's modifiers and key.
UINT HotKeyModifiers(WORD value)
{
    const BYTE flags = HIBYTE(value);
    UINT modifiers = MOD_NOREPEAT;
    if ((flags & HOTKEYF_ALT) != 0) {
        modifiers |= MOD_ALT;
    }
    if ((flags & HOTKEYF_CONTROL) != 0) {
        modifiers |= MOD_CONTROL;
    }
    if ((flags & HOTKEYF_SHIFT) != 0) {
        modifiers |= MOD_SHIFT;
    }
    return modifiers;
}

} // namespace

EveryIconToggle::EveryIconToggle(HWND window, PromotionWatcher& worker, std::function<std::wstring()> statePath,
                                 Host host)
    : window_(window), worker_(worker), statePath_(std::move(statePath)), host_(std::move(host))
{
}

void EveryIconToggle::Toggle()
{
    const std::wstring state = statePath_();
    const bool showing = ShowingEveryIcon(state);
    {
        // No pass writes between the reading and the writing.
        const PromotionWatcher::Hold hold(worker_);
        try {
            if (showing) {
                PutBackEveryIcon(state);
            } else {
                ShowEveryIcon(state);
            }
        } catch (const Error& error) {
            throw InContext(host_.message(kLangEveryIconNotChanged), error);
        }
    }
    host_.iconsChanged();
    host_.say(host_.message(showing ? kLangEveryIconPutBack : kLangEveryIconShown));
}

void EveryIconToggle::PutBackReporting(bool quietly)
{
    const std::wstring state = statePath_();
    if (!ShowingEveryIcon(state)) {
        return;
    }
    try {
        const PromotionWatcher::Hold hold(worker_);
        PutBackEveryIcon(state);
    } catch (const Error& error) {
        if (!quietly) {
            ui::application::ShowError(InContext(host_.message(kLangEveryIconNotChanged), error).message());
        }
    }
}

bool EveryIconToggle::RegisterHotKey(WORD value)
{
    UnregisterHotKey();
    if (value == 0 || LOBYTE(value) == 0) {
        return true;
    }
    if (!::RegisterHotKey(window_, kHotKeyId, HotKeyModifiers(value), LOBYTE(value))) {
        host_.say(FormatText(host_.message(kLangHotKeyTaken), ui::HotKeyText(value)));
        return false;
    }
    hotKeyRegistered_ = true;
    return true;
}

void EveryIconToggle::UnregisterHotKey()
{
    if (hotKeyRegistered_) {
        ::UnregisterHotKey(window_, kHotKeyId);
        hotKeyRegistered_ = false;
    }
}

} // namespace merovane
