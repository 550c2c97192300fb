#pragma once

// Keeps the notification-area entries at what a promotion rule asks, without
// polling: a worker thread sleeps on the registry's change notification for
// HKCU\Control Panel\NotifyIconSettings and its subkeys, and runs a pass
// (core/promotion_pass.h) when something changed there. A burst of changes
// makes one or a few passes, never two at a time; while nothing changes the
// worker costs no processor time and reads nothing. The key may be missing,
// deleted or created again: the worker then waits on the folder above it.

#include "base/error.h"
#include "base/handles.h"
#include "core/promotion_pass.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace merovane {

class PromotionWatcher {
public:
    PromotionWatcher();
    ~PromotionWatcher(); // stops the worker
    PromotionWatcher(const PromotionWatcher&) = delete;
    PromotionWatcher& operator=(const PromotionWatcher&) = delete;

    // Watches with `rule` from now on and runs a full pass at once: starts the
    // worker, or hands a running one the new rule. An empty rule stops it.
    // `beforePass`, when given, runs on the worker before every pass; true
    // says what the rule depends on changed (a rules file read again), and
    // makes the pass a full one. It must not throw.
    void Start(PromotionRule rule, std::function<bool()> beforePass = nullptr);
    // Asks the worker to end, a running pass at its next entry, and waits
    // for it. Nothing is called back afterwards.
    void Stop();
    [[nodiscard]] bool Running() const noexcept { return worker_.joinable(); }

    // Called on the worker when a pass failed (a write the system refused;
    // the next change runs a pass again), and when the worker itself cannot
    // go on (it then ends). Set it before Start.
    std::function<void(const Error&)> onPassFailed;

    // Passes run since the worker started, for tests and the benchmark.
    [[nodiscard]] int PassCount() const noexcept { return passes_.load(); }
    // While a Hold lives, passes wait (a running one at its next entry): the
    // list's load reads the same keys and should not share the registry with
    // a pass. Holds nest; the last one to go lets the passes run.
    class Hold {
    public:
        explicit Hold(PromotionWatcher& watcher);
        ~Hold();
        Hold(const Hold&) = delete;
        Hold& operator=(const Hold&) = delete;

    private:
        PromotionWatcher& watcher_;
    };

    // Waits until the worker has run every pass asked of it so far and sleeps
    // on the notification; false when that takes longer than the timeout.
    bool WaitUntilQuiet(DWORD timeoutMs = 10'000);

    // How long a notification waits for more changes before its pass. Short:
    // it is part of every new entry's wait, and a pass that finds nothing
    // changed costs one enumeration.
    static constexpr DWORD kSettleMs = 5;

private:
    void Run() noexcept;
    // The worker cannot go on (its events or its wait failed): onPassFailed
    // hears it once.
    void ReportStop(const Error& error) noexcept;
    // Runs one pass with the current rule; a full one forgets what earlier
    // passes found.
    void Pass(bool full);
    void SetQuiet(bool quiet);

    std::thread worker_;
    unique_handle stopEvent_;
    unique_handle wakeEvent_; // the rule changed
    unique_handle released_;  // set while no Hold lives
    int holds_ = 0;           // the user-interface thread's
    std::atomic<bool> stopping_{false};
    std::atomic<int> passes_{0};

    std::mutex mutex_;
    std::condition_variable quietChanged_;
    PromotionRule rule_;     // guarded by mutex_
    std::function<bool()> beforePass_; // guarded by mutex_
    bool ruleChanged_ = false; // guarded by mutex_
    bool quiet_ = false;      // guarded by mutex_
    PromotionMemory memory_;  // the worker's own
};

} // namespace merovane
