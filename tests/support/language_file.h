#pragma once

// The language file the build puts beside the program, read line by line. Just
// enough to check what is shipped; the program has its own INI reader.

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace merovane::test {

// bin\Language\English.ini of this build.
std::wstring ShippedEnglishFile();

// The raw bytes of a file; throws std::runtime_error when it can't be read.
std::string ReadFileAsBytes(const std::wstring& path);

// key/value pairs of one section of a UTF-8 file, in file order. Lines are
// trimmed; ";" lines, blank lines and lines without "=" are left out.
std::vector<std::pair<std::wstring, std::wstring>> ReadSection(const std::wstring& path,
                                                               std::wstring_view section);

// The text as UTF-16 bytes, little- or big-endian, without a byte-order mark.
std::string Utf16Bytes(std::wstring_view text, bool bigEndian);

} // namespace merovane::test
