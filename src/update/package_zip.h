#pragma once

// Unpacking a portable update package: a ZIP archive (stored or deflated
// entries, no ZIP64, no encryption) read with zlib. Every entry name is
// checked before anything is written, and a package with one unsafe or
// damaged entry is refused as a whole: nothing of it stays on disk.

#include "update/signature.h"

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace merovane::update {

// Unpacked bytes of all entries together may not exceed this.
inline constexpr std::uint64_t kMaxUnpackedBytes = 512ull * 1024 * 1024;

// The relative Windows path an entry name stands for ("Language/English.ini"
// gives "Language\English.ini"; a trailing "/" marks a folder and is dropped),
// or nothing when the name could reach outside the folder it is unpacked into
// or is not a plain file name: empty, absolute ("/x", "\\server\x"), with a
// drive or a stream (any ':'), with an empty, "." or ".." part, a part ending
// in a dot or a blank, a device name (CON, NUL, COM1, ...), a possible short
// name ('~' and a digit, "MEROVA~1.EXE"), or a character file names can't
// hold; and at the top, "Config" and any "Update.*" (the user's settings and
// the update's own folders), in any letter case. Both '/' and '\' separate
// parts.
std::optional<std::wstring> SafeEntryPath(std::wstring_view name);

enum class ZipProblem {
    None,
    Damaged,      // not a ZIP, truncated, inconsistent headers, sizes that don't match
    Unsupported,  // ZIP64, encryption, a compression other than stored or deflate, too large
    UnsafeName,   // an entry SafeEntryPath refuses, or two entries for one path
    BadCrc,       // an entry whose bytes don't match its CRC-32
};

struct ZipExtraction {
    ZipProblem problem = ZipProblem::None;
    // The entry name at fault (decoded), when one is.
    std::wstring entry;
    // Relative paths of the files written, when problem is None, and the
    // SHA-256 of each one's bytes as they came out of the package.
    std::vector<std::wstring> files;
    std::vector<Sha256Digest> sha256;

    [[nodiscard]] bool ok() const noexcept { return problem == ZipProblem::None; }
};

// Unpacks `zipPath` into `stagingFolder`, which must not exist yet: it is
// created, with the subfolders entries need whether or not the archive has
// entries for them. Entry names are UTF-8 when the entry says so (general
// purpose flag bit 11), else code page 437. When the package is refused the
// staging folder is removed again and the reason returned; a system failure
// (disk full, access denied) also removes it and throws merovane::Error.
ZipExtraction ExtractZipPackage(const std::wstring& zipPath, const std::wstring& stagingFolder);
// The same from a package the caller holds open for reading, so that what is
// unpacked is what was verified.
ZipExtraction ExtractZipPackage(HANDLE zipFile, const std::wstring& stagingFolder);

} // namespace merovane::update
