#pragma once

// Text files as the program reads and writes them: decoded by byte-order mark
// (else as UTF-16 when the NUL bytes say so, else the ANSI code page), written
// back in the same encoding, and replaced atomically so a crash or a full disk
// never leaves half a file.

#include <optional>
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

// Lines split at CR LF, LF or CR.
std::vector<std::wstring> SplitLines(std::wstring_view text);
std::optional<std::vector<std::wstring>> ReadTextLines(const std::wstring& path);
// UTF-16 LE with byte-order mark, CR LF after every line.
void WriteUtf16Lines(const std::wstring& path, const std::vector<std::wstring>& lines);

} // namespace merovane
