#include "core/tray_actions.h"

#include "core/cleanup.h"
#include "core/icon_store.h"

#include <algorithm>
#include <exception>

namespace merovane {

namespace {

std::optional<AppIdentity> AppOf(const IconEntry& entry)
{
    return IdentifyApp(entry.executablePath, entry.company, entry.iconGuid);
}

// Writes the entry's new state into `result`; false when the write failed
// and the work ends.
bool Write(const IconEntry& entry, bool shown, ShownChange& result)
{
    try {
        if (!WriteIsPromoted(entry.keyName, shown)) {
            result.gone.push_back(entry);
            return true;
        }
    } catch (const Error& error) {
        result.failure = error;
        return false;
    }
    IconEntry& written = result.changed.emplace_back(entry);
    written.promoted = shown;
    written.hasIsPromoted = true;
    return true;
}

} // namespace

std::optional<bool> OrganisationTarget(const OrganisationPolicy& organisation, const AppRules& userRules,
                                       const IconEntry& entry)
{
    if (const std::optional<AppIdentity> app = AppOf(entry)) {
        if (const std::optional<RuleAction> action = organisation.ActionFor(*app)) {
            return *action == RuleAction::Show;
        }
        if (userRules.ActionFor(*app)) {
            return std::nullopt;
        }
    }
    if (organisation.newIconPolicy == NewIconPolicy::ShowAll || organisation.newIconPolicy == NewIconPolicy::HideAll) {
        return organisation.newIconPolicy == NewIconPolicy::ShowAll;
    }
    return std::nullopt;
}

ShownChange SetShownWhereDifferent(std::span<const IconEntry> entries, bool shown,
                                   const OrganisationPolicy& organisation, const AppRules& userRules)
{
    ShownChange result;
    for (const IconEntry& entry : entries) {
        if (entry.promoted == shown) {
            continue;
        }
        if (!organisation.Empty()) {
            if (const std::optional<bool> held = OrganisationTarget(organisation, userRules, entry);
                held && *held != shown) {
                result.refused.push_back(entry);
                continue;
            }
        }
        if (!Write(entry, shown, result)) {
            break;
        }
    }
    return result;
}

std::vector<AppIdentity> SetRuleForApps(AppRules& rules, std::span<const AppIdentity> apps,
                                        std::optional<RuleAction> action, const std::wstring& rulesFile)
{
    std::vector<AppIdentity> changed;
    for (const AppIdentity& app : apps) {
        if (rules.Set(app, action)) {
            changed.push_back(app);
        }
    }
    if (!changed.empty()) {
        SaveRules(rules, rulesFile);
    }
    return changed;
}

ShownChange ApplyRuleToEntries(std::span<const IconEntry> entries, std::span<const AppIdentity> apps,
                               RuleAction action)
{
    ShownChange result;
    for (const IconEntry& entry : entries) {
        const std::optional<AppIdentity> app = AppOf(entry);
        if (!app ||
            std::none_of(apps.begin(), apps.end(), [&](const AppIdentity& named) { return SameApp(named, *app); })) {
            continue;
        }
        if (const std::optional<bool> target = TargetIsPromoted(NewIconPolicy::None, action, entry.promoted)) {
            if (!Write(entry, *target, result)) {
                break;
            }
        }
    }
    return result;
}

std::vector<std::wstring> CleanUpDuplicates()
{
    const unique_hkey base = OpenNotifyIconSettings(KEY_READ);
    if (!base) {
        return {};
    }
    // Everything is read before anything is deleted, so a read error leaves
    // the registry as it was.
    std::vector<DuplicateCandidate> candidates;
    for (const EntrySubkey& subkey : EnumerateEntries(base.get())) {
        const unique_hkey entry = OpenEntry(base.get(), subkey.name, KEY_QUERY_VALUE);
        if (!entry) {
            continue;
        }
        // A path of the wrong type is none. An IconGuid of the wrong type is
        // still some GUID: such an entry is not deleted as a duplicate.
        const std::wstring path = ReadEntryString(entry.get(), kExecutablePathValue).value_or(std::wstring());
        bool guidExists = false;
        const std::optional<std::wstring> guid = ReadEntryString(entry.get(), kIconGuidValue, &guidExists);
        const bool hasGuid = guid ? !guid->empty() : guidExists;
        if (!path.empty() && !hasGuid) {
            // FILETIME ticks to milliseconds, as KeyWriteTime counts.
            const auto written = static_cast<KeyWriteTime>(subkey.lastWrite / 10'000);
            candidates.push_back({DuplicateKey(path), subkey.name, written});
        }
    }

    std::vector<std::wstring> deleted;
    for (std::wstring& name : PlanDuplicateDeletions(candidates)) {
        try {
            if (DeleteRegistryKey(name)) {
                deleted.push_back(std::move(name));
            }
        } catch (const std::exception&) {
            // One entry that won't go does not keep the others.
        }
    }
    return deleted;
}

std::vector<std::wstring> CleanUpMissingPrograms(std::span<const IconEntry> entries)
{
    std::vector<std::wstring> deleted;
    for (const IconEntry& entry : entries) {
        if (entry.executablePath.empty() || IsExistingFile(entry.executablePath)) {
            continue;
        }
        try {
            if (DeleteRegistryKey(entry.keyName)) {
                deleted.push_back(entry.keyName);
            }
        } catch (const std::exception&) {
            // Skip this entry; the others still go.
        }
    }
    return deleted;
}

} // namespace merovane
