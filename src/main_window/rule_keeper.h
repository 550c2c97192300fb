#pragma once

// What keeps the entries at the rules while the window runs: the
// organisation's policies as last read, the refresh worker, and the watches
// on Rules.ini's folder and the policy keys that wake the window.

#include "base/error.h"
#include "base/folder_watch.h"
#include "base/options.h"
#include "base/policies.h"
#include "core/app_rules.h"
#include "core/organisation_rules.h"
#include "core/promotion_watcher.h"

#include <windows.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace merovane {

class RuleKeeper {
public:
    // `options` give the new-icon policy and the refresh option;
    // `postFromWorker` posts to the window while it exists, from any thread.
    RuleKeeper(const Options& options, std::function<void(UINT)> postFromWorker);
    RuleKeeper(const RuleKeeper&) = delete;
    RuleKeeper& operator=(const RuleKeeper&) = delete;

    // Starts, changes or stops the worker as the rules read last (`rules`,
    // from `rulesPath`), the options and the policies now say, and watches
    // the rules' folder and the policy keys.
    void Apply(const RulesFileFollower& rules, const std::wstring& rulesPath);
    // Reads the policy keys again; true when what they say changed.
    bool RefreshPolicies();
    // A change in the rules' folder or the policy keys was handled: the next
    // one is posted again.
    void ChangeSeen() noexcept { changePosted_ = false; }
    // A pass of the worker failed: the error, once (on the window's thread).
    [[nodiscard]] std::optional<Error> TakeFailure();
    void Stop();

    [[nodiscard]] const Policies& CurrentPolicies() const noexcept { return policies_; }
    // The organisation's rules, replaced whenever the policies change.
    [[nodiscard]] const std::shared_ptr<const OrganisationPolicy>& Organisation() const noexcept
    {
        return organisation_;
    }
    [[nodiscard]] PromotionWatcher& Worker() noexcept { return refresh_; }

private:
    void PostChange();

    const Options& options_;
    std::function<void(UINT)> postFromWorker_;
    Policies policies_;
    std::shared_ptr<const OrganisationPolicy> organisation_ = std::make_shared<OrganisationPolicy>();
    std::mutex refreshErrorMutex_;
    std::optional<Error> refreshError_; // guarded by refreshErrorMutex_
    std::atomic<bool> changePosted_{false};
    // Last, so the workers end before anything they report to goes.
    // Rules written by the command line or by hand count at once, whether
    // or not the refresh worker runs.
    FolderWatch rulesFolder_;
    PolicyWatch policyWatch_;
    PromotionWatcher refresh_;
};

} // namespace merovane
