#pragma once

// What a user does to the notification-area entries, once for both front
// ends: the command line prints what these return, the main window shows it
// in its rows and status line. Each returns what it changed. Loading the
// entries is ReadNotifyIconEntries (core/icon_list.h).

#include "base/error.h"
#include "core/app_rules.h"
#include "core/icon_list.h"
#include "core/organisation_rules.h"

#include <optional>
#include <span>
#include <string>
#include <vector>

namespace merovane {

// The value the organisation holds an entry at, when it decides: its rule
// for the entry's app, or else, where the user has no rule for the app, its
// policy of showing or hiding every icon.
std::optional<bool> OrganisationTarget(const OrganisationPolicy& organisation, const AppRules& userRules,
                                       const IconEntry& entry);

struct ShownChange {
    std::vector<IconEntry> changed; // written, each with its new state
    std::vector<IconEntry> refused; // held at the other state by the organisation
    std::vector<IconEntry> gone;    // deleted since they were loaded: not re-created
    // A write that failed ended the work there; what was written before it
    // stays and is in `changed`.
    std::optional<Error> failure;
};

// Shows or hides the entries whose loaded state differs from `shown` (a value
// of the wrong type was loaded as hidden). Entries the organisation holds at
// the other state are left alone.
ShownChange SetShownWhereDifferent(std::span<const IconEntry> entries, bool shown,
                                   const OrganisationPolicy& organisation = {}, const AppRules& userRules = {});

// Sets `action` (none removes the rule) as the rule of each app in `rules`, as
// the caller read them from `rulesFile`, and writes the file when a rule
// changed. The apps whose rule changed; a failed write throws.
std::vector<AppIdentity> SetRuleForApps(AppRules& rules, std::span<const AppIdentity> apps,
                                        std::optional<RuleAction> action, const std::wstring& rulesFile);

// The entries of those apps (as loaded) follow the rule at once, where they
// differ from it.
ShownChange ApplyRuleToEntries(std::span<const IconEntry> entries, std::span<const AppIdentity> apps,
                               RuleAction action);

// Deletes all but the most recently written entry of each executable. Entries
// with an icon GUID (of any type) or without a path (a path of the wrong type
// is none) are left alone. The key names deleted, in the order they went.
std::vector<std::wstring> CleanUpDuplicates();

// Deletes the entries (as loaded) whose path names no existing file; entries
// without a path are kept. The key names deleted.
std::vector<std::wstring> CleanUpMissingPrograms(std::span<const IconEntry> entries);

} // namespace merovane
