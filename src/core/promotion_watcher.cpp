#include "core/promotion_watcher.h"

#include "core/icon_store.h"

#include <string>

namespace merovane {

namespace {

unique_handle NewEvent(bool manualReset)
{
    unique_handle event(::CreateEventW(nullptr, manualReset ? TRUE : FALSE, FALSE, nullptr));
    if (!event) {
        ThrowLastError();
    }
    return event;
}

constexpr DWORD kWatchedChanges = REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET;

// The deepest key on the way to NotifyIconSettings that exists, opened to be
// watched: "Control Panel", or HKEY_CURRENT_USER itself.
unique_hkey OpenNearestParent()
{
    unique_hkey key;
    const std::wstring path(kNotifyIconSettingsKey);
    const std::wstring parent = path.substr(0, path.rfind(L'\\'));
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, parent.c_str(), 0, KEY_NOTIFY, key.put()) == ERROR_SUCCESS) {
        return key;
    }
    ::RegOpenKeyExW(HKEY_CURRENT_USER, nullptr, 0, KEY_NOTIFY, key.put());
    return key;
}

} // namespace

PromotionWatcher::PromotionWatcher()
    : stopEvent_(NewEvent(true)), wakeEvent_(NewEvent(false)), released_(NewEvent(true))
{
    ::SetEvent(released_.get());
}

PromotionWatcher::Hold::Hold(PromotionWatcher& watcher) : watcher_(watcher)
{
    if (watcher_.holds_++ == 0) {
        ::ResetEvent(watcher_.released_.get());
    }
}

PromotionWatcher::Hold::~Hold()
{
    if (--watcher_.holds_ == 0) {
        ::SetEvent(watcher_.released_.get());
    }
}

PromotionWatcher::~PromotionWatcher()
{
    Stop();
}

void PromotionWatcher::Start(PromotionRule rule, std::function<bool()> beforePass)
{
    if (!rule) {
        Stop();
        return;
    }
    {
        const std::lock_guard lock(mutex_);
        rule_ = std::move(rule);
        beforePass_ = std::move(beforePass);
        ruleChanged_ = true;
        quiet_ = false;
    }
    if (Running()) {
        ::SetEvent(wakeEvent_.get());
        return;
    }
    stopping_ = false;
    ::ResetEvent(stopEvent_.get());
    passes_ = 0;
    worker_ = std::thread([this] { Run(); });
}

void PromotionWatcher::Stop()
{
    if (!Running()) {
        return;
    }
    stopping_ = true;
    ::SetEvent(stopEvent_.get());
    worker_.join();
    const std::lock_guard lock(mutex_);
    rule_ = nullptr;
    beforePass_ = nullptr;
    quiet_ = false;
}

bool PromotionWatcher::WaitUntilQuiet(DWORD timeoutMs)
{
    std::unique_lock lock(mutex_);
    return quietChanged_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return quiet_ || !Running(); });
}

void PromotionWatcher::SetQuiet(bool quiet)
{
    {
        const std::lock_guard lock(mutex_);
        quiet_ = quiet && !ruleChanged_;
    }
    quietChanged_.notify_all();
}

void PromotionWatcher::Pass(bool full)
{
    PromotionRule rule;
    std::function<bool()> beforePass;
    {
        const std::lock_guard lock(mutex_);
        rule = rule_;
        beforePass = beforePass_;
        if (ruleChanged_) {
            ruleChanged_ = false;
            full = true;
        }
    }
    if (beforePass && beforePass()) {
        full = true;
    }
    if (full) {
        memory_.clear();
    }
    try {
        ApplyPromotionPass(rule, &memory_, [this] {
            const HANDLE events[] = {stopEvent_.get(), released_.get()};
            ::WaitForMultipleObjects(2, events, FALSE, INFINITE);
            // A new rule ends the pass of the old one: the next pass is a
            // full one with the new rule.
            const std::lock_guard lock(mutex_);
            return !stopping_.load() && !ruleChanged_;
        });
    } catch (const Error& error) {
        memory_.clear();
        if (onPassFailed && !stopping_) {
            onPassFailed(error);
        }
    } catch (...) {
        memory_.clear(); // out of memory: the next change tries again
    }
    ++passes_;
}

void PromotionWatcher::ReportStop(const Error& error) noexcept
{
    try {
        if (onPassFailed && !stopping_) {
            onPassFailed(error);
        }
    } catch (...) {
        // The window is going: nobody is left to tell.
    }
}

void PromotionWatcher::Run() noexcept
{
    unique_handle parentChanged;
    unique_handle entriesChanged;
    try {
        parentChanged = NewEvent(false);
        entriesChanged = NewEvent(false);
    } catch (const Error& error) {
        ReportStop(error);
        return;
    }
    const std::wstring path(kNotifyIconSettingsKey);
    bool full = true;
    while (!stopping_) {
        // Armed before the key is looked at, so a key created in between
        // still wakes the worker.
        unique_hkey parent = OpenNearestParent();
        if (parent) {
            ::RegNotifyChangeKeyValue(parent.get(), FALSE, REG_NOTIFY_CHANGE_NAME, parentChanged.get(), TRUE);
        }
        unique_hkey entries;
        if (::RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_NOTIFY, entries.put()) == ERROR_SUCCESS &&
            ::RegNotifyChangeKeyValue(entries.get(), TRUE, kWatchedChanges, entriesChanged.get(), TRUE) !=
                ERROR_SUCCESS) {
            entries.reset();
        }
        Pass(full); // a missing key makes it a single failed open
        full = false;

        bool reopen = false;
        while (!stopping_ && !reopen) {
            const HANDLE events[] = {stopEvent_.get(), wakeEvent_.get(), parentChanged.get(),
                                     entriesChanged.get()};
            const DWORD count = entries ? 4 : 3;
            DWORD signalled = ::WaitForMultipleObjects(count, events, FALSE, 0);
            if (signalled == WAIT_TIMEOUT) {
                SetQuiet(true);
                signalled = ::WaitForMultipleObjects(count, events, FALSE, INFINITE);
                SetQuiet(false);
            }
            switch (signalled) {
            case WAIT_OBJECT_0 + 1:
                Pass(true);
                break;
            case WAIT_OBJECT_0 + 2:
                // A key next to NotifyIconSettings came or went: it may be
                // that one, deleted or created again.
                reopen = true;
                full = true;
                break;
            case WAIT_OBJECT_0 + 3:
                // More changes of the same burst join this pass.
                if (::WaitForSingleObject(stopEvent_.get(), kSettleMs) == WAIT_OBJECT_0) {
                    break;
                }
                if (::RegNotifyChangeKeyValue(entries.get(), TRUE, kWatchedChanges, entriesChanged.get(), TRUE) !=
                    ERROR_SUCCESS) {
                    reopen = true; // the key is gone
                    full = true;
                    break;
                }
                Pass(false);
                break;
            case WAIT_OBJECT_0:
                stopping_ = true;
                break;
            default:
                // Nothing would keep the entries at the policy any more: say so
                // rather than stop unnoticed.
                ReportStop(Error(signalled == WAIT_FAILED ? ::GetLastError() : ERROR_INVALID_HANDLE));
                stopping_ = true;
                break;
            }
        }
    }
    SetQuiet(true);
}

} // namespace merovane
