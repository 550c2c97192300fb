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

std::uint64_t Ticks(const FILETIME& time) noexcept
{
    return (std::uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime;
}

struct Subkey {
    std::wstring name;
    std::uint64_t lastWrite;
};

// Names and last-write times in one call per subkey.
std::vector<Subkey> Subkeys(HKEY base)
{
    std::vector<Subkey> subkeys;
    DWORD count = 0;
    DWORD longest = 0;
    if (::RegQueryInfoKeyW(base, nullptr, nullptr, nullptr, &count, &longest, nullptr, nullptr, nullptr, nullptr,
                           nullptr, nullptr) == ERROR_SUCCESS) {
        subkeys.reserve(count);
    }
    std::wstring name(std::max<DWORD>(longest + 1, 256), L'\0');
    for (DWORD index = 0;; ++index) {
        DWORD length = static_cast<DWORD>(name.size());
        FILETIME written{};
        const LSTATUS status =
            ::RegEnumKeyExW(base, index, name.data(), &length, nullptr, nullptr, nullptr, &written);
        if (status == ERROR_MORE_DATA) {
            name.resize(name.size() * 2); // a subkey added meanwhile with a longer name
            --index;
            continue;
        }
        if (status != ERROR_SUCCESS) {
            break;
        }
        subkeys.push_back({name.substr(0, length), Ticks(written)});
    }
    return subkeys;
}

// An entry's IsPromoted as stored: there at all, and its DWORD when it is one.
struct StoredPromotion {
    bool exists = false;
    bool isDword = false;
    DWORD value = 0;

    [[nodiscard]] bool promoted() const noexcept { return isDword && value != 0; }
};

StoredPromotion ReadStoredPromotion(HKEY entry) noexcept
{
    StoredPromotion stored;
    DWORD size = sizeof(stored.value);
    DWORD type = REG_NONE;
    const LSTATUS read = ::RegQueryValueExW(entry, kIsPromotedValue.data(), nullptr, &type,
                                            reinterpret_cast<BYTE*>(&stored.value), &size);
    stored.exists = read == ERROR_SUCCESS || read == ERROR_MORE_DATA;
    stored.isDword = read == ERROR_SUCCESS && type == REG_DWORD && size == sizeof(DWORD);
    return stored;
}

// A missing value counts as 0; a value of another type is replaced.
bool NeedsWrite(const StoredPromotion& stored, bool target) noexcept
{
    return stored.isDword ? stored.value != (target ? 1U : 0U) : (stored.exists || target);
}

// Whether the entry's time has not moved since the memory saw it; then it
// goes over into `remembered` without a copy.
bool Unchanged(PromotionMemory& memory, PromotionMemory& remembered, const Subkey& subkey)
{
    const auto known = memory.find(subkey.name);
    if (known == memory.end() || known->second != subkey.lastWrite) {
        return false;
    }
    remembered.insert(memory.extract(known));
    return true;
}

} // namespace

const std::wstring& PromotionCandidate::Text(const wchar_t* name, std::optional<std::wstring>& cache) const
{
    if (!cache) {
        cache.emplace();
        DWORD type = 0;
        DWORD size = 0;
        if (::RegQueryValueExW(entry_, name, nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
            (type == REG_SZ || type == REG_EXPAND_SZ) && size >= sizeof(wchar_t)) {
            std::wstring value(size / sizeof(wchar_t), L'\0');
            if (::RegQueryValueExW(entry_, name, nullptr, &type, reinterpret_cast<BYTE*>(value.data()), &size) ==
                ERROR_SUCCESS) {
                value.resize(std::wcslen(value.c_str()));
                *cache = std::move(value);
            }
        }
    }
    return *cache;
}

const std::wstring& PromotionCandidate::ExecutablePath() const
{
    return Text(L"ExecutablePath", path_);
}

const std::wstring& PromotionCandidate::IconGuid() const
{
    return Text(L"IconGuid", iconGuid_);
}

const std::wstring& PromotionCandidate::Publisher() const
{
    return Text(L"Publisher", publisher_);
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
    unique_hkey base;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, std::wstring(kNotifyIconSettingsKey).c_str(), 0, KEY_READ, base.put()) !=
        ERROR_SUCCESS) {
        if (memory != nullptr) {
            memory->clear();
        }
        return result;
    }
    const std::vector<Subkey> subkeys = Subkeys(base.get());
    result.entries = static_cast<int>(subkeys.size());
    PromotionMemory remembered;
    for (const Subkey& subkey : subkeys) {
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
    unique_hkey base;
    if (!rule || ::RegOpenKeyExW(HKEY_CURRENT_USER, std::wstring(kNotifyIconSettingsKey).c_str(), 0, KEY_READ,
                                 base.put()) != ERROR_SUCCESS) {
        return off;
    }
    for (const Subkey& subkey : Subkeys(base.get())) {
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
