#include "update/package_zip.h"

#include "base/error.h"
#include "base/file_tree.h"
#include "base/handles.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cwctype>
#include <filesystem>
#include <set>
#include <variant>

namespace merovane::update {

namespace {

constexpr std::uint32_t kLocalHeaderSignature = 0x04034B50;
constexpr std::uint32_t kCentralHeaderSignature = 0x02014B50;
constexpr std::uint32_t kEndSignature = 0x06054B50;
constexpr std::uint32_t kZip64LocatorSignature = 0x07064B50;
constexpr std::size_t kLocalHeaderSize = 30;
constexpr std::size_t kCentralHeaderSize = 46;
constexpr std::size_t kEndSize = 22;
constexpr std::size_t kZip64LocatorSize = 20;
constexpr std::uint16_t kFlagEncrypted = 0x0001;
constexpr std::uint16_t kFlagStrongEncryption = 0x0040;
constexpr std::uint16_t kFlagUtf8 = 0x0800;
constexpr std::uint16_t kFlagMaskedHeaders = 0x2000;
constexpr std::uint16_t kMethodStored = 0;
constexpr std::uint16_t kMethodDeflate = 8;
constexpr std::size_t kChunk = 64 * 1024;

// Code page 437, the names' encoding when an entry does not say UTF-8: the
// upper half; the lower half is ASCII.
constexpr wchar_t kCp437High[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE,
    0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9, 0x00FF, 0x00D6,
    0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA,
    0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB, 0x2591, 0x2592, 0x2593, 0x2502,
    0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510, 0x2514,
    0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F, 0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550,
    0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C,
    0x2588, 0x2584, 0x258C, 0x2590, 0x2580, 0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320,
    0x2321, 0x00F7, 0x2248, 0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,
};

std::wstring FromCp437(std::string_view bytes)
{
    std::wstring text;
    text.reserve(bytes.size());
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        text += byte < 0x80 ? static_cast<wchar_t>(byte) : kCp437High[byte - 0x80];
    }
    return text;
}

std::uint16_t Read16(const std::uint8_t* p)
{
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

std::uint32_t Read32(const std::uint8_t* p)
{
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

bool IsDeviceName(std::wstring_view part)
{
    // The system maps these names to devices even with an extension.
    std::wstring base(part.substr(0, part.find(L'.')));
    while (!base.empty() && base.back() == L' ') {
        base.pop_back();
    }
    std::transform(base.begin(), base.end(), base.begin(), [](wchar_t c) { return std::towupper(c); });
    static const std::set<std::wstring> kDevices = {
        L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$", L"COM0", L"COM1", L"COM2", L"COM3", L"COM4",
        L"COM5", L"COM6", L"COM7", L"COM8", L"COM9", L"LPT0", L"LPT1", L"LPT2", L"LPT3", L"LPT4", L"LPT5",
        L"LPT6", L"LPT7", L"LPT8", L"LPT9", L"COM\u00B9", L"COM\u00B2", L"COM\u00B3", L"LPT\u00B9", L"LPT\u00B2",
        L"LPT\u00B3",
    };
    return kDevices.contains(base);
}

std::wstring Upper(std::wstring_view text)
{
    std::wstring result(text);
    if (!result.empty()) {
        ::CharUpperBuffW(result.data(), static_cast<DWORD>(result.size()));
    }
    return result;
}

// A part such as "MEROVA~1.EXE" may be another file's short name and land on
// that file.
bool MayBeShortName(std::wstring_view part)
{
    for (std::size_t tilde = part.find(L'~'); tilde != std::wstring_view::npos; tilde = part.find(L'~', tilde + 1)) {
        if (tilde + 1 < part.size() && part[tilde + 1] >= L'0' && part[tilde + 1] <= L'9') {
            return true;
        }
    }
    return false;
}

// Top-level names the package must leave alone: the user's settings, and
// the update's own staging, backup and bookkeeping ("Update.*").
bool IsReservedTopName(std::wstring_view part)
{
    const std::wstring upper = Upper(part);
    return upper == L"CONFIG" || upper.starts_with(L"UPDATE.");
}

std::wstring FullPath(const std::wstring& path)
{
    const DWORD size = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (size == 0) {
        ThrowLastError();
    }
    std::wstring full(size, L'\0');
    const DWORD length = ::GetFullPathNameW(path.c_str(), size, full.data(), nullptr);
    if (length == 0 || length >= size) {
        ThrowLastError();
    }
    full.resize(length);
    return full;
}

void CreateFolder(const std::wstring& path)
{
    if (!::CreateDirectoryW(path.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) {
        ThrowLastError();
    }
}

// Creates the folders of a relative path below `root`, one part at a time.
void CreateFolders(const std::wstring& root, std::wstring_view relative)
{
    std::size_t position = 0;
    while (position <= relative.size()) {
        std::size_t end = relative.find(L'\\', position);
        if (end == std::wstring_view::npos) {
            end = relative.size();
        }
        CreateFolder(root + L"\\" + std::wstring(relative.substr(0, end)));
        position = end + 1;
    }
}

struct Entry {
    std::wstring name;  // as the archive spells it, decoded
    std::wstring path;  // SafeEntryPath of name
    std::string rawName;
    bool folder = false;
    std::uint16_t flags = 0;
    std::uint16_t method = 0;
    std::uint32_t crc = 0;
    std::uint32_t compressedSize = 0;
    std::uint32_t size = 0;
    std::uint32_t localHeaderOffset = 0;
};

class ZipFile {
public:
    explicit ZipFile(const std::wstring& path)
        : file_(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr))
    {
        if (!file_) {
            ThrowLastError();
        }
        ReadSize();
    }

    // A file the caller holds open: read through a handle of our own to it.
    explicit ZipFile(HANDLE file)
    {
        HANDLE duplicate = nullptr;
        if (!::DuplicateHandle(::GetCurrentProcess(), file, ::GetCurrentProcess(), &duplicate, 0, FALSE,
                               DUPLICATE_SAME_ACCESS)) {
            ThrowLastError();
        }
        file_.reset(duplicate);
        ReadSize();
    }

    void ReadSize()
    {
        LARGE_INTEGER size{};
        if (!::GetFileSizeEx(file_.get(), &size)) {
            ThrowLastError();
        }
        size_ = static_cast<std::uint64_t>(size.QuadPart);
    }

    [[nodiscard]] std::uint64_t size() const noexcept { return size_; }

    // False when the file ends before `count` bytes.
    bool ReadAt(std::uint64_t offset, void* buffer, std::size_t count) const
    {
        if (offset > size_ || count > size_ - offset) {
            return false;
        }
        LARGE_INTEGER position{};
        position.QuadPart = static_cast<LONGLONG>(offset);
        if (!::SetFilePointerEx(file_.get(), position, nullptr, FILE_BEGIN)) {
            ThrowLastError();
        }
        auto* bytes = static_cast<std::uint8_t*>(buffer);
        while (count > 0) {
            DWORD read = 0;
            const DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(count, kChunk));
            if (!::ReadFile(file_.get(), bytes, wanted, &read, nullptr)) {
                ThrowLastError();
            }
            if (read == 0) {
                return false;
            }
            bytes += read;
            count -= read;
        }
        return true;
    }

private:
    unique_file file_;
    std::uint64_t size_ = 0;
};

struct Refusal {
    ZipProblem problem;
    std::wstring entry;
};

struct Directory {
    std::vector<Entry> entries;
    std::uint64_t centralOffset = 0;
};

// Reads and checks the central directory: every name, flag, method and size,
// before a single byte is written.
std::variant<Directory, Refusal> ReadDirectory(const ZipFile& zip, const std::wstring& stagingFull)
{
    if (zip.size() < kEndSize) {
        return Refusal{ZipProblem::Damaged, {}};
    }
    if (zip.size() > 0xFFFFFFFFull) {
        return Refusal{ZipProblem::Unsupported, {}};
    }
    // The end record is the last 22 bytes plus a comment of up to 64 KB.
    const std::size_t tailSize = static_cast<std::size_t>(std::min<std::uint64_t>(zip.size(), kEndSize + 0xFFFF));
    const std::uint64_t tailOffset = zip.size() - tailSize;
    std::vector<std::uint8_t> tail(tailSize);
    if (!zip.ReadAt(tailOffset, tail.data(), tail.size())) {
        return Refusal{ZipProblem::Damaged, {}};
    }
    std::optional<std::size_t> endAt;
    for (std::size_t i = tailSize - kEndSize + 1; i-- > 0;) {
        if (Read32(&tail[i]) == kEndSignature && i + kEndSize + Read16(&tail[i + 20]) == tailSize) {
            endAt = i;
            break;
        }
    }
    if (!endAt) {
        return Refusal{ZipProblem::Damaged, {}};
    }
    const std::uint8_t* end = &tail[*endAt];
    const std::uint64_t endOffset = tailOffset + *endAt;
    const std::uint16_t disk = Read16(end + 4);
    const std::uint16_t centralDisk = Read16(end + 6);
    const std::uint16_t entriesHere = Read16(end + 8);
    const std::uint16_t entryCount = Read16(end + 10);
    const std::uint32_t centralSize = Read32(end + 12);
    const std::uint32_t centralOffset = Read32(end + 16);
    if (entryCount == 0xFFFF || centralSize == 0xFFFFFFFF || centralOffset == 0xFFFFFFFF) {
        return Refusal{ZipProblem::Unsupported, {}};
    }
    if (endOffset >= kZip64LocatorSize) {
        std::uint8_t locator[4];
        if (zip.ReadAt(endOffset - kZip64LocatorSize, locator, sizeof(locator)) &&
            Read32(locator) == kZip64LocatorSignature) {
            return Refusal{ZipProblem::Unsupported, {}};
        }
    }
    if (disk != 0 || centralDisk != 0 || entriesHere != entryCount) {
        return Refusal{ZipProblem::Unsupported, {}};
    }
    if (static_cast<std::uint64_t>(centralOffset) + centralSize > endOffset) {
        return Refusal{ZipProblem::Damaged, {}};
    }
    std::vector<std::uint8_t> central(centralSize);
    if (!zip.ReadAt(centralOffset, central.data(), central.size())) {
        return Refusal{ZipProblem::Damaged, {}};
    }

    Directory directory;
    directory.centralOffset = centralOffset;
    std::set<std::wstring> files;
    std::set<std::wstring> folders;
    std::uint64_t unpacked = 0;
    std::size_t position = 0;
    for (std::uint16_t index = 0; index < entryCount; ++index) {
        if (central.size() - position < kCentralHeaderSize ||
            Read32(&central[position]) != kCentralHeaderSignature) {
            return Refusal{ZipProblem::Damaged, {}};
        }
        const std::uint8_t* header = &central[position];
        Entry entry;
        entry.flags = Read16(header + 8);
        entry.method = Read16(header + 10);
        entry.crc = Read32(header + 16);
        entry.compressedSize = Read32(header + 20);
        entry.size = Read32(header + 24);
        const std::size_t nameSize = Read16(header + 28);
        const std::size_t variable = nameSize + Read16(header + 30) + Read16(header + 32);
        entry.localHeaderOffset = Read32(header + 42);
        if (central.size() - position - kCentralHeaderSize < variable) {
            return Refusal{ZipProblem::Damaged, {}};
        }
        entry.rawName.assign(reinterpret_cast<const char*>(header + kCentralHeaderSize), nameSize);
        position += kCentralHeaderSize + variable;

        if (entry.flags & kFlagUtf8) {
            auto name = FromUtf8Strictly(entry.rawName);
            if (!name) {
                return Refusal{ZipProblem::UnsafeName, FromCp437(entry.rawName)};
            }
            entry.name = std::move(*name);
        } else {
            entry.name = FromCp437(entry.rawName);
        }
        if ((entry.flags & (kFlagEncrypted | kFlagStrongEncryption | kFlagMaskedHeaders)) != 0 ||
            (entry.method != kMethodStored && entry.method != kMethodDeflate) || entry.size == 0xFFFFFFFF ||
            entry.compressedSize == 0xFFFFFFFF || entry.localHeaderOffset == 0xFFFFFFFF) {
            return Refusal{ZipProblem::Unsupported, entry.name};
        }
        auto path = SafeEntryPath(entry.name);
        if (!path) {
            return Refusal{ZipProblem::UnsafeName, entry.name};
        }
        // The lexical check above is what decides; this one catches whatever
        // the system's own normalisation might still make of a name.
        const std::wstring full = FullPath(stagingFull + L"\\" + *path);
        if (full.size() <= stagingFull.size() + 1 ||
            Upper(full.substr(0, stagingFull.size() + 1)) != Upper(stagingFull + L"\\")) {
            return Refusal{ZipProblem::UnsafeName, entry.name};
        }
        entry.path = std::move(*path);
        entry.folder = entry.name.back() == L'/' || entry.name.back() == L'\\';
        const std::wstring key = Upper(entry.path);
        for (std::size_t slash = key.find(L'\\'); slash != std::wstring::npos; slash = key.find(L'\\', slash + 1)) {
            folders.insert(key.substr(0, slash));
        }
        if (entry.folder) {
            if (entry.size != 0 || entry.compressedSize != 0) {
                return Refusal{ZipProblem::Damaged, entry.name};
            }
            folders.insert(key);
        } else {
            if (!files.insert(key).second) {
                return Refusal{ZipProblem::UnsafeName, entry.name};
            }
            if (entry.method == kMethodStored && entry.compressedSize != entry.size) {
                return Refusal{ZipProblem::Damaged, entry.name};
            }
            unpacked += entry.size;
            if (unpacked > kMaxUnpackedBytes) {
                return Refusal{ZipProblem::Unsupported, entry.name};
            }
        }
        directory.entries.push_back(std::move(entry));
    }
    if (position != central.size()) {
        return Refusal{ZipProblem::Damaged, {}};
    }
    // A file and a folder of the same name can't both be made.
    for (const Entry& entry : directory.entries) {
        if (!entry.folder && folders.contains(Upper(entry.path))) {
            return Refusal{ZipProblem::UnsafeName, entry.name};
        }
    }
    return directory;
}

void WriteAll(HANDLE file, const std::uint8_t* bytes, std::size_t count)
{
    while (count > 0) {
        DWORD written = 0;
        if (!::WriteFile(file, bytes, static_cast<DWORD>(std::min<std::size_t>(count, kChunk)), &written, nullptr)) {
            ThrowLastError();
        }
        bytes += written;
        count -= written;
    }
}

class Inflater {
public:
    Inflater()
    {
        if (inflateInit2(&stream_, -MAX_WBITS) != Z_OK) {
            ThrowWin32(ERROR_NOT_ENOUGH_MEMORY);
        }
    }
    ~Inflater() { inflateEnd(&stream_); }
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;

    z_stream& stream() noexcept { return stream_; }

private:
    z_stream stream_{};
};

// Unpacks one file entry into `target`; nothing when it is whole and its CRC
// matches, else why not.
std::optional<ZipProblem> ExtractEntry(const ZipFile& zip, const Directory& directory, const Entry& entry, Sha256& digest,
                                       const std::wstring& target)
{
    std::uint8_t local[kLocalHeaderSize];
    if (!zip.ReadAt(entry.localHeaderOffset, local, sizeof(local)) || Read32(local) != kLocalHeaderSignature ||
        Read16(local + 8) != entry.method) {
        return ZipProblem::Damaged;
    }
    const std::uint16_t nameSize = Read16(local + 26);
    std::string localName(nameSize, '\0');
    if (!zip.ReadAt(entry.localHeaderOffset + kLocalHeaderSize, localName.data(), localName.size()) ||
        localName != entry.rawName) {
        return ZipProblem::Damaged;
    }
    const std::uint64_t dataOffset =
        static_cast<std::uint64_t>(entry.localHeaderOffset) + kLocalHeaderSize + nameSize + Read16(local + 28);
    if (dataOffset + entry.compressedSize > directory.centralOffset) {
        return ZipProblem::Damaged;
    }

    const unique_file file(::CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        ThrowLastError();
    }
    std::vector<std::uint8_t> input(kChunk);
    std::vector<std::uint8_t> output(kChunk);
    uLong crc = crc32(0, nullptr, 0);
    std::uint64_t written = 0;
    std::uint64_t consumed = 0;
    auto emit = [&](const std::uint8_t* bytes, std::size_t count) -> bool {
        written += count;
        if (written > entry.size) {
            return false;
        }
        crc = crc32(crc, bytes, static_cast<uInt>(count));
        digest.Add(std::string_view(reinterpret_cast<const char*>(bytes), count));
        WriteAll(file.get(), bytes, count);
        return true;
    };

    if (entry.method == kMethodStored) {
        while (consumed < entry.compressedSize) {
            const std::size_t count = static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, entry.compressedSize - consumed));
            if (!zip.ReadAt(dataOffset + consumed, input.data(), count) || !emit(input.data(), count)) {
                return ZipProblem::Damaged;
            }
            consumed += count;
        }
    } else {
        Inflater inflater;
        z_stream& stream = inflater.stream();
        int status = Z_OK;
        while (status != Z_STREAM_END) {
            if (stream.avail_in == 0) {
                if (consumed == entry.compressedSize) {
                    return ZipProblem::Damaged;
                }
                const std::size_t count =
                    static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, entry.compressedSize - consumed));
                if (!zip.ReadAt(dataOffset + consumed, input.data(), count)) {
                    return ZipProblem::Damaged;
                }
                consumed += count;
                stream.next_in = input.data();
                stream.avail_in = static_cast<uInt>(count);
            }
            stream.next_out = output.data();
            stream.avail_out = static_cast<uInt>(output.size());
            status = inflate(&stream, Z_NO_FLUSH);
            if (status != Z_OK && status != Z_STREAM_END) {
                return ZipProblem::Damaged;
            }
            if (!emit(output.data(), output.size() - stream.avail_out)) {
                return ZipProblem::Damaged;
            }
        }
        if (stream.avail_in != 0 || consumed != entry.compressedSize) {
            return ZipProblem::Damaged;
        }
    }
    if (written != entry.size) {
        return ZipProblem::Damaged;
    }
    if (crc != entry.crc) {
        return ZipProblem::BadCrc;
    }
    return std::nullopt;
}

} // namespace

std::optional<std::wstring> SafeEntryPath(std::wstring_view name)
{
    std::wstring_view rest = name;
    if (!rest.empty() && (rest.back() == L'/' || rest.back() == L'\\')) {
        rest.remove_suffix(1);
    }
    if (rest.empty()) {
        return std::nullopt;
    }
    std::wstring path;
    std::size_t position = 0;
    while (position <= rest.size()) {
        std::size_t end = rest.find_first_of(L"/\\", position);
        if (end == std::wstring_view::npos) {
            end = rest.size();
        }
        const std::wstring_view part = rest.substr(position, end - position);
        // An empty first part is a leading separator: an absolute path.
        if (part.empty() || part == L"." || part == L".." || part.back() == L'.' || part.back() == L' ' ||
            IsDeviceName(part) || MayBeShortName(part) || (path.empty() && IsReservedTopName(part))) {
            return std::nullopt;
        }
        for (const wchar_t c : part) {
            if (c < 0x20 || c == 0x7F || std::wstring_view(L"<>:\"|?*").find(c) != std::wstring_view::npos) {
                return std::nullopt;
            }
        }
        if (!path.empty()) {
            path += L'\\';
        }
        path += part;
        position = end + 1;
    }
    return path;
}

namespace {

ZipExtraction Extract(const ZipFile& zip, const std::wstring& stagingFolder)
{
    const std::wstring stagingFull = FullPath(stagingFolder);
    auto read = ReadDirectory(zip, stagingFull);
    if (auto* refusal = std::get_if<Refusal>(&read)) {
        return {refusal->problem, std::move(refusal->entry), {}, {}};
    }
    const Directory& directory = std::get<Directory>(read);

    if (!::CreateDirectoryW(stagingFull.c_str(), nullptr)) {
        ThrowLastError();
    }
    ZipExtraction result;
    try {
        for (const Entry& entry : directory.entries) {
            if (entry.folder) {
                CreateFolders(stagingFull, entry.path);
                continue;
            }
            const std::size_t slash = entry.path.rfind(L'\\');
            if (slash != std::wstring::npos) {
                CreateFolders(stagingFull, std::wstring_view(entry.path).substr(0, slash));
            }
            Sha256 digest;
            if (const auto problem = ExtractEntry(zip, directory, entry, digest, stagingFull + L"\\" + entry.path)) {
                RemoveTree(stagingFull);
                return {*problem, entry.name, {}, {}};
            }
            result.files.push_back(entry.path);
            result.sha256.push_back(digest.Finish());
        }
    } catch (...) {
        RemoveTree(stagingFull);
        throw;
    }
    return result;
}

} // namespace

ZipExtraction ExtractZipPackage(const std::wstring& zipPath, const std::wstring& stagingFolder)
{
    return Extract(ZipFile(zipPath), stagingFolder);
}

ZipExtraction ExtractZipPackage(HANDLE zipFile, const std::wstring& stagingFolder)
{
    return Extract(ZipFile(zipFile), stagingFolder);
}

} // namespace merovane::update
