#include "base/policies.h"

#include "base/handles.h"

#include <cstring>
#include <cwchar>

namespace merovane {

namespace {

struct RawValue {
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

std::optional<RawValue> ReadRaw(HKEY key, std::wstring_view name)
{
    const std::wstring valueName(name);
    for (int attempt = 0; attempt < 3; ++attempt) {
        RawValue value;
        DWORD size = 0;
        if (::RegQueryValueExW(key, valueName.c_str(), nullptr, &value.type, nullptr, &size) != ERROR_SUCCESS) {
            return std::nullopt;
        }
        value.data.resize(size);
        const LSTATUS status =
            ::RegQueryValueExW(key, valueName.c_str(), nullptr, &value.type, value.data.data(), &size);
        if (status == ERROR_MORE_DATA) {
            continue; // grew meanwhile
        }
        if (status != ERROR_SUCCESS) {
            return std::nullopt;
        }
        value.data.resize(size);
        return value;
    }
    return std::nullopt;
}

std::wstring TextOf(const RawValue& value)
{
    std::wstring text(value.data.size() / sizeof(wchar_t), L'\0');
    if (!text.empty()) {
        std::memcpy(text.data(), value.data.data(), text.size() * sizeof(wchar_t));
    }
    return text;
}

std::wstring_view TypeName(DWORD type)
{
    switch (type) {
    case REG_DWORD: return L"REG_DWORD";
    case REG_SZ: return L"REG_SZ";
    case REG_EXPAND_SZ: return L"REG_EXPAND_SZ";
    case REG_MULTI_SZ: return L"REG_MULTI_SZ";
    case REG_QWORD: return L"REG_QWORD";
    case REG_BINARY: return L"REG_BINARY";
    default: return L"another type";
    }
}

// Applies one value to the policies; false when it can't be used.
bool Apply(Policies& policies, const PolicyValue& spec, const RawValue& value, std::wstring& why)
{
    const bool isDword = value.type == REG_DWORD && value.data.size() == sizeof(DWORD);
    DWORD number = 0;
    if (isDword) {
        std::memcpy(&number, value.data.data(), sizeof(number));
    }
    if (spec.type == REG_DWORD && !isDword) {
        why = L"is " + std::wstring(TypeName(value.type)) + L", not REG_DWORD";
        return false;
    }
    if (spec.name == L"NewIconPolicy") {
        policies.newIconPolicy = NewIconPolicyFromPolicyValue(number);
        if (!policies.newIconPolicy) {
            why = L"is " + std::to_wstring(number) + L", not 0, 1, 2 or 3";
            return false;
        }
    } else if (spec.name == L"DisableSelfUpdate") {
        if (number > 1) {
            why = L"is " + std::to_wstring(number) + L", not 0 or 1";
            return false;
        }
        policies.disableSelfUpdate = number == 1;
    } else if (spec.name == L"StartWithWindows") {
        if (number > 1) {
            why = L"is " + std::to_wstring(number) + L", not 0 or 1";
            return false;
        }
        policies.startWithWindows = number == 1;
    } else if (spec.name == L"Rules") {
        if (value.type != REG_MULTI_SZ) {
            why = L"is " + std::wstring(TypeName(value.type)) + L", not REG_MULTI_SZ";
            return false;
        }
        std::wstring text = TextOf(value);
        size_t start = 0;
        while (start < text.size()) {
            size_t end = text.find(L'\0', start);
            if (end == std::wstring::npos) {
                end = text.size();
            }
            if (end > start) {
                policies.ruleLines.push_back(text.substr(start, end - start));
            }
            start = end + 1;
        }
    } else {
        if (value.type != REG_SZ && value.type != REG_EXPAND_SZ) {
            why = L"is " + std::wstring(TypeName(value.type)) + L", not REG_SZ";
            return false;
        }
        std::wstring text = TextOf(value);
        text.resize(std::wcslen(text.c_str()));
        if (text.empty()) {
            why = L"is empty";
            return false;
        }
        (spec.name == L"PrimaryUpdateServer" ? policies.primaryUpdateServer : policies.fallbackUpdateServer) =
            std::move(text);
    }
    return true;
}

} // namespace

std::optional<NewIconPolicy> NewIconPolicyFromPolicyValue(DWORD value) noexcept
{
    switch (value) {
    case 0: return NewIconPolicy::LeaveToSystem;
    case 1: return NewIconPolicy::ShowAll;
    case 2: return NewIconPolicy::HideAll;
    case 3: return NewIconPolicy::ShowNew;
    default: return std::nullopt;
    }
}

Policies ReadPolicies(HKEY machine, HKEY user)
{
    Policies policies;
    struct Source {
        HKEY root;
        std::wstring_view name;
        unique_hkey key;
    };
    Source sources[] = {{machine, L"HKLM", {}}, {user, L"HKCU", {}}};
    for (Source& source : sources) {
        if (::RegOpenKeyExW(source.root, std::wstring(kPolicyKey).c_str(), 0, KEY_QUERY_VALUE, source.key.put()) !=
            ERROR_SUCCESS) {
            source.key.reset();
        }
    }
    for (const PolicyValue& spec : kPolicyValues) {
        for (const Source& source : sources) {
            if (!source.key) {
                continue;
            }
            const std::optional<RawValue> value = ReadRaw(source.key.get(), spec.name);
            if (!value) {
                continue;
            }
            std::wstring why;
            if (Apply(policies, spec, *value, why)) {
                break; // the machine's value wins
            }
            policies.problems.push_back(std::wstring(source.name) + L"\\" + std::wstring(kPolicyKey) + L"\\" +
                                        std::wstring(spec.name) + L" " + why + L"; it is ignored.");
        }
    }
    return policies;
}

PolicyWatch::PolicyWatch()
    : changed_{unique_handle(::CreateEventW(nullptr, FALSE, FALSE, nullptr)),
               unique_handle(::CreateEventW(nullptr, FALSE, FALSE, nullptr))}
{
}

PolicyWatch::~PolicyWatch()
{
    Stop();
}

void PolicyWatch::Start(std::function<void()> onChange)
{
    if (running_ || !changed_[0] || !changed_[1]) {
        return;
    }
    onChange_ = std::move(onChange);
    armed_ = false;
    settling_ = false;
    running_ = SharedWait::Add(*this);
}

void PolicyWatch::Stop()
{
    if (!running_) {
        return;
    }
    SharedWait::Remove(*this);
    running_ = false;
    keys_[0].reset();
    keys_[1].reset();
}

SharedWait::Wanted PolicyWatch::Arm() noexcept
{
    // A policy refresh writes several values: one callback for the lot.
    constexpr DWORD kSettleMs = 50;
    if (settling_) {
        return {{}, kSettleMs};
    }
    if (!armed_) {
        // The folder of the policy key with what is below it, so the key's
        // creation and deletion count too; or, while that is missing, the
        // folder it would be made in.
        struct Watched {
            const wchar_t* path;
            BOOL subtree;
        };
        constexpr Watched kCandidates[] = {{L"Software\\Policies", TRUE}, {L"Software", FALSE}};
        const HKEY roots[2] = {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER};
        for (int index = 0; index < 2; ++index) {
            keys_[index].reset();
            for (const Watched& candidate : kCandidates) {
                if (::RegOpenKeyExW(roots[index], candidate.path, 0, KEY_NOTIFY, keys_[index].put()) ==
                    ERROR_SUCCESS) {
                    if (::RegNotifyChangeKeyValue(keys_[index].get(), candidate.subtree,
                                                  REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET,
                                                  changed_[index].get(), TRUE) != ERROR_SUCCESS) {
                        keys_[index].reset();
                    }
                    break;
                }
            }
        }
        armed_ = true;
    }
    // Neither root could be watched: look again now and then.
    return {{changed_[0].get(), changed_[1].get()}, keys_[0] || keys_[1] ? INFINITE : 5'000};
}

void PolicyWatch::Signalled(int index) noexcept
{
    armed_ = false; // asked for again after each change
    if (index >= 0) {
        settling_ = true;
        return;
    }
    if (settling_) {
        settling_ = false;
        if (onChange_) {
            onChange_();
        }
    }
}

} // namespace merovane
