#include "core/icon_order.h"

#include "base/error.h"
#include "base/handles.h"
#include "base/text_file.h"
#include "core/icon_store.h"

#include <windows.h>

#include <algorithm>

namespace merovane {

namespace {

constexpr std::size_t kIdSize = sizeof(IconId);

unique_hkey OpenOrderKey(REGSAM access)
{
    LSTATUS status = ERROR_SUCCESS;
    unique_hkey key = OpenNotifyIconSettings(access, &status);
    if (status == ERROR_FILE_NOT_FOUND) {
        return {};
    }
    CheckWin32(status);
    return key;
}

bool SameIds(std::vector<IconId> a, std::vector<IconId> b)
{
    std::sort(a.begin(), a.end());
    std::sort(b.begin(), b.end());
    return a == b;
}

// The stored ids, or an error when there are none to reorder.
std::vector<IconId> StoredIds(const StoredIconOrder& stored)
{
    if (!stored.present) {
        ThrowWin32(ERROR_FILE_NOT_FOUND);
    }
    if (!stored.ids) {
        ThrowWin32(ERROR_INVALID_DATA);
    }
    return *stored.ids;
}

} // namespace

std::optional<std::vector<IconId>> ParseIconOrder(std::string_view bytes)
{
    if (bytes.size() % kIdSize != 0) {
        return std::nullopt;
    }
    std::vector<IconId> ids;
    ids.reserve(bytes.size() / kIdSize);
    for (std::size_t at = 0; at < bytes.size(); at += kIdSize) {
        IconId id = 0;
        for (std::size_t i = kIdSize; i-- > 0;) {
            id = (id << 8) | static_cast<unsigned char>(bytes[at + i]);
        }
        ids.push_back(id);
    }
    return ids;
}

std::string SerializeIconOrder(std::span<const IconId> ids)
{
    std::string bytes;
    bytes.reserve(ids.size() * kIdSize);
    for (IconId id : ids) {
        for (std::size_t i = 0; i < kIdSize; ++i) {
            bytes += static_cast<char>(id & 0xFF);
            id >>= 8;
        }
    }
    return bytes;
}

std::optional<IconId> IconIdFromKeyName(std::wstring_view keyName)
{
    if (keyName.empty() || keyName.size() > 20 || (keyName.size() > 1 && keyName.front() == L'0')) {
        return std::nullopt;
    }
    IconId id = 0;
    for (const wchar_t c : keyName) {
        if (c < L'0' || c > L'9') {
            return std::nullopt;
        }
        const IconId digit = static_cast<IconId>(c - L'0');
        if (id > (UINT64_MAX - digit) / 10) {
            return std::nullopt;
        }
        id = id * 10 + digit;
    }
    return id;
}

std::wstring KeyNameFromIconId(IconId id)
{
    return std::to_wstring(id);
}

Reordering ReorderIcons(std::span<const IconId> current, std::span<const IconId> wanted)
{
    Reordering result;
    std::vector<IconId> named;
    for (const IconId id : wanted) {
        if (std::find(current.begin(), current.end(), id) == current.end()) {
            return {.problem = OrderProblem::UnknownId, .offending = id, .ids = {}};
        }
        if (std::find(named.begin(), named.end(), id) != named.end()) {
            return {.problem = OrderProblem::Repeated, .offending = id, .ids = {}};
        }
        named.push_back(id);
    }
    result.ids.reserve(current.size());
    for (const IconId id : named) {
        // Every copy of the id, so the value keeps the ids it had.
        result.ids.insert(result.ids.end(), static_cast<std::size_t>(std::count(current.begin(), current.end(), id)), id);
    }
    for (const IconId id : current) {
        if (std::find(named.begin(), named.end(), id) == named.end()) {
            result.ids.push_back(id);
        }
    }
    return result;
}

std::optional<std::vector<IconId>> MoveIcon(std::span<const IconId> current, IconId id, int delta)
{
    const auto found = std::find(current.begin(), current.end(), id);
    if (found == current.end() || (delta != -1 && delta != 1)) {
        return std::nullopt;
    }
    const std::size_t at = static_cast<std::size_t>(found - current.begin());
    if ((delta < 0 && at == 0) || (delta > 0 && at + 1 == current.size())) {
        return std::nullopt;
    }
    std::vector<IconId> moved(current.begin(), current.end());
    std::swap(moved[at], moved[delta < 0 ? at - 1 : at + 1]);
    return moved;
}

StoredIconOrder ReadIconOrder()
{
    const unique_hkey key = OpenOrderKey(KEY_QUERY_VALUE);
    if (!key) {
        return {};
    }
    const StoredValue value = ReadValueAsStored(key.get(), kIconOrderValue);
    StoredIconOrder stored;
    stored.present = value.present;
    if (value.present && value.type == REG_BINARY) {
        stored.binary = true;
        stored.bytes = value.bytes;
        stored.ids = ParseIconOrder(stored.bytes);
    }
    return stored;
}

void WriteIconOrder(std::string_view bytes)
{
    const unique_hkey key = OpenOrderKey(KEY_SET_VALUE);
    if (!key) {
        ThrowWin32(ERROR_FILE_NOT_FOUND);
    }
    CheckWin32(::RegSetValueExW(key.get(), std::wstring(kIconOrderValue).c_str(), 0, REG_BINARY,
                                reinterpret_cast<const BYTE*>(bytes.data()), static_cast<DWORD>(bytes.size())));
}

void ChangeIconOrder(std::span<const IconId> ids, const std::wstring& backupFile)
{
    const StoredIconOrder stored = ReadIconOrder();
    const std::vector<IconId> current = StoredIds(stored);
    if (!SameIds(current, std::vector<IconId>(ids.begin(), ids.end()))) {
        ThrowWin32(ERROR_INVALID_DATA);
    }
    WriteFileAtomically(backupFile, stored.bytes);
    WriteIconOrder(SerializeIconOrder(ids));
}

bool UndoIconOrder(const std::wstring& backupFile)
{
    const std::optional<std::string> kept = ReadFileIfExists(backupFile);
    if (!kept) {
        return false;
    }
    const std::optional<std::vector<IconId>> keptIds = ParseIconOrder(*kept);
    if (!keptIds) {
        ThrowWin32(ERROR_INVALID_DATA);
    }
    const StoredIconOrder stored = ReadIconOrder();
    const std::vector<IconId> current = StoredIds(stored);
    std::string bytes = *kept;
    if (!SameIds(current, *keptIds)) {
        std::vector<IconId> wanted;
        for (const IconId id : *keptIds) {
            if (std::find(current.begin(), current.end(), id) != current.end() &&
                std::find(wanted.begin(), wanted.end(), id) == wanted.end()) {
                wanted.push_back(id);
            }
        }
        bytes = SerializeIconOrder(ReorderIcons(current, wanted).ids);
    }
    WriteFileAtomically(backupFile, stored.bytes);
    WriteIconOrder(bytes);
    return true;
}

} // namespace merovane
