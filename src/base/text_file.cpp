#include "base/text_file.h"

#include "base/error.h"
#include "base/handles.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <climits>

namespace merovane {

namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LEBom = "\xFF\xFE";
constexpr std::string_view kUtf16BEBom = "\xFE\xFF";

// ReadFile and WriteFile take a DWORD count; stay well below it.
constexpr DWORD kIoChunk = 1u << 30;

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

// Whether bytes without a byte-order mark are UTF-16, and if so whether big
// endian. Lines, keys and punctuation are ASCII, so UTF-16 text has a NUL in
// a good share of its units, nearly all on the same side of each pair;
// ANSI text has none, and stray NULs scatter over both sides.
std::optional<bool> Utf16WithoutMark(std::string_view bytes)
{
    size_t nulsFirst = 0;  // at even offsets: the high byte of big-endian units
    size_t nulsSecond = 0; // at odd offsets: the high byte of little-endian units
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        nulsFirst += bytes[i] == '\0' ? 1 : 0;
        nulsSecond += bytes[i + 1] == '\0' ? 1 : 0;
    }
    const size_t units = bytes.size() / 2;
    const auto dominates = [units](size_t mine, size_t other) { return mine * 8 >= units && other * 4 < mine; };
    if (dominates(nulsSecond, nulsFirst)) {
        return false;
    }
    if (dominates(nulsFirst, nulsSecond)) {
        return true;
    }
    return std::nullopt;
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

// A file another program holds open cannot be moved away. Found out first,
// because ReplaceFileW on Wine notices only after leaving a stray file of its
// own in the folder.
void CheckMovable(const std::wstring& path)
{
    unique_file probe(::CreateFileW(path.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, 0, nullptr));
    if (!probe) {
        ThrowLastError();
    }
}

// A new, empty file beside the target, named after it and the process so a
// leftover is easy to place and to tell from a save in progress
// (TemporaryFileOwner reads the name back).
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

DecodedText DecodeText(std::string_view bytes)
{
    DecodedText decoded;
    if (bytes.starts_with(kUtf8Bom)) {
        decoded.encoding = TextEncoding::Utf8;
        bytes.remove_prefix(kUtf8Bom.size());
        decoded.text = Decode(CP_UTF8, bytes);
        // Invalid sequences decode to U+FFFD, which encodes back differently.
        decoded.faithful = Encode(CP_UTF8, 0, decoded.text, nullptr) == bytes;
    } else if (bytes.starts_with(kUtf16LEBom) || bytes.starts_with(kUtf16BEBom)) {
        const bool bigEndian = bytes.starts_with(kUtf16BEBom);
        decoded.encoding = bigEndian ? TextEncoding::Utf16BE : TextEncoding::Utf16LE;
        bytes.remove_prefix(2);
        decoded.text = DecodeUtf16(bytes, bigEndian);
        decoded.faithful = bytes.size() % 2 == 0;
    } else if (const std::optional<bool> bigEndian = Utf16WithoutMark(bytes)) {
        decoded.encoding = *bigEndian ? TextEncoding::Utf16BE : TextEncoding::Utf16LE;
        decoded.text = DecodeUtf16(bytes, *bigEndian);
        // Written back it would gain a mark: not the same bytes.
        decoded.faithful = false;
    } else {
        decoded.encoding = TextEncoding::Ansi;
        decoded.text = Decode(CP_ACP, bytes);
        // A NUL byte has no place in an ANSI text; whatever wrote it, a
        // rewrite would not be a tidy-up.
        decoded.faithful = bytes.find('\0') == std::string_view::npos &&
                           Encode(CP_ACP, 0, decoded.text, nullptr) == bytes;
    }
    return decoded;
}

std::string EncodeText(std::wstring_view text, TextEncoding encoding)
{
    switch (encoding) {
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
    // Text the ANSI code page can't hold goes out as UTF-8 with its mark
    // rather than with question marks in place of letters.
    return std::string(kUtf8Bom) + Encode(CP_UTF8, 0, text, nullptr);
}

std::optional<std::string> ReadFileIfExists(const std::wstring& path)
{
    unique_file file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
            return std::nullopt;
        }
        ThrowWin32(error);
    }
    return ReadWholeFile(file.get());
}

StagedFile::StagedFile(const std::wstring& target, std::string_view bytes)
    // The temporary file goes beside the target, whatever the current folder
    // does meanwhile.
    : target_(FullPath(target))
{
    // Wine lets an administrator replace a read-only file; Windows refuses, and
    // so do we everywhere.
    attributes_ = ::GetFileAttributesW(target_.c_str());
    const bool exists = attributes_ != INVALID_FILE_ATTRIBUTES;
    if (exists && (attributes_ & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
        ThrowWin32(ERROR_ACCESS_DENIED);
    }
    if (exists) {
        CheckMovable(target_);
    }

    std::wstring temporaryPath;
    unique_file file = CreateTemporaryBeside(target_, temporaryPath);
    TemporaryFile temporary(temporaryPath);
    WriteAll(file.get(), bytes);
    if (!::FlushFileBuffers(file.get())) {
        ThrowLastError();
    }
    file.reset();
    temporary_ = temporaryPath;
    temporary.Keep();
}

StagedFile::~StagedFile()
{
    if (!temporary_.empty()) {
        ::DeleteFileW(temporary_.c_str());
    }
}

StagedFile::StagedFile(StagedFile&& other) noexcept
    : target_(std::move(other.target_)), temporary_(std::move(other.temporary_)), attributes_(other.attributes_)
{
    other.temporary_.clear();
}

void StagedFile::Commit()
{
    if (temporary_.empty()) {
        return;
    }
    if (attributes_ != INVALID_FILE_ATTRIBUTES) {
        CheckMovable(target_); // again: it may have been opened since it was staged
        // ReplaceFileW carries these over on Windows but not on Wine, nor does
        // the MoveFileExW below; a hidden settings file stays hidden either way.
        constexpr DWORD kCarried = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
        if ((attributes_ & kCarried) != 0) {
            ::SetFileAttributesW(temporary_.c_str(), attributes_ & (kCarried | FILE_ATTRIBUTE_ARCHIVE));
        }
        if (::ReplaceFileW(target_.c_str(), temporary_.c_str(), nullptr,
                           REPLACEFILE_IGNORE_MERGE_ERRORS | REPLACEFILE_IGNORE_ACL_ERRORS, nullptr, nullptr)) {
            temporary_.clear();
            return;
        }
        const DWORD error = ::GetLastError();
        // These two mean the target has already been moved away; putting the
        // new file in its place is all that is left to do.
        if (error != ERROR_UNABLE_TO_MOVE_REPLACEMENT && error != ERROR_UNABLE_TO_MOVE_REPLACEMENT_2) {
            ThrowWin32(error);
        }
    }
    if (!::MoveFileExW(temporary_.c_str(), target_.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        ThrowLastError();
    }
    temporary_.clear();
}

void WriteFileAtomically(const std::wstring& target, std::string_view bytes)
{
    StagedFile(target, bytes).Commit();
}

std::optional<ReplaceFailure> ReplaceTogether(std::span<StagedFile> files) noexcept
{
    // What each target held before it was replaced, to put back.
    std::vector<std::optional<std::string>> previous;
    size_t index = 0;
    try {
        previous.reserve(files.size());
        for (; index < files.size(); ++index) {
            try {
                previous.push_back(ReadFileIfExists(files[index].Target()));
                files[index].Commit();
            } catch (const Error& error) {
                bool restored = true;
                for (size_t done = 0; done < index; ++done) {
                    const std::wstring& target = files[done].Target();
                    try {
                        if (previous[done]) {
                            WriteFileAtomically(target, *previous[done]);
                        } else if (!::DeleteFileW(target.c_str())) {
                            restored = false;
                        }
                    } catch (const Error&) {
                        restored = false;
                    }
                }
                return ReplaceFailure{index, error, restored};
            }
        }
        return std::nullopt;
    } catch (...) {
        return ReplaceFailure{index, Error(ERROR_NOT_ENOUGH_MEMORY), index == 0};
    }
}

namespace {

// Decimal digits as to_wstring writes them (no sign, no leading zero) that
// fit 32 bits.
std::optional<DWORD> PlainNumber(std::wstring_view digits)
{
    if (digits.empty() || digits.size() > 10 || (digits.size() > 1 && digits[0] == L'0')) {
        return std::nullopt;
    }
    unsigned long long value = 0;
    for (const wchar_t c : digits) {
        if (c < L'0' || c > L'9') {
            return std::nullopt;
        }
        value = value * 10 + static_cast<unsigned>(c - L'0');
    }
    if (value > 0xFFFFFFFFull) {
        return std::nullopt;
    }
    return static_cast<DWORD>(value);
}

// Only a process id that names no process at all counts as gone: one we may
// not open (another user's, an elevated one) may still be saving.
bool ProcessIsGone(DWORD processId)
{
    unique_handle process(::OpenProcess(SYNCHRONIZE, FALSE, processId));
    if (!process) {
        return ::GetLastError() == ERROR_INVALID_PARAMETER;
    }
    return ::WaitForSingleObject(process.get(), 0) == WAIT_OBJECT_0;
}

// The process id in the name of a temporary file that a save of the file
// named `targetName` makes beside it; nothing for every other name.
std::optional<DWORD> TemporaryFileOwner(std::wstring_view fileName, std::wstring_view targetName)
{
    // targetName "." pid "-" counter ".tmp", as CreateTemporaryBeside names them.
    constexpr std::wstring_view kSuffix = L".tmp";
    if (targetName.empty() || fileName.size() <= targetName.size() + 1 + kSuffix.size() ||
        ::CompareStringOrdinal(fileName.data(), static_cast<int>(targetName.size()), targetName.data(),
                               static_cast<int>(targetName.size()), TRUE) != CSTR_EQUAL ||
        fileName[targetName.size()] != L'.') {
        return std::nullopt;
    }
    std::wstring_view rest = fileName.substr(targetName.size() + 1);
    const std::wstring_view suffix = rest.substr(rest.size() - kSuffix.size());
    if (::CompareStringOrdinal(suffix.data(), static_cast<int>(suffix.size()), kSuffix.data(),
                               static_cast<int>(kSuffix.size()), TRUE) != CSTR_EQUAL) {
        return std::nullopt;
    }
    rest.remove_suffix(kSuffix.size());
    const size_t dash = rest.find(L'-');
    if (dash == std::wstring_view::npos || !PlainNumber(rest.substr(dash + 1))) {
        return std::nullopt;
    }
    return PlainNumber(rest.substr(0, dash));
}

} // namespace

void RemoveStaleTemporaryFiles(const std::wstring& target) noexcept
{
    try {
        const std::wstring path = FullPath(target);
        const size_t separator = path.find_last_of(L"\\/");
        if (separator == std::wstring::npos) {
            return;
        }
        const std::wstring folder = path.substr(0, separator + 1);
        const std::wstring targetName = path.substr(separator + 1);
        WIN32_FIND_DATAW found{};
        const std::wstring pattern = folder + targetName + L".*.tmp";
        const unique_find search(
            ::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0));
        if (!search) {
            return;
        }
        do {
            // The wildcard also matches short names and longer extensions:
            // the long name decides.
            if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
                continue;
            }
            const std::optional<DWORD> owner = TemporaryFileOwner(found.cFileName, targetName);
            if (owner && ProcessIsGone(*owner)) {
                ::DeleteFileW((folder + found.cFileName).c_str());
            }
        } while (::FindNextFileW(search.get(), &found));
    } catch (...) {
        // Only tidying: a leftover stays until the next start.
    }
}

std::vector<std::wstring> SplitLines(std::wstring_view text)
{
    std::vector<std::wstring> lines;
    size_t position = 0;
    while (position < text.size()) {
        size_t end = text.find_first_of(L"\r\n", position);
        if (end == std::wstring_view::npos) {
            end = text.size();
        }
        lines.emplace_back(text.substr(position, end - position));
        position = end + 1;
        if (end < text.size() && text[end] == L'\r' && position < text.size() && text[position] == L'\n') {
            ++position;
        }
    }
    return lines;
}

std::optional<std::vector<std::wstring>> ReadTextLines(const std::wstring& path)
{
    std::optional<std::string> bytes = ReadFileIfExists(path);
    if (!bytes) {
        return std::nullopt;
    }
    return SplitLines(DecodeText(*bytes).text);
}

void WriteUtf16Lines(const std::wstring& path, const std::vector<std::wstring>& lines)
{
    std::wstring text;
    for (const std::wstring& line : lines) {
        text += line;
        text += L"\r\n";
    }
    WriteFileAtomically(path, EncodeText(text, TextEncoding::Utf16LE));
}

} // namespace merovane
