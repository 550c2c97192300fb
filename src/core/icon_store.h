#pragma once

// The notification-area entries Explorer keeps under
// HKEY_CURRENT_USER\Control Panel\NotifyIconSettings, one subkey per icon:
// the key and value names, the enumeration of the entries, one reader per
// value kind, and the operations that change them. This is the only code that
// spells those names. Explorer owns the keys: the program writes only
// IsPromoted and UIOrderList and deletes whole entries.

#include "base/handles.h"

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace merovane {

inline constexpr std::wstring_view kNotifyIconSettingsKey = L"Control Panel\\NotifyIconSettings";

// Values of one entry.
inline constexpr std::wstring_view kIsPromotedValue = L"IsPromoted";
inline constexpr std::wstring_view kExecutablePathValue = L"ExecutablePath";
inline constexpr std::wstring_view kIconGuidValue = L"IconGuid";
inline constexpr std::wstring_view kPublisherValue = L"Publisher";
inline constexpr std::wstring_view kInitialTooltipValue = L"InitialTooltip";
inline constexpr std::wstring_view kIconSnapshotValue = L"IconSnapshot";
// On the NotifyIconSettings key itself: the icons' order.
inline constexpr std::wstring_view kIconOrderValue = L"UIOrderList";

// Last-write time of a key in milliseconds since 1 January 1601 (UTC). Orders
// like the FILETIME it comes from; 0 means unknown and orders before every real
// time.
using KeyWriteTime = std::int64_t;

// "Control Panel\NotifyIconSettings\<keyName>", below HKEY_CURRENT_USER.
std::wstring EntryKeyPath(std::wstring_view keyName);

// The NotifyIconSettings key opened with `access`; empty when it is missing
// or can't be opened so. The status of the open, when asked for.
unique_hkey OpenNotifyIconSettings(REGSAM access, LSTATUS* status = nullptr);

// One subkey of the NotifyIconSettings key, with its last-write time as the
// enumeration gives it (FILETIME ticks, 0 when unknown).
struct EntrySubkey {
    std::wstring name;
    std::uint64_t lastWrite = 0;
};

// Every subkey of the open NotifyIconSettings key in enumeration order, names
// and last-write times in one call per subkey.
std::vector<EntrySubkey> EnumerateEntries(HKEY notifyIconSettings);

// The name of the subkey at `index` in enumeration order; "" when there is
// none (the list got shorter meanwhile).
std::wstring EntryNameAt(HKEY notifyIconSettings, DWORD index);

// One entry of the open NotifyIconSettings key, opened with `access`; empty
// when it is gone or can't be opened so.
unique_hkey OpenEntry(HKEY notifyIconSettings, const std::wstring& keyName, REGSAM access);

// The readers of one open entry's values. A value that is missing, of another
// type or can't be read is absent; `exists`, when given, says whether a value
// of that name is there at all, of whatever type.
//
// REG_SZ or REG_EXPAND_SZ (not expanded), cut at the first NUL.
std::optional<std::wstring> ReadEntryString(HKEY entry, std::wstring_view name, bool* exists = nullptr);
// A REG_DWORD of four bytes.
std::optional<std::uint32_t> ReadEntryDword(HKEY entry, std::wstring_view name, bool* exists = nullptr);
// A REG_BINARY of 1 to `maxBytes` bytes; empty otherwise.
std::vector<std::uint8_t> ReadEntryBinary(HKEY entry, std::wstring_view name, std::uint32_t maxBytes);

// A value of an entry, or of the NotifyIconSettings key itself, as stored,
// whatever its type, so that it can be put back exactly.
struct StoredValue {
    bool present = false;
    DWORD type = REG_NONE;
    std::string bytes;
};
// A missing value is not present; any other failure throws merovane::Error.
StoredValue ReadValueAsStored(HKEY entry, std::wstring_view name);

// Writes one entry's IsPromoted (1 or 0) into the existing entry. Returns
// false, writing nothing, when the key name is not a single key name or the
// entry can't be opened: Explorer or the user deleted it (or the whole
// NotifyIconSettings key) meanwhile, and it is not re-created. A failed write
// into an existing entry throws.
bool WriteIsPromoted(std::wstring_view keyName, bool promoted);

// Force IsPromoted to 1 / 0 on every existing entry; one deleted between the
// enumeration and its write is skipped. Only entries whose value differs
// are written (a missing value counts as 0, a value of another type is
// replaced), so the last-write time of an entry keeps meaning "last changed".
// A failed write throws and ends the pass.
void SetAllIsPromotedToOne();
void SetAllIsPromotedToOff();

// Deletes one entry's key with everything below it; true when it went. An
// entry that is already gone, or a name that is not one entry's, deletes
// nothing; a key that stays (no right to delete it) throws merovane::Error
// with the system's reason.
bool DeleteRegistryKey(std::wstring_view keyName);

// Last-write time of the key at the given path under HKEY_CURRENT_USER, 0 when
// it can't be had.
KeyWriteTime GetRegistryKeyLastWriteTime(std::wstring_view keyPath);

// The last-write time of an open key; false when the query fails.
bool RegGetKeyLastWriteTime(HKEY key, FILETIME& time) noexcept;

// FILETIME to KeyWriteTime; 0 for a time the system can't convert.
KeyWriteTime ToKeyWriteTime(const FILETIME& time) noexcept;

} // namespace merovane
