#pragma once

// The order of the notification-area icons. Explorer keeps it in UIOrderList,
// a REG_BINARY value on the NotifyIconSettings key itself: the entries' ids
// (their subkey names, decimal 64-bit numbers) as little-endian 8-byte
// numbers, first icon first, read when Explorer starts. The format is not
// documented, so the program only ever reorders the ids the value already
// holds: it never adds, drops or invents one, leaves a value it cannot parse
// alone, and writes the whole value in one call.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace merovane {

using IconId = std::uint64_t;

// The ids of the value's bytes; nothing unless they are a whole number of ids.
std::optional<std::vector<IconId>> ParseIconOrder(std::string_view bytes);
std::string SerializeIconOrder(std::span<const IconId> ids);

// An entry's key name as an id: decimal digits only, no sign, no blank, fits
// in 64 bits (leading zeros would name another key, so they are refused).
std::optional<IconId> IconIdFromKeyName(std::wstring_view keyName);
std::wstring KeyNameFromIconId(IconId id);

enum class OrderProblem {
    None,
    UnknownId, // a wanted id the value does not hold
    Repeated,  // a wanted id named twice
};

struct Reordering {
    OrderProblem problem = OrderProblem::None;
    IconId offending = 0;       // the id the problem is about
    std::vector<IconId> ids;    // the new order when problem is None
};

// `current` with the ids of `wanted` first, in that order, and the ids it
// leaves out after them in their relative order. An id the value holds more
// than once moves with all its copies, so the value keeps exactly the ids it
// had.
Reordering ReorderIcons(std::span<const IconId> current, std::span<const IconId> wanted);

// `current` with `id` moved one place towards the front (delta -1) or the
// back (+1); nothing when it is not there or already at that end.
std::optional<std::vector<IconId>> MoveIcon(std::span<const IconId> current, IconId id, int delta);

// The value as stored.
struct StoredIconOrder {
    bool present = false;        // the value exists
    bool binary = false;         // ... as REG_BINARY
    std::string bytes;           // its bytes when binary
    std::optional<std::vector<IconId>> ids; // when they parse
};

// Reads UIOrderList from HKCU\Control Panel\NotifyIconSettings. A missing key
// or value reads as not present; other failures throw merovane::Error.
StoredIconOrder ReadIconOrder();

// Writes the whole value in one call into the existing key (never created).
// Throws merovane::Error when the key is gone or the write fails.
void WriteIconOrder(std::string_view bytes);

// The value before the program's last change is kept in a file beside the
// settings, so one command puts it back.
inline constexpr std::wstring_view kIconOrderBackupName = L"IconOrder.bak";

// Replaces the stored value with `ids` (which must be a reordering of what is
// stored), keeping the value it replaces in `backupFile` first. A value that is
// missing, not binary or does not parse is refused (merovane::Error with
// ERROR_INVALID_DATA) and nothing is written.
void ChangeIconOrder(std::span<const IconId> ids, const std::wstring& backupFile);

// Puts the order kept in `backupFile` back, keeping the value it replaces
// there in turn (so a second undo redoes). False when there is nothing to put
// back. When the value still holds the same ids the kept bytes are written as
// they were; when icons came or went since, the current ids are put in the
// kept order instead (new ones after it), so no id is dropped or invented.
// A current value that does not parse is refused as by ChangeIconOrder.
bool UndoIconOrder(const std::wstring& backupFile);

} // namespace merovane
