#include "i18n/ini_file.h"

#include "core/error.h"
#include "core/handles.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <unordered_map>
#include <utility>

namespace merovane {

namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LEBom = "\xFF\xFE";
constexpr std::string_view kUtf16BEBom = "\xFE\xFF";

// ReadFile and WriteFile take a DWORD count; stay well below it.
constexpr DWORD kIoChunk = 1u << 30;

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

// The system's converters count in int.
int CheckedLength(size_t length)
{
    if (length > static_cast<size_t>(INT_MAX)) {
        ThrowWin32(ERROR_FILE_TOO_LARGE);
    }
    return static_cast<int>(length);
}

std::wstring Decode(UINT codePage, std::string_view bytes)
{
    if (bytes.empty()) {
        return {};
    }
    const int length = CheckedLength(bytes.size());
    const int size = ::MultiByteToWideChar(codePage, 0, bytes.data(), length, nullptr, 0);
    if (size <= 0) {
        ThrowLastError();
    }
    std::wstring text(static_cast<size_t>(size), L'\0');
    ::MultiByteToWideChar(codePage, 0, bytes.data(), length, text.data(), size);
    return text;
}

std::string Encode(UINT codePage, DWORD flags, std::wstring_view text, BOOL* usedDefault)
{
    if (text.empty()) {
        return {};
    }
    const int length = CheckedLength(text.size());
    const int size = ::WideCharToMultiByte(codePage, flags, text.data(), length, nullptr, 0, nullptr, nullptr);
    if (size <= 0) {
        ThrowLastError();
    }
    std::string bytes(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(codePage, flags, text.data(), length, bytes.data(), size, nullptr, usedDefault);
    return bytes;
}

std::wstring DecodeUtf16(std::string_view bytes, bool bigEndian)
{
    std::wstring text(bytes.size() / 2, L'\0');
    for (size_t i = 0; i < text.size(); ++i) {
        const auto first = static_cast<unsigned char>(bytes[2 * i]);
        const auto second = static_cast<unsigned char>(bytes[2 * i + 1]);
        text[i] = static_cast<wchar_t>(bigEndian ? (first << 8) | second : (second << 8) | first);
    }
    return text;
}

std::string EncodeUtf16(std::wstring_view text, bool bigEndian)
{
    std::string bytes(text.size() * 2, '\0');
    for (size_t i = 0; i < text.size(); ++i) {
        const auto unit = static_cast<unsigned>(text[i]);
        const char high = static_cast<char>(unit >> 8);
        const char low = static_cast<char>(unit & 0xFF);
        bytes[2 * i] = bigEndian ? high : low;
        bytes[2 * i + 1] = bigEndian ? low : high;
    }
    return bytes;
}

// The text in the ANSI code page, or nothing when the code page cannot hold it
// exactly (a default character or a best-fit look-alike would be written).
std::optional<std::string> EncodeAnsiExactly(std::wstring_view text)
{
    const bool utf8 = ::GetACP() == CP_UTF8; // CP_UTF8 takes neither flag nor default-char report
    BOOL usedDefault = FALSE;
    std::string bytes = Encode(CP_ACP, utf8 ? 0 : WC_NO_BEST_FIT_CHARS, text, utf8 ? nullptr : &usedDefault);
    if (usedDefault || Decode(CP_ACP, bytes) != text) {
        return std::nullopt;
    }
    return bytes;
}

// Upper-cased form used only to index sections while parsing; equality itself
// is IniNamesEqual.
std::wstring FoldName(std::wstring_view name)
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

void RejectLineBreaks(std::wstring_view text)
{
    if (text.find_first_of(L"\r\n") != std::wstring_view::npos) {
        ThrowWin32(ERROR_INVALID_DATA);
    }
}

std::string ReadWholeFile(HANDLE file)
{
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file, &size)) {
        ThrowLastError();
    }
    if (size.QuadPart > INT_MAX) {
        ThrowWin32(ERROR_FILE_TOO_LARGE);
    }
    std::string bytes(static_cast<size_t>(size.QuadPart), '\0');
    size_t done = 0;
    while (done < bytes.size()) {
        const DWORD wanted = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, kIoChunk));
        DWORD got = 0;
        if (!::ReadFile(file, bytes.data() + done, wanted, &got, nullptr)) {
            ThrowLastError();
        }
        if (got == 0) {
            break; // the file shrank meanwhile
        }
        done += got;
    }
    bytes.resize(done);
    return bytes;
}

void WriteAll(HANDLE file, std::string_view bytes)
{
    while (!bytes.empty()) {
        const DWORD wanted = static_cast<DWORD>(std::min<size_t>(bytes.size(), kIoChunk));
        DWORD written = 0;
        if (!::WriteFile(file, bytes.data(), wanted, &written, nullptr)) {
            ThrowLastError();
        }
        bytes.remove_prefix(written);
    }
}

std::wstring FullPath(const std::wstring& path)
{
    std::wstring full(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = ::GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
        if (length == 0) {
            ThrowLastError();
        }
        if (length < full.size()) {
            full.resize(length);
            return full;
        }
        full.resize(length);
    }
}

// Deletes the temporary file unless it has been moved into place.
class TemporaryFile {
public:
    explicit TemporaryFile(std::wstring path) : path_(std::move(path)) {}
    ~TemporaryFile()
    {
        if (!path_.empty()) {
            ::DeleteFileW(path_.c_str());
        }
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    [[nodiscard]] const std::wstring& path() const noexcept { return path_; }
    void Keep() noexcept { path_.clear(); }

private:
    std::wstring path_;
};

// A new, empty file beside the target, named after it so a leftover is easy to place.
unique_file CreateTemporaryBeside(const std::wstring& target, std::wstring& name)
{
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0;; ++attempt) {
        name = target + L"." + std::to_wstring(::GetCurrentProcessId()) + L"-" + std::to_wstring(counter++) + L".tmp";
        unique_file file(::CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                                       nullptr));
        if (file) {
            return file;
        }
        const DWORD error = ::GetLastError();
        if ((error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) || attempt >= 100) {
            ThrowWin32(error);
        }
    }
}

} // namespace

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

IniFile IniFile::FromBytes(std::string_view bytes)
{
    IniFile file;
    std::wstring text;
    if (bytes.starts_with(kUtf8Bom)) {
        file.encoding_ = TextEncoding::Utf8;
        bytes.remove_prefix(kUtf8Bom.size());
        text = Decode(CP_UTF8, bytes);
        // Invalid sequences decode to U+FFFD, which encodes back differently.
        file.faithful_ = Encode(CP_UTF8, 0, text, nullptr) == bytes;
    } else if (bytes.starts_with(kUtf16LEBom) || bytes.starts_with(kUtf16BEBom)) {
        const bool bigEndian = bytes.starts_with(kUtf16BEBom);
        file.encoding_ = bigEndian ? TextEncoding::Utf16BE : TextEncoding::Utf16LE;
        bytes.remove_prefix(2);
        text = DecodeUtf16(bytes, bigEndian);
        file.faithful_ = bytes.size() % 2 == 0;
    } else {
        text = Decode(CP_ACP, bytes);
        file.faithful_ = Encode(CP_ACP, 0, text, nullptr) == bytes;
    }
    file.Parse(text);
    return file;
}

IniFile IniFile::FromText(std::wstring_view text, TextEncoding encoding)
{
    IniFile file;
    file.encoding_ = encoding;
    file.Parse(text);
    return file;
}

IniFile IniFile::Load(const std::wstring& path)
{
    unique_file file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
            return {};
        }
        ThrowWin32(error);
    }
    return FromBytes(ReadWholeFile(file.get()));
}

void IniFile::Parse(std::wstring_view text)
{
    // Sections by folded name, so a file with many sections parses in linear time.
    std::unordered_map<std::wstring, size_t> seen;
    IniSection* current = nullptr;
    bool skipping = false; // under a repeated header

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
            const auto [slot, added] = seen.try_emplace(FoldName(name), sections_.size());
            skipping = !added && IniNamesEqual(sections_[slot->second].name, name);
            if (!skipping) {
                sections_.push_back(IniSection{std::wstring(name), {}});
                current = &sections_.back();
            }
            continue;
        }
        if (current == nullptr || skipping) {
            continue;
        }
        if (const size_t equals = line.find(L'='); equals != std::wstring_view::npos) {
            current->entries.push_back(IniEntry{std::wstring(TrimRight(line.substr(0, equals))),
                                                std::wstring(TrimLeft(line.substr(equals + 1)))});
        } else {
            current->entries.push_back(IniEntry{std::wstring(line), std::nullopt});
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
    const std::wstring text = ToText();
    switch (encoding_) {
    case TextEncoding::Utf16LE:
        return std::string(kUtf16LEBom) + EncodeUtf16(text, false);
    case TextEncoding::Utf16BE:
        return std::string(kUtf16BEBom) + EncodeUtf16(text, true);
    case TextEncoding::Ansi:
        if (std::optional<std::string> ansi = EncodeAnsiExactly(text)) {
            return std::move(*ansi);
        }
        break;
    case TextEncoding::Utf8:
        break;
    }
    return std::string(kUtf8Bom) + Encode(CP_UTF8, 0, text, nullptr);
}

void IniFile::Save(const std::wstring& target) const
{
    const std::string bytes = ToBytes();
    // The temporary file goes beside the target, whatever the current folder
    // does meanwhile.
    const std::wstring path = FullPath(target);

    // Wine lets an administrator replace a read-only file; Windows refuses, and
    // so do we everywhere.
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
    if (exists && (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
        ThrowWin32(ERROR_ACCESS_DENIED);
    }
    if (exists) {
        // A file another program holds open cannot be moved away. Found out
        // first, because ReplaceFileW on Wine notices only after leaving a
        // stray file of its own in the folder.
        unique_file probe(::CreateFileW(path.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, 0, nullptr));
        if (!probe) {
            ThrowLastError();
        }
    }

    std::wstring temporaryPath;
    unique_file file = CreateTemporaryBeside(path, temporaryPath);
    TemporaryFile temporary(temporaryPath);
    WriteAll(file.get(), bytes);
    if (!::FlushFileBuffers(file.get())) {
        ThrowLastError();
    }
    file.reset();

    if (exists) {
        // ReplaceFileW carries these over on Windows but not on Wine, nor does
        // the MoveFileExW below; a hidden settings file stays hidden either way.
        constexpr DWORD kCarried = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
        if ((attributes & kCarried) != 0) {
            ::SetFileAttributesW(temporary.path().c_str(), attributes & (kCarried | FILE_ATTRIBUTE_ARCHIVE));
        }
        if (::ReplaceFileW(path.c_str(), temporary.path().c_str(), nullptr,
                           REPLACEFILE_IGNORE_MERGE_ERRORS | REPLACEFILE_IGNORE_ACL_ERRORS, nullptr, nullptr)) {
            temporary.Keep();
            return;
        }
        const DWORD error = ::GetLastError();
        // These two mean the target has already been moved away; putting the
        // new file in its place is all that is left to do.
        if (error != ERROR_UNABLE_TO_MOVE_REPLACEMENT && error != ERROR_UNABLE_TO_MOVE_REPLACEMENT_2) {
            ThrowWin32(error);
        }
    }
    if (!::MoveFileExW(temporary.path().c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        ThrowLastError();
    }
    temporary.Keep();
}

} // namespace merovane
