#include "core/icon_store.h"

#include "base/error.h"
#include "base/registry.h"
#include "core/promotion_pass.h"

#include <algorithm>
#include <cwchar>
#include <iterator>
#include <string>
#include <utility>

namespace merovane {

namespace {

// A name that addresses exactly one subkey of the base key. An empty name would
// address the base key itself and a "\" a key further down.
bool IsSingleKeyName(std::wstring_view keyName)
{
    return !keyName.empty() && keyName.find(L'\\') == std::wstring_view::npos;
}

// Explorer owns the entries: writes open existing keys only, with no more
// access than reading and setting a value, so an entry deleted meanwhile is
// never re-created.
constexpr REGSAM kEntryAccess = KEY_QUERY_VALUE | KEY_SET_VALUE;

// A value name as the registry functions want it, NUL-terminated; names up
// to 63 characters need no allocation.
class ValueName {
public:
    explicit ValueName(std::wstring_view name)
    {
        if (name.size() < std::size(small_)) {
            std::wmemcpy(small_, name.data(), name.size());
            small_[name.size()] = L'\0';
        } else {
            large_.assign(name);
        }
    }
    ValueName(const ValueName&) = delete;
    ValueName& operator=(const ValueName&) = delete;

    [[nodiscard]] const wchar_t* c_str() const noexcept { return large_.empty() ? small_ : large_.c_str(); }

private:
    wchar_t small_[64];
    std::wstring large_;
};

bool IsText(DWORD type) noexcept
{
    return type == REG_SZ || type == REG_EXPAND_SZ;
}

std::wstring CutAtNul(std::wstring_view text)
{
    return std::wstring(text.substr(0, text.find(L'\0')));
}

} // namespace

std::wstring EntryKeyPath(std::wstring_view keyName)
{
    std::wstring path(kNotifyIconSettingsKey);
    path += L'\\';
    path += keyName;
    return path;
}

unique_hkey OpenNotifyIconSettings(REGSAM access, LSTATUS* status)
{
    unique_hkey key;
    const LSTATUS opened =
        ::RegOpenKeyExW(HKEY_CURRENT_USER, std::wstring(kNotifyIconSettingsKey).c_str(), 0, access, key.put());
    if (status != nullptr) {
        *status = opened;
    }
    if (opened != ERROR_SUCCESS) {
        key.reset();
    }
    return key;
}

std::vector<EntrySubkey> EnumerateEntries(HKEY notifyIconSettings)
{
    std::vector<EntrySubkey> subkeys;
    DWORD count = 0;
    DWORD longest = 0;
    if (::RegQueryInfoKeyW(notifyIconSettings, nullptr, nullptr, nullptr, &count, &longest, nullptr, nullptr,
                           nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS) {
        subkeys.reserve(count);
    }
    std::wstring name(std::max<DWORD>(longest + 1, 256), L'\0');
    for (DWORD index = 0;; ++index) {
        DWORD length = static_cast<DWORD>(name.size());
        FILETIME written{};
        const LSTATUS status =
            ::RegEnumKeyExW(notifyIconSettings, index, name.data(), &length, nullptr, nullptr, nullptr, &written);
        if (status == ERROR_MORE_DATA) {
            name.resize(name.size() * 2); // a subkey added meanwhile with a longer name
            --index;
            continue;
        }
        if (status != ERROR_SUCCESS) {
            break;
        }
        const std::uint64_t ticks = (std::uint64_t{written.dwHighDateTime} << 32) | written.dwLowDateTime;
        subkeys.push_back({name.substr(0, length), ticks});
    }
    return subkeys;
}

std::wstring EntryNameAt(HKEY notifyIconSettings, DWORD index)
{
    std::wstring name(256, L'\0');
    for (;;) {
        DWORD length = static_cast<DWORD>(name.size());
        const LSTATUS status =
            ::RegEnumKeyExW(notifyIconSettings, index, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_MORE_DATA) {
            name.resize(name.size() * 2);
            continue;
        }
        name.resize(status == ERROR_SUCCESS ? length : 0);
        return name;
    }
}

unique_hkey OpenEntry(HKEY notifyIconSettings, const std::wstring& keyName, REGSAM access)
{
    unique_hkey entry;
    if (::RegOpenKeyExW(notifyIconSettings, keyName.c_str(), 0, access, entry.put()) != ERROR_SUCCESS) {
        entry.reset();
    }
    return entry;
}

std::optional<std::wstring> ReadEntryString(HKEY entry, std::wstring_view name, bool* exists)
{
    const ValueName value(name);
    // One query for the usual short value.
    wchar_t buffer[256];
    DWORD size = sizeof(buffer);
    DWORD type = REG_NONE;
    LSTATUS status = ::RegQueryValueExW(entry, value.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
    if (exists != nullptr) {
        *exists = status == ERROR_SUCCESS || status == ERROR_MORE_DATA;
    }
    if (status == ERROR_SUCCESS) {
        if (!IsText(type)) {
            return std::nullopt;
        }
        return CutAtNul(std::wstring_view(buffer, size / sizeof(wchar_t)));
    }
    if (status != ERROR_MORE_DATA || !IsText(type)) {
        return std::nullopt;
    }
    for (int attempt = 0; attempt < 4; ++attempt) {
        std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
        size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
        status = ::RegQueryValueExW(entry, value.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &size);
        if (status == ERROR_SUCCESS) {
            if (!IsText(type)) {
                return std::nullopt;
            }
            return CutAtNul(std::wstring_view(text.data(), size / sizeof(wchar_t)));
        }
        if (status != ERROR_MORE_DATA) {
            break;
        }
        // The value grew meanwhile: ask again.
    }
    return std::nullopt;
}

std::optional<std::uint32_t> ReadEntryDword(HKEY entry, std::wstring_view name, bool* exists)
{
    const ValueName value(name);
    DWORD data = 0;
    DWORD size = sizeof(data);
    DWORD type = REG_NONE;
    const LSTATUS status =
        ::RegQueryValueExW(entry, value.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&data), &size);
    if (exists != nullptr) {
        *exists = status == ERROR_SUCCESS || status == ERROR_MORE_DATA;
    }
    if (status != ERROR_SUCCESS || type != REG_DWORD || size != sizeof(data)) {
        return std::nullopt;
    }
    return data;
}

std::vector<std::uint8_t> ReadEntryBinary(HKEY entry, std::wstring_view name, std::uint32_t maxBytes)
{
    const ValueName value(name);
    // Asked twice at most: the value may change between the two questions.
    for (int attempt = 0; attempt < 2; ++attempt) {
        DWORD type = REG_NONE;
        DWORD size = 0;
        if (::RegQueryValueExW(entry, value.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
            type != REG_BINARY || size == 0 || size > maxBytes) {
            return {};
        }
        std::vector<std::uint8_t> bytes(size);
        const LSTATUS status = ::RegQueryValueExW(entry, value.c_str(), nullptr, &type, bytes.data(), &size);
        if (status == ERROR_SUCCESS) {
            if (type != REG_BINARY || size == 0) {
                return {};
            }
            bytes.resize(size);
            return bytes;
        }
        if (status != ERROR_MORE_DATA) {
            return {};
        }
    }
    return {};
}

StoredValue ReadValueAsStored(HKEY entry, std::wstring_view name)
{
    const ValueName value(name);
    StoredValue stored;
    DWORD type = REG_NONE;
    DWORD size = 0;
    LSTATUS status = ::RegQueryValueExW(entry, value.c_str(), nullptr, &type, nullptr, &size);
    if (status == ERROR_FILE_NOT_FOUND) {
        return stored;
    }
    CheckWin32(status);
    std::string bytes(size, '\0');
    for (;;) {
        size = static_cast<DWORD>(bytes.size());
        status = ::RegQueryValueExW(entry, value.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(bytes.data()), &size);
        if (status != ERROR_MORE_DATA) {
            break;
        }
        bytes.resize(size);
    }
    if (status == ERROR_FILE_NOT_FOUND) {
        return stored;
    }
    CheckWin32(status);
    bytes.resize(size);
    stored.present = true;
    stored.type = type;
    stored.bytes = std::move(bytes);
    return stored;
}

bool WriteIsPromoted(std::wstring_view keyName, bool promoted)
{
    if (!IsSingleKeyName(keyName)) {
        return false;
    }
    RegistryAccessor registry(HKEY_CURRENT_USER, kEntryAccess);
    if (!registry.OpenKey(EntryKeyPath(keyName), false)) {
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

bool DeleteRegistryKey(std::wstring_view keyName)
{
    if (!IsSingleKeyName(keyName)) {
        return false;
    }
    // Deleting a subkey needs no right on its parent.
    RegistryAccessor registry(HKEY_CURRENT_USER, KEY_READ);
    if (!registry.OpenKey(kNotifyIconSettingsKey, false)) {
        return false;
    }
    LSTATUS status = ERROR_SUCCESS;
    if (registry.DeleteKey(keyName, status)) {
        return true;
    }
    if (status != ERROR_FILE_NOT_FOUND && registry.KeyExists(keyName)) {
        ThrowWin32(static_cast<DWORD>(status));
    }
    return false;
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
