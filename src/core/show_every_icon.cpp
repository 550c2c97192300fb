#include "core/show_every_icon.h"

#include "base/error.h"
#include "base/handles.h"
#include "base/text_file.h"
#include "core/icon_store.h"

#include <atomic>
#include <charconv>
#include <cstring>

namespace merovane {

namespace {

constexpr std::string_view kHeader = "Merovane show every icon 1";
constexpr DWORD kShown = 1;

std::atomic<bool> g_active{false};

// A name the file's lines can carry: no control characters.
bool StorableName(std::wstring_view name)
{
    if (name.empty()) {
        return false;
    }
    for (const wchar_t c : name) {
        if (c < L' ') {
            return false;
        }
    }
    return true;
}

std::optional<int> HexDigit(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return std::nullopt;
}

std::vector<std::string_view> Split(std::string_view text, char separator)
{
    std::vector<std::string_view> parts;
    size_t start = 0;
    for (;;) {
        const size_t end = text.find(separator, start);
        if (end == std::string_view::npos) {
            parts.push_back(text.substr(start));
            return parts;
        }
        parts.push_back(text.substr(start, end - start));
        start = end + 1;
    }
}

RememberedPromotion ReadPromotion(HKEY entry, std::wstring keyName)
{
    StoredValue stored = ReadValueAsStored(entry, kIsPromotedValue);
    return {std::move(keyName), stored.present, stored.type, std::move(stored.bytes)};
}

bool HoldsShown(const RememberedPromotion& value)
{
    DWORD data = 0;
    if (!value.present || value.type != REG_DWORD || value.bytes.size() != sizeof(data)) {
        return false;
    }
    std::memcpy(&data, value.bytes.data(), sizeof(data));
    return data == kShown;
}

} // namespace

std::string SerializeRememberedPromotions(const std::vector<RememberedPromotion>& entries)
{
    static constexpr char kHex[] = "0123456789abcdef";
    std::string text(kHeader);
    text += "\r\n";
    for (const RememberedPromotion& entry : entries) {
        text += ToUtf8(entry.keyName);
        if (!entry.present) {
            text += "\t-\r\n";
            continue;
        }
        text += '\t';
        text += std::to_string(entry.type);
        text += '\t';
        for (const char byte : entry.bytes) {
            const auto b = static_cast<unsigned char>(byte);
            text += kHex[b >> 4];
            text += kHex[b & 0xF];
        }
        text += "\r\n";
    }
    return text;
}

std::optional<std::vector<RememberedPromotion>> ParseRememberedPromotions(std::string_view text)
{
    std::vector<std::string_view> lines = Split(text, '\n');
    if (lines.empty()) {
        return std::nullopt;
    }
    for (std::string_view& line : lines) {
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
    }
    if (lines.front() != kHeader) {
        return std::nullopt;
    }
    std::vector<RememberedPromotion> entries;
    for (size_t i = 1; i < lines.size(); ++i) {
        const std::string_view line = lines[i];
        if (line.empty()) {
            continue;
        }
        const std::vector<std::string_view> fields = Split(line, '\t');
        std::optional<std::wstring> name = FromUtf8Strictly(fields[0]);
        if (!name || !StorableName(*name)) {
            return std::nullopt;
        }
        RememberedPromotion entry;
        entry.keyName = std::move(*name);
        if (fields.size() == 2 && fields[1] == "-") {
            entries.push_back(std::move(entry));
            continue;
        }
        if (fields.size() != 3 || fields[2].size() % 2 != 0) {
            return std::nullopt;
        }
        DWORD type = 0;
        const auto [end, error] = std::from_chars(fields[1].data(), fields[1].data() + fields[1].size(), type);
        if (error != std::errc() || end != fields[1].data() + fields[1].size() || fields[1].empty()) {
            return std::nullopt;
        }
        entry.present = true;
        entry.type = type;
        for (size_t at = 0; at < fields[2].size(); at += 2) {
            const std::optional<int> high = HexDigit(fields[2][at]);
            const std::optional<int> low = HexDigit(fields[2][at + 1]);
            if (!high || !low) {
                return std::nullopt;
            }
            entry.bytes += static_cast<char>(*high * 16 + *low);
        }
        entries.push_back(std::move(entry));
    }
    return entries;
}

ShowEveryIconResult ShowEveryIcon(const std::wstring& stateFile)
{
    ShowEveryIconResult result;
    LSTATUS opened = ERROR_SUCCESS;
    const unique_hkey base = OpenNotifyIconSettings(KEY_READ, &opened);
    if (opened == ERROR_FILE_NOT_FOUND) {
        return result;
    }
    CheckWin32(opened);
    std::vector<EntrySubkey> keys = EnumerateEntries(base.get());

    // A file already there holds the values from before the first showing:
    // the entries hold 1 now, and remembering that would lose them.
    std::vector<RememberedPromotion> remembered;
    const std::optional<std::string> kept = ReadFileIfExists(stateFile);
    if (kept) {
        std::optional<std::vector<RememberedPromotion>> parsed = ParseRememberedPromotions(*kept);
        if (!parsed) {
            ThrowWin32(ERROR_INVALID_DATA);
        }
        remembered = std::move(*parsed);
    }
    const size_t keptCount = remembered.size();
    std::vector<RememberedPromotion> current;
    for (EntrySubkey& key : keys) {
        if (!StorableName(key.name)) {
            continue;
        }
        unique_hkey entry;
        if (::RegOpenKeyExW(base.get(), key.name.c_str(), 0, KEY_QUERY_VALUE, entry.put()) != ERROR_SUCCESS) {
            continue; // deleted since the enumeration, or not ours to read
        }
        RememberedPromotion value = ReadPromotion(entry.get(), std::move(key.name));
        bool known = false;
        for (size_t i = 0; i < keptCount && !known; ++i) {
            known = remembered[i].keyName == value.keyName;
        }
        if (!known) {
            remembered.push_back(value);
        }
        current.push_back(std::move(value));
    }
    // Written before any entry changes: a crash from here on can be undone.
    WriteFileAtomically(stateFile, SerializeRememberedPromotions(remembered));
    SetShowEveryIconActive(true);
    result.entries = static_cast<int>(remembered.size());

    for (const RememberedPromotion& value : current) {
        if (HoldsShown(value)) {
            continue;
        }
        unique_hkey writable;
        if (::RegOpenKeyExW(base.get(), value.keyName.c_str(), 0, KEY_SET_VALUE, writable.put()) != ERROR_SUCCESS) {
            continue; // gone meanwhile: never re-created
        }
        CheckWin32(::RegSetValueExW(writable.get(), kIsPromotedValue.data(), 0, REG_DWORD,
                                    reinterpret_cast<const BYTE*>(&kShown), sizeof(kShown)));
        ++result.written;
    }
    return result;
}

PutBackResult PutBackEveryIcon(const std::wstring& stateFile)
{
    PutBackResult result;
    const std::optional<std::string> kept = ReadFileIfExists(stateFile);
    if (!kept) {
        SetShowEveryIconActive(false);
        return result;
    }
    const std::optional<std::vector<RememberedPromotion>> remembered = ParseRememberedPromotions(*kept);
    if (!remembered) {
        ThrowWin32(ERROR_INVALID_DATA);
    }
    LSTATUS opened = ERROR_SUCCESS;
    const unique_hkey base = OpenNotifyIconSettings(KEY_READ, &opened);
    if (opened != ERROR_SUCCESS && opened != ERROR_FILE_NOT_FOUND) {
        ThrowWin32(static_cast<DWORD>(opened));
    }
    for (const RememberedPromotion& value : *remembered) {
        unique_hkey entry;
        if (!base || ::RegOpenKeyExW(base.get(), value.keyName.c_str(), 0, KEY_QUERY_VALUE | KEY_SET_VALUE,
                                     entry.put()) != ERROR_SUCCESS) {
            ++result.gone;
            continue;
        }
        const RememberedPromotion now = ReadPromotion(entry.get(), value.keyName);
        if (!HoldsShown(now)) {
            ++result.userChanged;
            continue;
        }
        if (now == value) {
            continue; // it held 1 before as well
        }
        if (value.present) {
            CheckWin32(::RegSetValueExW(entry.get(), kIsPromotedValue.data(), 0, value.type,
                                        reinterpret_cast<const BYTE*>(value.bytes.data()),
                                        static_cast<DWORD>(value.bytes.size())));
        } else {
            const LSTATUS deleted = ::RegDeleteValueW(entry.get(), kIsPromotedValue.data());
            if (deleted != ERROR_FILE_NOT_FOUND) {
                CheckWin32(deleted);
            }
        }
        ++result.restored;
    }
    if (!::DeleteFileW(stateFile.c_str()) && ::GetLastError() != ERROR_FILE_NOT_FOUND) {
        ThrowWin32(::GetLastError());
    }
    SetShowEveryIconActive(false);
    return result;
}

bool ShowingEveryIcon(const std::wstring& stateFile)
{
    const DWORD attributes = ::GetFileAttributesW(stateFile.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool ShowEveryIconActive() noexcept
{
    return g_active.load();
}

void SetShowEveryIconActive(bool active) noexcept
{
    g_active.store(active);
}

} // namespace merovane
