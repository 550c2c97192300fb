#pragma once

// The notification-area entries Explorer keeps under
// HKEY_CURRENT_USER\Control Panel\NotifyIconSettings, one subkey per icon, and
// the operations that change them. Explorer owns the keys: the program writes
// only IsPromoted and deletes whole entries.

#include <windows.h>

#include <cstdint>
#include <string_view>

namespace merovane {

inline constexpr std::wstring_view kNotifyIconSettingsKey = L"Control Panel\\NotifyIconSettings";
inline constexpr std::wstring_view kIsPromotedValue = L"IsPromoted";

// Last-write time of a key in milliseconds since 1 January 1601 (UTC). Orders
// like the FILETIME it comes from; 0 means unknown and orders before every real
// time.
using KeyWriteTime = std::int64_t;

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

// Deletes one entry's key with everything below it. An entry that is already
// gone, or a name that is not one entry's, deletes nothing; a key that stays
// (no right to delete it) throws merovane::Error with the system's reason.
void DeleteRegistryKey(std::wstring_view keyName);

// Last-write time of the key at the given path under HKEY_CURRENT_USER, 0 when
// it can't be had.
KeyWriteTime GetRegistryKeyLastWriteTime(std::wstring_view keyPath);

// The last-write time of an open key; false when the query fails.
bool RegGetKeyLastWriteTime(HKEY key, FILETIME& time) noexcept;

// FILETIME to KeyWriteTime; 0 for a time the system can't convert.
KeyWriteTime ToKeyWriteTime(const FILETIME& time) noexcept;

} // namespace merovane
