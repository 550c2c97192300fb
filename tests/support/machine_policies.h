#pragma once

// Maps HKEY_LOCAL_MACHINE of this process onto a fresh scratch key for the
// holder's lifetime, so a test can set machine policies without touching the
// prefix's own machine key. Create it inside a RegistrySandbox: the scratch
// key lives in the sandboxed user key and goes with it.

#include "base/policies.h"

#include <windows.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace merovane::test {

class MachineKeySandbox {
public:
    MachineKeySandbox()
    {
        if (::RegCreateKeyExW(HKEY_CURRENT_USER, L"Merovane test machine key", 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key_, nullptr) != ERROR_SUCCESS ||
            ::RegOverridePredefKey(HKEY_LOCAL_MACHINE, key_) != ERROR_SUCCESS) {
            throw std::runtime_error("HKEY_LOCAL_MACHINE could not be mapped");
        }
    }
    ~MachineKeySandbox()
    {
        ::RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
        ::RegCloseKey(key_);
        ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Merovane test machine key");
    }
    MachineKeySandbox(const MachineKeySandbox&) = delete;
    MachineKeySandbox& operator=(const MachineKeySandbox&) = delete;

private:
    HKEY key_ = nullptr;
};

// Writes a policy value below `root`'s policy key.
inline void SetPolicy(HKEY root, std::wstring_view name, DWORD type, const void* data, size_t size)
{
    HKEY key = nullptr;
    if (::RegCreateKeyExW(root, std::wstring(kPolicyKey).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                          nullptr) != ERROR_SUCCESS) {
        throw std::runtime_error("policy key not created");
    }
    const LSTATUS status = ::RegSetValueExW(key, std::wstring(name).c_str(), 0, type,
                                            static_cast<const BYTE*>(data), static_cast<DWORD>(size));
    ::RegCloseKey(key);
    if (status != ERROR_SUCCESS) {
        throw std::runtime_error("policy value not written");
    }
}
inline void SetPolicyDword(HKEY root, std::wstring_view name, DWORD value)
{
    SetPolicy(root, name, REG_DWORD, &value, sizeof(value));
}
inline void SetPolicyString(HKEY root, std::wstring_view name, std::wstring_view value)
{
    const std::wstring text(value);
    SetPolicy(root, name, REG_SZ, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
}
inline void SetPolicyLines(HKEY root, std::wstring_view name, const std::vector<std::wstring>& lines)
{
    std::wstring text;
    for (const std::wstring& line : lines) {
        text += line;
        text += L'\0';
    }
    text += L'\0';
    SetPolicy(root, name, REG_MULTI_SZ, text.c_str(), text.size() * sizeof(wchar_t));
}
inline void RemovePolicies(HKEY root)
{
    ::RegDeleteTreeW(root, std::wstring(kPolicyKey).c_str());
}

} // namespace merovane::test
