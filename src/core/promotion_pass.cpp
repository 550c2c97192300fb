#include "core/promotion_pass.h"

#include "core/show_every_icon.h"

#include "base/error.h"
#include "base/handles.h"
#include "base/file_info.h"
#include "core/app_rules.h"
#include "core/icon_list.h"
#include "core/organisation_rules.h"
#include "core/icon_store.h"

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

// Whether the entry's time has not moved since the memory saw it; then it
// goes over into `remembered` without a copy.
bool Unchanged(PromotionMemory& memory, PromotionMemory& remembered, const EntrySubkey& subkey)
{
    const auto known = memory.find(subkey.name);
    if (known == memory.end() || known->second != subkey.lastWrite) {
        return false;
    }
    remembered.insert(memory.extract(known));
    return true;
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
    const std::vector<EntrySubkey> subkeys = EnumerateEntries(base.get());
    result.entries = static_cast<int>(subkeys.size());
    PromotionMemory remembered;
    for (const EntrySubkey& subkey : subkeys) {
        if (memory != nullptr && Unchanged(*memory, remembered, subkey)) {
            continue;
        }
        // Asked only before the entries that are read: one change among
        // thousands of entries costs their enumeration and little more.
        // While every icon is shown for now, neither rules nor policy undo it.
        if ((proceed && !proceed()) || ShowEveryIconActive()) {
            if (memory != nullptr) {
                memory->merge(remembered); // what this pass saw stays known
            }
            return result;
        }
        unique_hkey entry;
        if (::RegOpenKeyExW(base.get(), subkey.name.c_str(), 0, KEY_QUERY_VALUE, entry.put()) != ERROR_SUCCESS) {
            continue; // deleted since the enumeration, or not ours to read
        }
        const StoredPromotion stored = ReadStoredPromotion(entry.get());
        ++result.examined;
        const std::optional<bool> target =
            rule(PromotionCandidate(entry.get(), subkey.name, stored.exists, stored.promoted()));
        bool write = false;
        if (target) {
            const DWORD wanted = *target ? 1 : 0;
            write = NeedsWrite(stored, *target);
            if (write) {
                unique_hkey writable;
                if (::RegOpenKeyExW(base.get(), subkey.name.c_str(), 0, KEY_SET_VALUE, writable.put()) !=
                    ERROR_SUCCESS) {
                    continue; // deleted meanwhile, or not ours to change: never re-created
                }
                CheckWin32(::RegSetValueExW(writable.get(), kIsPromotedValue.data(), 0, REG_DWORD,
                                            reinterpret_cast<const BYTE*>(&wanted), sizeof(wanted)));
                ++result.written;
            }
        }
        // A written entry has a new time: the next pass looks at it once more.
        if (!write) {
            remembered.emplace(subkey.name, subkey.lastWrite);
        }
    }
    if (memory != nullptr) {
        *memory = std::move(remembered);
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
        unique_hkey entry;
        if (::RegOpenKeyExW(base.get(), subkey.name.c_str(), 0, KEY_QUERY_VALUE, entry.put()) != ERROR_SUCCESS) {
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
