#pragma once

// The refresh policy's pass over the notification-area entries. The pass asks
// a rule, entry by entry, which IsPromoted the entry should hold, and writes
// only the entries whose value differs, so an entry's last-write time keeps
// meaning "last changed" (the duplicate cleanup keeps the newest entry).

#include "base/options.h"

#include <windows.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace merovane {

// One entry as the rule sees it. The executable path is read only when the
// rule asks for it.
class PromotionCandidate {
public:
    PromotionCandidate(HKEY entry, std::wstring_view keyName, bool hasIsPromoted, bool promoted) noexcept
        : entry_(entry), keyName_(keyName), hasIsPromoted_(hasIsPromoted), promoted_(promoted)
    {
    }

    [[nodiscard]] std::wstring_view KeyName() const noexcept { return keyName_; }
    // True when the entry holds an IsPromoted value, of whatever type:
    // someone decided, even if not in the form Explorer writes.
    [[nodiscard]] bool HasIsPromoted() const noexcept { return hasIsPromoted_; }
    // Its DWORD value (anything but 0 is shown); false when it has none or
    // one of another type.
    [[nodiscard]] bool Promoted() const noexcept { return promoted_; }
    // ExecutablePath as Explorer stored it (known-folder ids not expanded),
    // "" when it has none.
    [[nodiscard]] const std::wstring& ExecutablePath() const;
    // IconGuid and Publisher, "" when the entry has none; read when asked.
    [[nodiscard]] const std::wstring& IconGuid() const;
    [[nodiscard]] const std::wstring& Publisher() const;

private:
    const std::wstring& Text(std::wstring_view name, std::optional<std::wstring>& cache) const;

    HKEY entry_;
    std::wstring_view keyName_;
    bool hasIsPromoted_;
    bool promoted_;
    mutable std::optional<std::wstring> path_;
    mutable std::optional<std::wstring> iconGuid_;
    mutable std::optional<std::wstring> publisher_;
};

// The IsPromoted an entry should hold, or nothing to leave the entry alone.
// Rules run on the refresh worker, never on the user-interface thread.
using PromotionRule = std::function<std::optional<bool>(const PromotionCandidate&)>;

// The rule of the settings' new-icon policy: every entry shown, every entry
// hidden, only entries without a value shown, or no rule at all (leave as the
// system set it, or no choice).
PromotionRule RuleForNewIconPolicy(NewIconPolicy policy);

class RulesFileFollower;
struct OrganisationPolicy;
// The per-app rules first, then the policy: an entry of an app with a rule
// is shown or hidden as the rule says, every other one as
// RuleForNewIconPolicy(policy) says (as TargetIsPromoted decides). The rules are looked up at every call; the follower is
// refreshed by whoever runs the passes, on the same thread. The entries' apps
// are known as the list knows them (path normalised, Publisher or the
// executable's CompanyName, IconGuid); an executable's company is read once.
// While there are no rules no entry's app is looked up.
// With `organisation`, its rule for an app comes before the user's and its
// new-icon policy, when it sets one, replaces `policy`.
PromotionRule RuleForPolicyAndAppRules(NewIconPolicy policy, std::shared_ptr<const RulesFileFollower> rules,
                                       std::shared_ptr<const OrganisationPolicy> organisation = nullptr);

// What a pass remembers: the last-write times of the entries it found at
// their target (a later pass skips an entry whose time has not moved), and
// the entries' names in the order the registry listed them, so that a few
// added entries are found without listing them all.
struct PromotionMemory {
    std::map<std::wstring, std::uint64_t, std::less<>> atTarget;
    std::vector<std::wstring> listed;

    void clear() noexcept
    {
        atTarget.clear();
        listed.clear();
    }
};

struct PromotionPassResult {
    int entries = 0;  // subkeys found
    int examined = 0; // entries the rule was asked about
    int written = 0;
};

// One pass over HKCU\Control Panel\NotifyIconSettings. A missing IsPromoted
// counts as 0 and a value of another type is replaced. Entries opened only
// for reading; an entry is opened for writing, existing keys only, when its
// value must change, and one that vanished or refuses writing is skipped.
// With `memory`, entries unchanged since the pass that filled it are skipped
// and the memory is brought up to date; entries added since are found and
// set first, before the others are listed. A failed write throws
// merovane::Error and ends the pass. `proceed`, when given, is asked before
// each entry; false ends the pass there (it may also wait a while).
PromotionPassResult ApplyPromotionPass(const PromotionRule& rule, PromotionMemory* memory = nullptr,
                                       const std::function<bool()>& proceed = nullptr);

// The key names of the entries a pass with `rule` would change, in the
// registry's order; reads only.
std::vector<std::wstring> EntriesOffRule(const PromotionRule& rule);

} // namespace merovane
