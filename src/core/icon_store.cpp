#include "core/icon_store.h"

#include "core/registry.h"

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

void SetAllIsPromoted(bool promoted)
{
    const std::uint32_t target = promoted ? 1 : 0;
    RegistryAccessor registry;
    if (!registry.OpenKey(kNotifyIconSettingsKey, false)) {
        return;
    }
    const std::vector<std::wstring> names = registry.GetKeyNames();
    registry.CloseKey();

    for (const std::wstring& name : names) {
        if (!registry.OpenKey(EntryPath(name), true)) {
            continue;
        }
        bool write = true;
        if (!registry.ValueExists(kIsPromotedValue)) {
            write = promoted; // a missing value counts as 0
        } else if (const auto current = registry.TryReadInteger(kIsPromotedValue)) {
            write = *current != target;
        }
        if (write) {
            registry.WriteInteger(kIsPromotedValue, static_cast<std::int32_t>(target));
        }
        registry.CloseKey();
    }
}

} // namespace

bool WriteIsPromoted(std::wstring_view keyName, bool promoted)
{
    if (!IsSingleKeyName(keyName)) {
        return false;
    }
    RegistryAccessor registry;
    if (!registry.OpenKey(EntryPath(keyName), true)) {
        return false;
    }
    registry.WriteInteger(kIsPromotedValue, promoted ? 1 : 0);
    return true;
}

void SetAllIsPromotedToOne()
{
    SetAllIsPromoted(true);
}

void SetAllIsPromotedToOff()
{
    SetAllIsPromoted(false);
}

void DeleteRegistryKey(std::wstring_view keyName)
{
    if (!IsSingleKeyName(keyName)) {
        return;
    }
    RegistryAccessor registry;
    if (registry.OpenKey(kNotifyIconSettingsKey, false)) {
        registry.DeleteKey(keyName);
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
