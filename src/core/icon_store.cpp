#include "core/icon_store.h"

#include "base/error.h"
#include "base/registry.h"
#include "core/promotion_pass.h"

#include <string>

namespace merovane {

namespace {

// A name that addresses exactly one subkey of the base key. An empty name would
// address the base key itself and a "\" a key further down.
bool IsSingleKeyName(std::wstring_view keyName)
{
    return !keyName.empty() && keyName.find(L'\\') == std::wstring_view::npos;
}

std::wstring EntryPath(std::wstring_view keyName)
{
    std::wstring path(kNotifyIconSettingsKey);
    path += L'\\';
    path += keyName;
    return path;
}

// Explorer owns the entries: writes open existing keys only, with no more
// access than reading and setting a value, so an entry deleted meanwhile is
// never re-created.
constexpr REGSAM kEntryAccess = KEY_QUERY_VALUE | KEY_SET_VALUE;

} // namespace

bool WriteIsPromoted(std::wstring_view keyName, bool promoted)
{
    if (!IsSingleKeyName(keyName)) {
        return false;
    }
    RegistryAccessor registry(HKEY_CURRENT_USER, kEntryAccess);
    if (!registry.OpenKey(EntryPath(keyName), false)) {
        return false;
    }
    registry.WriteInteger(kIsPromotedValue, promoted ? 1 : 0);
    return true;
}

void SetAllIsPromotedToOne()
{
    ApplyPromotionPass(RuleForNewIconPolicy(NewIconPolicy::ShowAll));
}

void SetAllIsPromotedToOff()
{
    ApplyPromotionPass(RuleForNewIconPolicy(NewIconPolicy::HideAll));
}

void DeleteRegistryKey(std::wstring_view keyName)
{
    if (!IsSingleKeyName(keyName)) {
        return;
    }
    // Deleting a subkey needs no right on its parent.
    RegistryAccessor registry(HKEY_CURRENT_USER, KEY_READ);
    if (!registry.OpenKey(kNotifyIconSettingsKey, false)) {
        return;
    }
    LSTATUS status = ERROR_SUCCESS;
    if (!registry.DeleteKey(keyName, status) && status != ERROR_FILE_NOT_FOUND && registry.KeyExists(keyName)) {
        ThrowWin32(static_cast<DWORD>(status));
    }
}

bool RegGetKeyLastWriteTime(HKEY key, FILETIME& time) noexcept
{
    return ::RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                              nullptr, nullptr, &time) == ERROR_SUCCESS;
}

KeyWriteTime ToKeyWriteTime(const FILETIME& time) noexcept
{
    SYSTEMTIME check{};
    if (!::FileTimeToSystemTime(&time, &check)) {
        return 0;
    }
    ULARGE_INTEGER ticks{};
    ticks.LowPart = time.dwLowDateTime;
    ticks.HighPart = time.dwHighDateTime;
    return static_cast<KeyWriteTime>(ticks.QuadPart / 10'000);
}

KeyWriteTime GetRegistryKeyLastWriteTime(std::wstring_view keyPath)
{
    RegistryAccessor registry;
    if (!registry.OpenKey(keyPath, false)) {
        return 0;
    }
    FILETIME time{};
    if (!RegGetKeyLastWriteTime(registry.CurrentKey(), time)) {
        return 0;
    }
    return ToKeyWriteTime(time);
}

} // namespace merovane
