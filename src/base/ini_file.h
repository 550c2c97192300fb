#pragma once

// The INI text file shared by the settings file and the language files: read
// whole, changed in memory, rewritten whole.
//
// Reading: every line is trimmed of characters with code 32 or below; empty
// lines and lines starting with ";" are skipped; "[name]" opens a section,
// and a second header of a section already seen continues that section: its
// lines are appended to the first one's, so of two equal keys the earlier in
// the file still wins. Read with RepeatedSections::Separate (files whose
// sections are records), it opens a section of its own under the same name.
// Any other line in a section is an entry "key=value" (split at the first
// "=", blanks around it dropped) or a bare key. Lines before the first
// header are ignored. Values are verbatim. Names compare without regard to
// case.
//
// Rewriting: each section as its header, its entries in order, one empty line;
// CRLF line ends. Comments and blank lines are lost, unknown entries survive.

#include "base/text_file.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace merovane {

struct IniEntry {
    std::wstring key;
    std::optional<std::wstring> value; // nullopt: a line without "="
};

struct IniSection {
    std::wstring name;
    std::vector<IniEntry> entries;
};

// What a header of a section already seen opens.
enum class RepeatedSections {
    Continue, // more lines of that section
    Separate, // another section of that name, kept apart and written apart
};

class IniFile {
public:
    IniFile() = default; // empty, ANSI

    // Decodes by byte-order mark (EF BB BF, FF FE, FE FF), otherwise as
    // UTF-16 when its NUL bytes show it, otherwise in the system's ANSI code
    // page. Never fails on content; throws merovane::Error only for input
    // beyond 2 GB, which the system's converters cannot take.
    static IniFile FromBytes(std::string_view bytes, RepeatedSections repeated = RepeatedSections::Continue);
    static IniFile FromText(std::wstring_view text, TextEncoding encoding = TextEncoding::Ansi,
                            RepeatedSections repeated = RepeatedSections::Continue);
    // A missing file or folder gives an empty file; any other failure to read
    // throws merovane::Error.
    static IniFile Load(const std::wstring& path, RepeatedSections repeated = RepeatedSections::Continue);

    [[nodiscard]] TextEncoding Encoding() const noexcept { return encoding_; }
    // False when decoding lost or guessed something (invalid UTF-8, bytes the
    // code page does not map back, a dangling odd UTF-16 byte, UTF-16 without
    // its mark, NUL bytes in ANSI text), so a rewrite would change more than
    // the layout. Files the program merely tidies are rewritten only when this
    // is true.
    [[nodiscard]] bool Faithful() const noexcept { return faithful_; }

    [[nodiscard]] const std::vector<IniSection>& Sections() const noexcept { return sections_; }
    [[nodiscard]] const IniSection* FindSection(std::wstring_view name) const;
    [[nodiscard]] std::vector<std::wstring> SectionNames() const;
    // Keys in file order, repeated keys repeated; empty for a missing section.
    [[nodiscard]] std::vector<std::wstring> SectionKeys(std::wstring_view section) const;
    [[nodiscard]] bool SectionExists(std::wstring_view section) const;
    [[nodiscard]] bool KeyExists(std::wstring_view section, std::wstring_view key) const;

    // The first entry with the key; a bare key reads as "".
    [[nodiscard]] std::optional<std::wstring> ReadString(std::wstring_view section, std::wstring_view key) const;
    [[nodiscard]] std::wstring ReadString(std::wstring_view section, std::wstring_view key,
                                          std::wstring_view fallback) const;
    // The fallback when the key is missing or its value is no integer (see ParseIniInteger).
    [[nodiscard]] std::int32_t ReadInteger(std::wstring_view section, std::wstring_view key,
                                           std::int32_t fallback) const;
    // Read as an integer; non-zero is true.
    [[nodiscard]] bool ReadBool(std::wstring_view section, std::wstring_view key, bool fallback) const;

    // Changes the first entry with the key, else appends the entry to the
    // section, else appends a new section. A line break in any argument would
    // split the line on the next read, so it throws merovane::Error.
    void WriteString(std::wstring_view section, std::wstring_view key, std::wstring_view value);
    void WriteInteger(std::wstring_view section, std::wstring_view key, std::int32_t value);
    void WriteBool(std::wstring_view section, std::wstring_view key, bool value); // "1" / "0"
    // Removes the first entry with the key; false when there is none.
    bool DeleteKey(std::wstring_view section, std::wstring_view key);
    // Removes the section with its header; false when there is none.
    bool EraseSection(std::wstring_view section);
    // Removes, in one pass, the entries `dropEntry` picks, asked about each
    // entry in file order with its section still whole, then the sections
    // `dropSection` picks (seeing what is left of them). For edits too many
    // to make one DeleteKey or EraseSection at a time. Returns whether
    // anything went.
    bool RemoveIf(const std::function<bool(const IniSection&, const IniEntry&)>& dropEntry,
                  const std::function<bool(const IniSection&)>& dropSection);

    [[nodiscard]] std::wstring ToText() const;
    // ToText() in Encoding(), with the byte-order mark for Utf8 and Utf16*.
    // Text that the ANSI code page cannot hold is written as UTF-8 with mark
    // instead: the next read recognises it, whereas "?" would lose it for good.
    [[nodiscard]] std::string ToBytes() const;
    // Writes a temporary file beside the target, flushes it and moves it over
    // the target (ReplaceFileW keeps an existing file's attributes). A
    // read-only target, a missing folder, a locked file or a full disk throw
    // merovane::Error; the target is then untouched and the temporary file gone.
    void Save(const std::wstring& path) const;

private:
    IniSection* FindSectionMutable(std::wstring_view name);
    void Parse(std::wstring_view text, RepeatedSections repeated);

    std::vector<IniSection> sections_;
    TextEncoding encoding_ = TextEncoding::Ansi;
    bool faithful_ = true;
};

// Optional sign and decimal digits, as a 32-bit integer; nothing for any
// other text (blanks, trailing text, overflow).
std::optional<std::int32_t> ParseDecimalInt32(std::wstring_view text);

// Optional sign and decimal digits, or hexadecimal after "0x", "0X" or "$"
// taken as 32 bits ("0xFFFFFFFF" is -1). Nothing else: no blanks, no trailing
// text, no overflow.
std::optional<std::int32_t> ParseIniInteger(std::wstring_view text);

// Section and key names compare ordinally without regard to case.
bool IniNamesEqual(std::wstring_view a, std::wstring_view b);
// A name upper-cased, to hash names by; whether two are equal stays
// IniNamesEqual's call.
std::wstring FoldIniName(std::wstring_view name);

} // namespace merovane
