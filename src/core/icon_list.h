#pragma once

// Reading the notification-area entries for the main list, the path
// normalisation they go through, and the list's sort order. The functions
// return data; the main window puts it into its list view, which stays the
// only place the rows are kept.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace merovane {

class IniFile;

// The 64-bit program files folder as Explorer writes it into ExecutablePath.
inline constexpr std::wstring_view kProgramFilesFolderId = L"{6D809377-6AF0-444B-8957-A3773F02200E}";

// One notification-area entry as the list shows it.
struct IconEntry {
    std::wstring keyName;        // subkey name
    std::wstring displayName;
    std::wstring company;
    std::wstring executablePath; // normalised, or ""
    bool promoted = false;
    bool fileExists = false;     // a file is there; its icon is found when the row shows
    // For the per-app rules: IconGuid ("" for none), and whether the entry
    // holds an IsPromoted DWORD at all.
    std::wstring iconGuid;
    bool hasIsPromoted = false;
    // For the row's picture: the system's own entries (Explorer's, or named
    // by an IconGuid) keep only a placeholder glyph in IconSnapshot; the
    // others' snapshot is looked for when the row shows.
    bool systemEntry = false;
    // Read from the registry alone: the file tests and the version texts
    // (company, description) are still to come, and the path may still lose
    // its " (x86)".
    bool textsPending = false;
};

// What names an entry besides its file, read from the registry; kept until
// the file has been looked at.
struct EntryNameSources {
    std::wstring keyName;
    std::wstring iconGuid;
    std::wstring path;     // ExecutablePath with its folder ids expanded, before any file test
    std::wstring guidName; // the vendor's or the GUID's name, "" for none
    std::optional<std::wstring> publisher;
    std::wstring tooltipLine; // read only when it may become the name
};

struct IconListLoad {
    std::vector<IconEntry> entries;
    // False when there was nothing to list (no base key, or it can't be opened,
    // or it has no subkeys): the caller then shows "<LangElements> 0" and
    // leaves the columns alone. True when the entries were read, also when an
    // error stopped the reading.
    bool listed = false;
    // A failure other than a value of the wrong type (which counts as absent)
    // ended the reading; `entries` holds the ones read before it.
    bool stoppedByError = false;
    // From ReadNotifyIconEntriesFromRegistry: what the entries with
    // textsPending are finished from.
    std::vector<EntryNameSources> pending;
};

// Reads every entry under HKCU\Control Panel\NotifyIconSettings in enumeration
// order. `language` is the active language file already read (empty when
// none); it names GUID entries before the built-in table does. The keys are
// only read; known folders, file tests and version resources are looked up
// once per load, however many entries share them.
IconListLoad ReadNotifyIconEntries(const IniFile& language);
// The same entries from the registry alone, at once: an entry with a path
// has textsPending and its sources in `pending`, in the same order.
IconListLoad ReadNotifyIconEntriesFromRegistry(const IniFile& language);
// The pending entries finished with their files: key name, IconGuid and what
// the files decide (path, fileExists, company, name, systemEntry). Stops
// early, with what it has, once `cancelled` says so.
std::vector<IconEntry> FinishPendingEntries(const std::vector<EntryNameSources>& pending,
                                            const std::function<bool()>& cancelled = {});
// Every pending entry of `load` finished in place.
void FinishPendingEntries(IconListLoad& load);
// Copies what the files decided from `finished` into `entry`.
void TakeFileTexts(IconEntry& entry, IconEntry&& finished);

// Replaces a known-folder GUID in braces by that folder. Text before the brace
// is dropped; a malformed or unknown GUID leaves the path as it is.
std::wstring ExpandKnownFolderPath(std::wstring_view path);
// The 64-bit program files folder, else %ProgramFiles%.
std::wstring ProgramFilesDirectory();
// ExecutablePath as the list shows it: known folders expanded, the program
// files id replaced, and "Program Files (x86)" turned into "Program Files"
// when no file exists at the path.
std::wstring NormalizeExecutablePath(std::wstring_view path);
// "NVIDIA", "AMD" or "Intel Graphics" for the graphics drivers' helper
// programs, "" for anything else.
std::wstring VendorDisplayName(std::wstring_view path);

// True for an existing file (links followed); a folder is no file. A 32-bit
// copy looks past the System32 redirection, so 64-bit programs count.
bool IsExistingFile(const std::wstring& path);

// A 32-bit process under WOW64 sees SysWOW64 where it asks for System32; the
// real System32 is reached as <Windows folder>\Sysnative. So a path below
// <windowsDirectory>\System32 (any letter case) becomes the same path below
// Sysnative when `wow64Process`; every other path stays as it is.
std::wstring UnredirectedPath(std::wstring_view path, bool wow64Process, std::wstring_view windowsDirectory);
// The path to open for a file, for the running process.
std::wstring UnredirectedPath(const std::wstring& path);

// The list's sort comparison, negative, 0 or positive: promoted entries
// first, then by display name with only ASCII letters folded.
int CompareIconEntries(const IconEntry& a, const IconEntry& b) noexcept;

// The first line of a tooltip that has more than blanks, without the blanks
// around it; "" for none.
std::wstring FirstTooltipLine(std::wstring_view tooltip);

// Every occurrence of `what`, ignoring case, replaced by `with`.
std::wstring ReplaceIgnoringCase(std::wstring_view text, std::wstring_view what, std::wstring_view with);
// a to z as capitals; every other character unchanged.
std::wstring AsciiUpper(std::wstring_view text);

} // namespace merovane
