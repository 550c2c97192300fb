#pragma once

// Text files as the program reads and writes them: decoded by byte-order mark
// (else as UTF-16 when the NUL bytes say so, else the ANSI code page), written
// back in the same encoding, and replaced atomically so a crash or a full disk
// never leaves half a file.

#include "base/error.h"

#include <windows.h>

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace merovane {

// Utf8 and Utf16* files always carry a byte-order mark.
enum class TextEncoding { Ansi, Utf8, Utf16LE, Utf16BE };

struct DecodedText {
    std::wstring text;
    TextEncoding encoding = TextEncoding::Ansi;
    // Encoding the text again gives back the same bytes: nothing was lost to
    // invalid sequences, unmappable bytes or a dangling odd byte, and the file
    // was neither UTF-16 without its mark nor ANSI with NUL bytes.
    bool faithful = true;
};

DecodedText DecodeText(std::string_view bytes);
// With the byte-order mark where the encoding has one. Text the ANSI code page
// can't hold exactly is written as UTF-8 with its mark instead.
std::string EncodeText(std::wstring_view text, TextEncoding encoding);

// The file's bytes, or nothing when it (or its folder) doesn't exist; any
// other failure throws merovane::Error.
std::optional<std::string> ReadFileIfExists(const std::wstring& path);
// Writes a temporary file beside the target, flushes it and moves it over the
// target. Throws merovane::Error when that fails, including for a read-only
// target, leaving the target untouched and no temporary file behind.
void WriteFileAtomically(const std::wstring& path, std::string_view bytes);

// A file written beside its target and flushed, not yet moved over it, so
// that several files can be written first and replaced only when all of
// them could be. Deleted unless committed.
class StagedFile {
public:
    // Throws merovane::Error when the target cannot be replaced (read-only,
    // a folder, held open by another program) or the file cannot be written,
    // leaving nothing behind.
    StagedFile(const std::wstring& target, std::string_view bytes);
    ~StagedFile();
    StagedFile(StagedFile&& other) noexcept;
    StagedFile& operator=(StagedFile&&) = delete;
    StagedFile(const StagedFile&) = delete;
    StagedFile& operator=(const StagedFile&) = delete;

    // The full path of the target.
    [[nodiscard]] const std::wstring& Target() const noexcept { return target_; }
    // Moves the file over the target; throws merovane::Error.
    void Commit();

private:
    std::wstring target_;
    std::wstring temporary_; // "" once committed
    DWORD attributes_ = INVALID_FILE_ATTRIBUTES; // of the target when staged
};

// Why ReplaceTogether stopped: the file it could not put in place, the
// reason, and whether the targets replaced before it have their old bytes
// again (true when there were none).
struct ReplaceFailure {
    std::size_t index;
    Error error;
    bool restored;
};
// Moves each staged file over its target, in order. When one fails, those
// already replaced are written back as they were (or deleted again when
// they did not exist), so that either every target is new or, as far as
// the disk allows, none is.
std::optional<ReplaceFailure> ReplaceTogether(std::span<StagedFile> files) noexcept;

// Deletes the temporary files beside `target` that a save left when its
// process ended midway ("Option.ini.1234-5.tmp": target, process id,
// counter), and no other file. Those of a process that still runs, or that
// we may not look at, can be a save in progress and stay.
void RemoveStaleTemporaryFiles(const std::wstring& target) noexcept;

// Lines split at CR LF, LF or CR.
std::vector<std::wstring> SplitLines(std::wstring_view text);
std::optional<std::vector<std::wstring>> ReadTextLines(const std::wstring& path);
// UTF-16 LE with byte-order mark, CR LF after every line.
void WriteUtf16Lines(const std::wstring& path, const std::vector<std::wstring>& lines);

} // namespace merovane
