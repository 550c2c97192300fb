#include "base/ini_file.h"

#include "base/text_file.h"

#include "base/error.h"
#include "base/handles.h"

#include <windows.h>

#include <algorithm>
#include <climits>
#include <unordered_map>
#include <utility>

namespace merovane {

namespace {

bool IsBlank(wchar_t c)
{
    return c <= 32;
}

std::wstring_view TrimLeft(std::wstring_view text)
{
    const auto first = std::find_if_not(text.begin(), text.end(), IsBlank);
    return text.substr(static_cast<size_t>(first - text.begin()));
}

std::wstring_view TrimRight(std::wstring_view text)
{
    while (!text.empty() && IsBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

// The system's string functions count in int.
int CheckedLength(size_t length)
{
    if (length > static_cast<size_t>(INT_MAX)) {
        ThrowWin32(ERROR_FILE_TOO_LARGE);
    }
    return static_cast<int>(length);
}

void RejectLineBreaks(std::wstring_view text)
{
    if (text.find_first_of(L"\r\n") != std::wstring_view::npos) {
        ThrowWin32(ERROR_INVALID_DATA);
    }
}

} // namespace

std::wstring FoldIniName(std::wstring_view name)
{
    if (name.empty()) {
        return {};
    }
    const int length = CheckedLength(name.size());
    std::wstring folded(name.size(), L'\0');
    if (::LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, name.data(), length, folded.data(), length,
                        nullptr, nullptr, 0) != length) {
        return std::wstring(name);
    }
    return folded;
}

bool IniNamesEqual(std::wstring_view a, std::wstring_view b)
{
    if (a.size() != b.size()) {
        return false;
    }
    if (a.empty()) {
        return true;
    }
    return ::CompareStringOrdinal(a.data(), CheckedLength(a.size()), b.data(), CheckedLength(b.size()), TRUE) ==
           CSTR_EQUAL;
}

std::optional<std::int32_t> ParseDecimalInt32(std::wstring_view text)
{
    bool negative = false;
    if (!text.empty() && (text.front() == L'+' || text.front() == L'-')) {
        negative = text.front() == L'-';
        text.remove_prefix(1);
    }
    if (text.empty()) {
        return std::nullopt;
    }
    const std::int64_t limit = negative ? -std::int64_t{INT32_MIN} : INT32_MAX;
    std::int64_t value = 0;
    for (const wchar_t c : text) {
        if (c < L'0' || c > L'9') {
            return std::nullopt;
        }
        value = value * 10 + (c - L'0');
        if (value > limit) {
            return std::nullopt;
        }
    }
    return static_cast<std::int32_t>(negative ? -value : value);
}

std::optional<std::int32_t> ParseIniInteger(std::wstring_view text)
{
    const auto hexDigit = [](wchar_t c) -> int {
        if (c >= L'0' && c <= L'9') {
            return c - L'0';
        }
        if (c >= L'a' && c <= L'f') {
            return c - L'a' + 10;
        }
        if (c >= L'A' && c <= L'F') {
            return c - L'A' + 10;
        }
        return -1;
    };

    const size_t prefix = text.starts_with(L"0x") || text.starts_with(L"0X") ? 2 : text.starts_with(L'$') ? 1 : 0;
    if (prefix != 0) {
        const std::wstring_view digits = text.substr(prefix);
        if (digits.empty()) {
            return std::nullopt;
        }
        std::uint32_t value = 0;
        for (const wchar_t c : digits) {
            const int digit = hexDigit(c);
            if (digit < 0 || value > 0x0FFFFFFFu) {
                return std::nullopt;
            }
            value = (value << 4) | static_cast<std::uint32_t>(digit);
        }
        return static_cast<std::int32_t>(value);
    }

    return ParseDecimalInt32(text);
}

IniFile IniFile::FromBytes(std::string_view bytes, RepeatedSections repeated)
{
    DecodedText decoded = DecodeText(bytes);
    IniFile file;
    file.encoding_ = decoded.encoding;
    file.faithful_ = decoded.faithful;
    file.Parse(decoded.text, repeated);
    return file;
}

IniFile IniFile::FromText(std::wstring_view text, TextEncoding encoding, RepeatedSections repeated)
{
    IniFile file;
    file.encoding_ = encoding;
    file.Parse(text, repeated);
    return file;
}

IniFile IniFile::Load(const std::wstring& path, RepeatedSections repeated)
{
    std::optional<std::string> bytes = ReadFileIfExists(path);
    return bytes ? FromBytes(*bytes, repeated) : IniFile();
}

void IniFile::Parse(std::wstring_view text, RepeatedSections repeated)
{
    // Sections by folded name, so a file with many sections parses in linear
    // time; the fold only narrows the search, IniNamesEqual decides.
    std::unordered_map<std::wstring, std::vector<size_t>> byName;
    std::optional<size_t> current;

    size_t position = 0;
    while (position <= text.size()) {
        size_t end = text.find_first_of(L"\r\n", position);
        if (end == std::wstring_view::npos) {
            end = text.size();
        }
        const std::wstring_view line = TrimRight(TrimLeft(text.substr(position, end - position)));
        position = end + 1;
        if (end < text.size() && text[end] == L'\r' && position < text.size() && text[position] == L'\n') {
            ++position;
        }

        if (line.empty() || line.front() == L';') {
            continue;
        }
        if (line.size() >= 2 && line.front() == L'[' && line.back() == L']') {
            const std::wstring_view name = TrimRight(TrimLeft(line.substr(1, line.size() - 2)));
            if (repeated == RepeatedSections::Separate) {
                current = sections_.size();
                sections_.push_back(IniSection{std::wstring(name), {}});
                continue;
            }
            std::vector<size_t>& candidates = byName[FoldIniName(name)];
            const auto seen = std::find_if(candidates.begin(), candidates.end(),
                                           [&](size_t index) { return IniNamesEqual(sections_[index].name, name); });
            if (seen != candidates.end()) {
                // A repeated header continues its section: a rewrite keeps what the user wrote.
                current = *seen;
            } else {
                current = sections_.size();
                candidates.push_back(sections_.size());
                sections_.push_back(IniSection{std::wstring(name), {}});
            }
            continue;
        }
        if (!current) {
            continue;
        }
        std::vector<IniEntry>& entries = sections_[*current].entries;
        if (const size_t equals = line.find(L'='); equals != std::wstring_view::npos) {
            entries.push_back(IniEntry{std::wstring(TrimRight(line.substr(0, equals))),
                                       std::wstring(TrimLeft(line.substr(equals + 1)))});
        } else {
            entries.push_back(IniEntry{std::wstring(line), std::nullopt});
        }
    }
}

const IniSection* IniFile::FindSection(std::wstring_view name) const
{
    const auto found = std::find_if(sections_.begin(), sections_.end(),
                                    [&](const IniSection& section) { return IniNamesEqual(section.name, name); });
    return found == sections_.end() ? nullptr : &*found;
}

IniSection* IniFile::FindSectionMutable(std::wstring_view name)
{
    return const_cast<IniSection*>(std::as_const(*this).FindSection(name));
}

std::vector<std::wstring> IniFile::SectionNames() const
{
    std::vector<std::wstring> names;
    names.reserve(sections_.size());
    for (const IniSection& section : sections_) {
        names.push_back(section.name);
    }
    return names;
}

std::vector<std::wstring> IniFile::SectionKeys(std::wstring_view section) const
{
    std::vector<std::wstring> keys;
    if (const IniSection* found = FindSection(section)) {
        keys.reserve(found->entries.size());
        for (const IniEntry& entry : found->entries) {
            keys.push_back(entry.key);
        }
    }
    return keys;
}

bool IniFile::SectionExists(std::wstring_view section) const
{
    return FindSection(section) != nullptr;
}

bool IniFile::KeyExists(std::wstring_view section, std::wstring_view key) const
{
    return ReadString(section, key).has_value();
}

std::optional<std::wstring> IniFile::ReadString(std::wstring_view section, std::wstring_view key) const
{
    const IniSection* found = FindSection(section);
    if (found == nullptr) {
        return std::nullopt;
    }
    for (const IniEntry& entry : found->entries) {
        if (IniNamesEqual(entry.key, key)) {
            return entry.value.value_or(std::wstring());
        }
    }
    return std::nullopt;
}

std::wstring IniFile::ReadString(std::wstring_view section, std::wstring_view key, std::wstring_view fallback) const
{
    std::optional<std::wstring> value = ReadString(section, key);
    return value ? std::move(*value) : std::wstring(fallback);
}

std::int32_t IniFile::ReadInteger(std::wstring_view section, std::wstring_view key, std::int32_t fallback) const
{
    const std::optional<std::wstring> value = ReadString(section, key);
    if (!value) {
        return fallback;
    }
    return ParseIniInteger(*value).value_or(fallback);
}

bool IniFile::ReadBool(std::wstring_view section, std::wstring_view key, bool fallback) const
{
    return ReadInteger(section, key, fallback ? 1 : 0) != 0;
}

void IniFile::WriteString(std::wstring_view section, std::wstring_view key, std::wstring_view value)
{
    RejectLineBreaks(section);
    RejectLineBreaks(key);
    RejectLineBreaks(value);
    IniSection* target = FindSectionMutable(section);
    if (target == nullptr) {
        target = &sections_.emplace_back(IniSection{std::wstring(section), {}});
    }
    for (IniEntry& entry : target->entries) {
        if (IniNamesEqual(entry.key, key)) {
            entry.value = std::wstring(value);
            return;
        }
    }
    target->entries.push_back(IniEntry{std::wstring(key), std::wstring(value)});
}

void IniFile::WriteInteger(std::wstring_view section, std::wstring_view key, std::int32_t value)
{
    WriteString(section, key, std::to_wstring(value));
}

void IniFile::WriteBool(std::wstring_view section, std::wstring_view key, bool value)
{
    WriteString(section, key, value ? L"1" : L"0");
}

bool IniFile::DeleteKey(std::wstring_view section, std::wstring_view key)
{
    IniSection* target = FindSectionMutable(section);
    if (target == nullptr) {
        return false;
    }
    const auto found = std::find_if(target->entries.begin(), target->entries.end(),
                                    [&](const IniEntry& entry) { return IniNamesEqual(entry.key, key); });
    if (found == target->entries.end()) {
        return false;
    }
    target->entries.erase(found);
    return true;
}

bool IniFile::EraseSection(std::wstring_view section)
{
    const auto found = std::find_if(sections_.begin(), sections_.end(),
                                    [&](const IniSection& candidate) { return IniNamesEqual(candidate.name, section); });
    if (found == sections_.end()) {
        return false;
    }
    sections_.erase(found);
    return true;
}

bool IniFile::RemoveIf(const std::function<bool(const IniSection&, const IniEntry&)>& dropEntry,
                       const std::function<bool(const IniSection&)>& dropSection)
{
    // Each section's decisions come first, so `dropEntry` sees it whole.
    bool removed = false;
    std::vector<char> drop;
    for (IniSection& section : sections_) {
        drop.assign(section.entries.size(), 0);
        for (size_t i = 0; i < section.entries.size(); ++i) {
            drop[i] = dropEntry(std::as_const(section), section.entries[i]) ? 1 : 0;
        }
        size_t kept = 0;
        for (size_t i = 0; i < section.entries.size(); ++i) {
            if (drop[i] != 0) {
                continue;
            }
            if (kept != i) {
                section.entries[kept] = std::move(section.entries[i]);
            }
            ++kept;
        }
        removed = removed || kept != section.entries.size();
        section.entries.resize(kept);
    }
    size_t kept = 0;
    for (size_t i = 0; i < sections_.size(); ++i) {
        if (dropSection(std::as_const(sections_[i]))) {
            continue;
        }
        if (kept != i) {
            sections_[kept] = std::move(sections_[i]);
        }
        ++kept;
    }
    removed = removed || kept != sections_.size();
    sections_.resize(kept);
    return removed;
}

std::wstring IniFile::ToText() const
{
    constexpr std::wstring_view kLineEnd = L"\r\n";
    size_t length = 0;
    for (const IniSection& section : sections_) {
        length += section.name.size() + 2 + 2 * kLineEnd.size();
        for (const IniEntry& entry : section.entries) {
            length += entry.key.size() + (entry.value ? entry.value->size() + 1 : 0) + kLineEnd.size();
        }
    }
    std::wstring text;
    text.reserve(length);
    for (const IniSection& section : sections_) {
        text += L'[';
        text += section.name;
        text += L']';
        text += kLineEnd;
        for (const IniEntry& entry : section.entries) {
            text += entry.key;
            if (entry.value) {
                text += L'=';
                text += *entry.value;
            }
            text += kLineEnd;
        }
        text += kLineEnd;
    }
    return text;
}

std::string IniFile::ToBytes() const
{
    return EncodeText(ToText(), encoding_);
}

void IniFile::Save(const std::wstring& target) const
{
    WriteFileAtomically(target, ToBytes());
}

} // namespace merovane
