#pragma once

// The organisation's rules and new-icon policy, as the program follows them.
// They come before the user's: an organisation's rule for an app wins over
// the user's rule for it, and its new-icon policy over the user's policy; a
// rule for an app (the organisation's, else the user's) still wins over any
// policy, so an organisation can make exceptions and so can a user where the
// organisation named no rule for that app.

#include "base/policies.h"
#include "core/app_rules.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace merovane {

// One line of the Rules policy: "Action|File|Company|Folder". Action is Show
// or Hide; File is the executable's file name, or an icon's "{GUID}"; an
// empty Company or Folder matches any. Folders are compared as Rules.ini's
// are (LooseFolder, placeholders such as %LOCALAPPDATA%).
struct OrganisationRule {
    RuleAction action = RuleAction::Show;
    AppIdentity app;
};
std::optional<OrganisationRule> ParseOrganisationRule(std::wstring_view line);
// The line as an administrator writes it.
std::wstring OrganisationRuleLine(const OrganisationRule& rule);

struct OrganisationPolicy {
    std::vector<OrganisationRule> rules;
    std::optional<NewIconPolicy> newIconPolicy;
    // The values and lines that could not be used, one sentence each.
    std::vector<std::wstring> problems;

    // The action of the first rule that names the app.
    [[nodiscard]] std::optional<RuleAction> ActionFor(const AppIdentity& app) const;
    // That rule, nullptr when none names the app.
    [[nodiscard]] const OrganisationRule* RuleFor(const AppIdentity& app) const;
    [[nodiscard]] bool Empty() const noexcept { return rules.empty() && !newIconPolicy; }
};

OrganisationPolicy OrganisationPolicyFrom(const Policies& policies);

// The new-icon policy in force: the organisation's, else the user's while
// the user's "update the list automatically" is on.
NewIconPolicy NewIconPolicyInForce(const OrganisationPolicy& organisation, NewIconPolicy userPolicy,
                                   bool userRefreshList) noexcept;

} // namespace merovane
