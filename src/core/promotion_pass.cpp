#include "core/promotion_pass.h"

#include "core/show_every_icon.h"

#include "base/error.h"
#include "base/handles.h"
#include "base/file_info.h"
#include "core/app_rules.h"
#include "core/icon_list.h"
#include "core/organisation_rules.h"
#include "core/icon_store.h"

#include <algorithm>
#include <unordered_map>
#include <vector>

namespace merovane {

namespace {

// An entry's IsPromoted as stored: there at all, and its DWORD when it is one.
struct StoredPromotion {
    bool exists = false;
    bool isDword = false;
    DWORD value = 0;

    [[nodiscard]] bool promoted() const noexcept { return isDword && value != 0; }
};

StoredPromotion ReadStoredPromotion(HKEY entry)
{
    StoredPromotion stored;
    const std::optional<std::uint32_t> value = ReadEntryDword(entry, kIsPromotedValue, &stored.exists);
    stored.isDword = value.has_value();
    stored.value = value.value_or(0);
    return stored;
}

// A missing value counts as 0; a value of another type is replaced.
bool NeedsWrite(const StoredPromotion& stored, bool target) noexcept
{
    return stored.isDword ? stored.value != (target ? 1U : 0U) : (stored.exists || target);
}

using TimesAtTarget = std::map<std::wstring, std::uint64_t, std::less<>>;

// Whether the entry's time has not moved since the memory saw it; then it
// goes over into `remembered` without a copy.
bool Unchanged(TimesAtTarget& memory, TimesAtTarget& remembered, const EntrySubkey& subkey)
{
    const auto known = memory.find(subkey.name);
    if (known == memory.end() || known->second != subkey.lastWrite) {
        return false;
    }
    remembered.insert(memory.extract(known));
    return true;
}

// The entries added since `listed` was taken, when that is all that changed
// in the list: an added name moves the ones after it by one place, so each is
// found by bisection, a few dozen lookups instead of one per entry. Any other
// change (a deletion, a name listed before) ends the search with what it
// found; every name returned is one that `listed` does not hold.
std::vector<std::wstring> AddedSince(HKEY base, const std::vector<std::wstring>& listed)
{
    std::vector<std::wstring> added;
    DWORD count = 0;
    if (listed.empty() || ::RegQueryInfoKeyW(base, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr,
                                             nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS ||
        count <= listed.size()) {
        return added;
    }
    const size_t more = count - listed.size();
    size_t lookups = 2;
    for (size_t size = count; size > 1; size /= 2) {
        ++lookups;
    }
    if (more * lookups >= count) {
        return added; // listing them all costs less
    }
    // Before the first added name, and between two, the names stand where
    // they stood, moved by the number added before them.
    size_t from = 0;
    while (added.size() < more) {
        size_t low = from;
        size_t high = count;
        std::wstring found;
        while (low < high) {
            const size_t middle = low + (high - low) / 2;
            std::wstring name = EntryNameAt(base, static_cast<DWORD>(middle));
            if (name.empty()) {
                return added; // deleted meanwhile
            }
            const size_t before = middle - added.size();
            if (before < listed.size() && name == listed[before]) {
                low = middle + 1;
            } else {
                high = middle;
                found = std::move(name);
            }
        }
        if (low == count || found.empty() ||
            std::find(listed.begin(), listed.end(), found) != listed.end()) {
            return added;
        }
        added.push_back(std::move(found));
        from = low + 1;
    }
    return added;
}

// What became of one entry: read, and then written, or left alone because
// it is at its target (then a pass may remember it).
struct EntryOutcome {
    bool read = false;
    bool written = false;
    bool atTarget = false;
};

EntryOutcome ApplyToEntry(const PromotionRule& rule, HKEY base, const std::wstring& name)
{
    EntryOutcome outcome;
    const unique_hkey entry = OpenEntry(base, name, KEY_QUERY_VALUE);
    if (!entry) {
        return outcome; // deleted since the enumeration, or not ours to read
    }
    const StoredPromotion stored = ReadStoredPromotion(entry.get());
    outcome.read = true;
    const std::optional<bool> target = rule(PromotionCandidate(entry.get(), name, stored.exists, stored.promoted()));
    if (!target || !NeedsWrite(stored, *target)) {
        outcome.atTarget = true;
        return outcome;
    }
    const unique_hkey writable = OpenEntry(base, name, KEY_SET_VALUE);
    if (!writable) {
        return outcome; // deleted meanwhile, or not ours to change: never re-created
    }
    const DWORD wanted = *target ? 1 : 0;
    CheckWin32(::RegSetValueExW(writable.get(), kIsPromotedValue.data(), 0, REG_DWORD,
                                reinterpret_cast<const BYTE*>(&wanted), sizeof(wanted)));
    outcome.written = true;
    return outcome;
}

} // namespace

const std::wstring& PromotionCandidate::Text(std::wstring_view name, std::optional<std::wstring>& cache) const
{
    if (!cache) {
        cache = ReadEntryString(entry_, name).value_or(std::wstring());
    }
    return *cache;
}

const std::wstring& PromotionCandidate::ExecutablePath() const
{
    return Text(kExecutablePathValue, path_);
}

const std::wstring& PromotionCandidate::IconGuid() const
{
    return Text(kIconGuidValue, iconGuid_);
}

const std::wstring& PromotionCandidate::Publisher() const
{
    return Text(kPublisherValue, publisher_);
}

PromotionRule RuleForPolicyAndAppRules(NewIconPolicy policy, std::shared_ptr<const RulesFileFollower> rules,
                                       std::shared_ptr<const OrganisationPolicy> organisation)
{
    if (organisation && organisation->newIconPolicy) {
        policy = *organisation->newIconPolicy;
    }
    // What a stored path stands for: the normalised path and the
    // executable's company. Kept for the rule's life; only its own worker
    // calls it.
    struct Executable {
        std::wstring path;
        std::wstring company;
    };
    auto executables = std::make_shared<std::unordered_map<std::wstring, Executable>>();
    return [policyRule = RuleForNewIconPolicy(policy), rules = std::move(rules),
            organisation = std::move(organisation),
            executables = std::move(executables)](const PromotionCandidate& entry) -> std::optional<bool> {
        std::optional<RuleAction> action;
        if ((rules && !rules->Rules().Empty()) || (organisation && !organisation->rules.empty())) {
            const std::wstring& stored = entry.ExecutablePath();
            const Executable* executable = nullptr;
            if (!stored.empty()) {
                auto found = executables->find(stored);
                if (found == executables->end()) {
                    Executable known{NormalizeExecutablePath(stored), {}};
                    if (IsExistingFile(known.path)) {
                        try {
                            known.company = GetCompanyAndDescription(UnredirectedPath(known.path)).company;
                        } catch (const std::exception&) {
                            // No version resource: the app is known without its company.
                        }
                    }
                    found = executables->emplace(stored, std::move(known)).first;
                }
                executable = &found->second;
            }
            const std::wstring& publisher = entry.Publisher();
            if (const std::optional<AppIdentity> app =
                    IdentifyApp(executable != nullptr ? std::wstring_view(executable->path) : std::wstring_view(),
                                !publisher.empty() || executable == nullptr ? std::wstring_view(publisher)
                                                                            : std::wstring_view(executable->company),
                                entry.IconGuid())) {
                if (organisation) {
                    action = organisation->ActionFor(*app);
                }
                if (!action && rules) {
                    action = rules->Rules().ActionFor(*app);
                }
            }
        }
        // The pass writes only what differs, so the rule's value goes as it is.
        if (action) {
            return *action == RuleAction::Show;
        }
        return policyRule ? policyRule(entry) : std::nullopt;
    };
}

PromotionRule RuleForNewIconPolicy(NewIconPolicy policy)
{
    switch (policy) {
    case NewIconPolicy::ShowAll:
        return [](const PromotionCandidate&) -> std::optional<bool> { return true; };
    case NewIconPolicy::HideAll:
        return [](const PromotionCandidate&) -> std::optional<bool> { return false; };
    case NewIconPolicy::ShowNew:
        // Only what nobody has decided yet: an entry without a value, of
        // any type ("0" as a string is a decision too).
        return [](const PromotionCandidate& entry) -> std::optional<bool> {
            return entry.HasIsPromoted() ? std::nullopt : std::optional<bool>(true);
        };
    case NewIconPolicy::None:
    case NewIconPolicy::LeaveToSystem:
        break;
    }
    return {};
}

PromotionPassResult ApplyPromotionPass(const PromotionRule& rule, PromotionMemory* memory,
                                       const std::function<bool()>& proceed)
{
    PromotionPassResult result;
    if (!rule) {
        return result;
    }
    const unique_hkey base = OpenNotifyIconSettings(KEY_READ);
    if (!base) {
        if (memory != nullptr) {
            memory->clear();
        }
        return result;
    }
    // Asked only before the entries that are read: one change among
    // thousands of entries costs their enumeration and little more.
    // While every icon is shown for now, neither rules nor policy undo it.
    const auto goOn = [&proceed] { return (!proceed || proceed()) && !ShowEveryIconActive(); };
    // A new entry waits for a few lookups, not for the whole list. It is
    // not remembered by this pass: the next one reads it again.
    std::vector<std::wstring> added;
    if (memory != nullptr) {
        added = AddedSince(base.get(), memory->listed);
    }
    for (const std::wstring& name : added) {
        if (!goOn()) {
            return result;
        }
        const EntryOutcome outcome = ApplyToEntry(rule, base.get(), name);
        result.examined += outcome.read ? 1 : 0;
        result.written += outcome.written ? 1 : 0;
    }
    std::vector<EntrySubkey> subkeys = EnumerateEntries(base.get());
    result.entries = static_cast<int>(subkeys.size());
    TimesAtTarget remembered;
    for (const EntrySubkey& subkey : subkeys) {
        if (memory != nullptr && Unchanged(memory->atTarget, remembered, subkey)) {
            continue;
        }
        if (std::find(added.begin(), added.end(), subkey.name) != added.end()) {
            continue;
        }
        if (!goOn()) {
            if (memory != nullptr) {
                memory->atTarget.merge(remembered); // what this pass saw stays known
            }
            return result;
        }
        const EntryOutcome outcome = ApplyToEntry(rule, base.get(), subkey.name);
        result.examined += outcome.read ? 1 : 0;
        result.written += outcome.written ? 1 : 0;
        // A written entry has a new time: the next pass looks at it once more.
        if (outcome.atTarget) {
            remembered.emplace(subkey.name, subkey.lastWrite);
        }
    }
    if (memory != nullptr) {
        memory->atTarget = std::move(remembered);
        memory->listed.clear();
        memory->listed.reserve(subkeys.size());
        for (EntrySubkey& subkey : subkeys) {
            memory->listed.push_back(std::move(subkey.name));
        }
    }
    return result;
}

std::vector<std::wstring> EntriesOffRule(const PromotionRule& rule)
{
    std::vector<std::wstring> off;
    const unique_hkey base = rule ? OpenNotifyIconSettings(KEY_READ) : unique_hkey();
    if (!base) {
        return off;
    }
    for (const EntrySubkey& subkey : EnumerateEntries(base.get())) {
        const unique_hkey entry = OpenEntry(base.get(), subkey.name, KEY_QUERY_VALUE);
        if (!entry) {
            continue;
        }
        const StoredPromotion stored = ReadStoredPromotion(entry.get());
        const std::optional<bool> target =
            rule(PromotionCandidate(entry.get(), subkey.name, stored.exists, stored.promoted()));
        if (target && NeedsWrite(stored, *target)) {
            off.push_back(subkey.name);
        }
    }
    return off;
}

} // namespace merovane
