#include "core/icon_list.h"

#include "core/display_names.h"
#include "base/file_info.h"
#include "base/handles.h"
#include "core/icon_store.h"
#include "base/ini_file.h"

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <array>
#include <unordered_map>
#include <exception>
#include <optional>

namespace merovane {

namespace {

// The network icon's GUID, which the graphics drivers' helpers borrow.
constexpr std::wstring_view kDriverHelperGuid = L"{D36B22A6-995E-4340-8339-3DE08C6840DF}";

struct VendorRow {
    std::array<std::wstring_view, 5> fileNames; // unused slots stay empty
    std::wstring_view pathPart;
    std::wstring_view name;
};

constexpr VendorRow kVendors[] = {
    {{L"NVDisplay.Container.exe", L"NVContainer.exe", L"NVStreamerUserAgent.exe", L"NVIDIA Web Helper.exe",
      L"NVIDIA Bridge.exe"},
     L"NVIDIA",
     L"NVIDIA"},
    {{L"AMDRSServ.exe", L"AMDRSEN.exe", L"AMDExternalEventsUtility.exe"}, L"AMD", L"AMD"},
    {{L"igfxTray.exe", L"igfxCUIService.exe", L"IntelGraphicsControl.exe"}, L"Intel", L"Intel Graphics"},
};

wchar_t UpperAscii(wchar_t c) noexcept
{
    return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - (L'a' - L'A')) : c;
}

bool AsciiEqualIgnoringCase(std::wstring_view a, std::wstring_view b) noexcept
{
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (UpperAscii(a[i]) != UpperAscii(b[i])) {
            return false;
        }
    }
    return true;
}

int HexDigit(wchar_t c) noexcept
{
    if (c >= L'0' && c <= L'9') {
        return c - L'0';
    }
    c = UpperAscii(c);
    if (c >= L'A' && c <= L'F') {
        return c - L'A' + 10;
    }
    return -1;
}

// Exactly "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", hex digits in either case.
std::optional<GUID> ParseGuid(std::wstring_view text) noexcept
{
    if (text.size() != 38 || text[0] != L'{' || text[37] != L'}' || text[9] != L'-' || text[14] != L'-' ||
        text[19] != L'-' || text[24] != L'-') {
        return std::nullopt;
    }
    bool valid = true;
    auto read = [&](size_t position, size_t digits) {
        unsigned long long value = 0;
        for (size_t i = position; i < position + digits; ++i) {
            const int digit = HexDigit(text[i]);
            valid = valid && digit >= 0;
            value = value * 16 + static_cast<unsigned>(digit < 0 ? 0 : digit);
        }
        return value;
    };
    GUID guid{};
    guid.Data1 = static_cast<unsigned long>(read(1, 8));
    guid.Data2 = static_cast<unsigned short>(read(10, 4));
    guid.Data3 = static_cast<unsigned short>(read(15, 4));
    guid.Data4[0] = static_cast<unsigned char>(read(20, 2));
    guid.Data4[1] = static_cast<unsigned char>(read(22, 2));
    for (size_t i = 0; i < 6; ++i) {
        guid.Data4[2 + i] = static_cast<unsigned char>(read(25 + 2 * i, 2));
    }
    if (!valid) {
        return std::nullopt;
    }
    return guid;
}

std::optional<std::wstring> KnownFolderPath(const GUID& id)
{
    PWSTR raw = nullptr;
    const HRESULT result = ::SHGetKnownFolderPath(id, 0, nullptr, &raw);
    const unique_cotaskmem owner(raw); // freed on failure too
    if (FAILED(result) || raw == nullptr) {
        return std::nullopt;
    }
    return std::wstring(raw);
}

std::wstring_view FileNameOf(std::wstring_view path) noexcept
{
    const size_t separator = path.find_last_of(L"\\:");
    return separator == std::wstring_view::npos ? path : path.substr(separator + 1);
}

// What one load looks up once, however many entries ask: known folders, the
// program files folder, whether a file exists, version texts.
class LoadLookups {
public:
    std::optional<std::wstring> KnownFolder(const GUID& id)
    {
        const std::wstring key(reinterpret_cast<const wchar_t*>(&id), sizeof(GUID) / sizeof(wchar_t));
        auto found = knownFolders_.find(key);
        if (found == knownFolders_.end()) {
            found = knownFolders_.emplace(key, KnownFolderPath(id)).first;
        }
        return found->second;
    }

    const std::wstring& ProgramFiles()
    {
        if (!programFiles_) {
            programFiles_ = ProgramFilesDirectory();
        }
        return *programFiles_;
    }

    bool FileExists(const std::wstring& path)
    {
        auto found = files_.find(path);
        if (found == files_.end()) {
            found = files_.emplace(path, IsExistingFile(path)).first;
        }
        return found->second;
    }

    const CompanyAndDescription& VersionTexts(const std::wstring& file)
    {
        auto found = versions_.find(file);
        if (found == versions_.end()) {
            CompanyAndDescription texts;
            try {
                texts = GetCompanyAndDescription(file);
            } catch (const std::exception&) {
                // An unreadable resource only loses its own texts.
            }
            found = versions_.emplace(file, std::move(texts)).first;
        }
        return found->second;
    }

private:
    std::unordered_map<std::wstring, std::optional<std::wstring>> knownFolders_;
    std::optional<std::wstring> programFiles_;
    std::unordered_map<std::wstring, bool> files_;
    std::unordered_map<std::wstring, CompanyAndDescription> versions_;
};

std::wstring ExpandKnownFolderPath(std::wstring_view path, LoadLookups* lookups)
{
    const size_t open = path.find(L'{');
    const size_t close = path.find(L'}');
    if (open == std::wstring_view::npos || close == std::wstring_view::npos || close < open) {
        return std::wstring(path);
    }
    std::wstring_view rest = path.substr(close + 1);
    if (!rest.empty() && rest.front() == L'\\') {
        rest.remove_prefix(1);
    }
    const std::optional<GUID> id = ParseGuid(path.substr(open, close - open + 1));
    if (!id) {
        return std::wstring(path);
    }
    std::optional<std::wstring> folder = lookups != nullptr ? lookups->KnownFolder(*id) : KnownFolderPath(*id);
    if (!folder) {
        return std::wstring(path);
    }
    if (rest.empty()) {
        return *folder;
    }
    if (folder->empty() || folder->back() != L'\\') {
        *folder += L'\\';
    }
    *folder += rest;
    return *folder;
}

// Known folders and the program files id: what the registry's text alone says.
std::wstring ExpandedExecutablePath(std::wstring_view path, LoadLookups& lookups)
{
    std::wstring result = ExpandKnownFolderPath(path, &lookups);
    if (result.find(L'{') != std::wstring::npos) {
        result = ReplaceIgnoringCase(result, kProgramFilesFolderId, lookups.ProgramFiles());
    }
    return result;
}

// The expanded path as it is listed: "Program Files (x86)" becomes "Program
// Files" when no file is at the first.
std::wstring ExistingPath(std::wstring path, LoadLookups& lookups, bool& exists)
{
    exists = lookups.FileExists(path);
    if (!exists) {
        std::wstring other = ReplaceIgnoringCase(path, L"Program Files (x86)", L"Program Files");
        if (other != path) {
            path = std::move(other);
            exists = lookups.FileExists(path);
        }
    }
    return path;
}

std::wstring NormalizeExecutablePath(std::wstring_view path, LoadLookups& lookups, bool& exists)
{
    return ExistingPath(ExpandedExecutablePath(path, lookups), lookups, exists);
}

// The entry's path, company and name from its sources; without `files`, as
// the registry alone names it, and textsPending when a file could say more.
void ComposeEntry(IconEntry& entry, const EntryNameSources& sources, LoadLookups* files)
{
    entry.fileExists = false;
    entry.executablePath = sources.path;
    if (files != nullptr && !sources.path.empty()) {
        entry.executablePath = ExistingPath(sources.path, *files, entry.fileExists);
    }
    entry.textsPending = files == nullptr && !sources.path.empty();
    const std::wstring_view fileName = FileNameOf(entry.executablePath);
    // The file itself, past the 32-bit program's view of System32.
    const std::wstring file = entry.fileExists ? UnredirectedPath(entry.executablePath) : std::wstring();

    if (sources.publisher) {
        entry.company = *sources.publisher;
    } else {
        entry.company = entry.fileExists ? files->VersionTexts(file).company : std::wstring();
    }
    entry.systemEntry = !sources.iconGuid.empty() || AsciiEqualIgnoringCase(fileName, L"explorer.exe");

    entry.displayName = sources.guidName;
    if (entry.displayName.empty() && entry.fileExists) {
        entry.displayName = files->VersionTexts(file).description;
    }
    if (entry.displayName.empty()) {
        entry.displayName = entry.company;
    }
    if (entry.displayName.empty()) {
        // The program's own words for its icon, before a bare file name.
        entry.displayName = sources.tooltipLine;
    }
    if (entry.displayName.empty()) {
        entry.displayName = fileName.empty() ? sources.keyName : std::wstring(fileName);
    }
}

// The subkey is open for reading. A value of the wrong type counts as
// absent, so one odd entry never hides the others; an unreadable class name
// only loses its own text. Only the registry is read.
IconEntry ReadEntry(HKEY key, EntryNameSources& sources, const IniFile& language, LoadLookups& lookups)
{
    IconEntry entry;
    entry.keyName = sources.keyName;
    sources.iconGuid = ReadEntryString(key, kIconGuidValue).value_or(std::wstring());
    sources.path = ReadEntryString(key, kExecutablePathValue).value_or(std::wstring());
    if (!sources.path.empty()) {
        sources.path = ExpandedExecutablePath(sources.path, lookups);
    }
    sources.publisher = ReadEntryString(key, kPublisherValue);

    const std::optional<std::uint32_t> isPromoted = ReadEntryDword(key, kIsPromotedValue);
    entry.promoted = isPromoted.value_or(0) != 0;
    entry.hasIsPromoted = isPromoted.has_value();
    entry.iconGuid = sources.iconGuid;

    // The (x86) the file test may drop names no vendor.
    if (sources.iconGuid == kDriverHelperGuid && !sources.path.empty()) {
        sources.guidName = VendorDisplayName(sources.path);
    }
    if (sources.guidName.empty()) {
        try {
            sources.guidName = DisplayNameForIconGuid(sources.iconGuid, language);
        } catch (const std::exception&) {
            sources.guidName.clear();
        }
    }
    if (sources.guidName.empty() && (!sources.publisher || sources.publisher->empty())) {
        sources.tooltipLine =
            FirstTooltipLine(ReadEntryString(key, kInitialTooltipValue).value_or(std::wstring()));
    }
    ComposeEntry(entry, sources, nullptr);
    return entry;
}

} // namespace

std::wstring FirstTooltipLine(std::wstring_view tooltip)
{
    constexpr std::wstring_view kBlanks = L" \t\u00A0\u3000";
    while (!tooltip.empty()) {
        const size_t end = tooltip.find_first_of(L"\r\n");
        std::wstring_view line = tooltip.substr(0, end);
        tooltip = end == std::wstring_view::npos ? std::wstring_view() : tooltip.substr(end + 1);
        const size_t first = line.find_first_not_of(kBlanks);
        if (first != std::wstring_view::npos) {
            line = line.substr(first, line.find_last_not_of(kBlanks) - first + 1);
            return std::wstring(line);
        }
    }
    return {};
}

std::wstring AsciiUpper(std::wstring_view text)
{
    std::wstring result(text);
    for (wchar_t& c : result) {
        c = UpperAscii(c);
    }
    return result;
}

std::wstring ReplaceIgnoringCase(std::wstring_view text, std::wstring_view what, std::wstring_view with)
{
    if (what.empty()) {
        return std::wstring(text);
    }
    std::wstring result;
    result.reserve(text.size());
    // Only a position whose first character could match is compared in full:
    // the same letter in either case, or any character beyond ASCII.
    const wchar_t first = UpperAscii(what.front());
    size_t position = 0;
    while (position < text.size()) {
        const wchar_t c = text[position];
        if ((UpperAscii(c) == first || c >= 0x80) && text.size() - position >= what.size() &&
            ::CompareStringOrdinal(text.data() + position, static_cast<int>(what.size()), what.data(),
                                   static_cast<int>(what.size()), TRUE) == CSTR_EQUAL) {
            result += with;
            position += what.size();
        } else {
            result += text[position];
            ++position;
        }
    }
    return result;
}

std::wstring UnredirectedPath(std::wstring_view path, bool wow64Process, std::wstring_view windowsDirectory)
{
    while (!windowsDirectory.empty() && windowsDirectory.back() == L'\\') {
        windowsDirectory.remove_suffix(1);
    }
    if (!wow64Process || windowsDirectory.empty()) {
        return std::wstring(path);
    }
    const std::wstring system32 = std::wstring(windowsDirectory) + L"\\System32\\";
    if (path.size() <= system32.size() ||
        ::CompareStringOrdinal(path.data(), static_cast<int>(system32.size()), system32.data(),
                               static_cast<int>(system32.size()), TRUE) != CSTR_EQUAL) {
        return std::wstring(path);
    }
    return std::wstring(windowsDirectory) + L"\\Sysnative\\" + std::wstring(path.substr(system32.size()));
}

std::wstring UnredirectedPath(const std::wstring& path)
{
#ifdef _WIN64
    return path; // a 64-bit process is never redirected
#else
    BOOL wow64 = FALSE;
    if (!::IsWow64Process(::GetCurrentProcess(), &wow64) || !wow64) {
        return path;
    }
    wchar_t windows[MAX_PATH];
    const UINT length = ::GetSystemWindowsDirectoryW(windows, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return path;
    }
    return UnredirectedPath(path, true, std::wstring_view(windows, length));
#endif
}

bool IsExistingFile(const std::wstring& path)
{
    const std::wstring file = UnredirectedPath(path);
    DWORD attributes = ::GetFileAttributesW(file.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return false;
    }
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        // The attributes above are the link's own; ask what it points at.
        const unique_file target(::CreateFileW(file.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                               nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        BY_HANDLE_FILE_INFORMATION info{};
        if (!target || !::GetFileInformationByHandle(target.get(), &info)) {
            return false;
        }
        attributes = info.dwFileAttributes;
    }
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::wstring ExpandKnownFolderPath(std::wstring_view path)
{
    return ExpandKnownFolderPath(path, nullptr);
}

std::wstring ProgramFilesDirectory()
{
    if (const std::optional<GUID> id = ParseGuid(kProgramFilesFolderId)) {
        if (std::optional<std::wstring> folder = KnownFolderPath(*id); folder && !folder->empty()) {
            return *folder;
        }
    }
    // A 32-bit process gets no 64-bit folder; this names "Program Files (x86)" there.
    std::wstring value(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = ::GetEnvironmentVariableW(L"ProgramFiles", value.data(), static_cast<DWORD>(value.size()));
        if (length < value.size()) {
            value.resize(length);
            return value;
        }
        value.resize(length);
    }
}

std::wstring NormalizeExecutablePath(std::wstring_view path)
{
    LoadLookups lookups;
    bool exists = false;
    return NormalizeExecutablePath(path, lookups, exists);
}

std::wstring VendorDisplayName(std::wstring_view path)
{
    const std::wstring_view fileName = FileNameOf(path);
    for (const VendorRow& row : kVendors) {
        bool matches = path.find(row.pathPart) != std::wstring_view::npos;
        for (const std::wstring_view name : row.fileNames) {
            matches = matches || (!name.empty() && AsciiEqualIgnoringCase(fileName, name));
        }
        if (matches) {
            return std::wstring(row.name);
        }
    }
    return {};
}

int CompareIconEntries(const IconEntry& a, const IconEntry& b) noexcept
{
    if (a.promoted != b.promoted) {
        return a.promoted ? -1 : 1;
    }
    const std::wstring_view captionA = a.displayName;
    const std::wstring_view captionB = b.displayName;
    const size_t common = captionA.size() < captionB.size() ? captionA.size() : captionB.size();
    for (size_t i = 0; i < common; ++i) {
        const wchar_t a = UpperAscii(captionA[i]);
        const wchar_t b = UpperAscii(captionB[i]);
        if (a != b) {
            return a < b ? -1 : 1;
        }
    }
    if (captionA.size() == captionB.size()) {
        return 0;
    }
    return captionA.size() < captionB.size() ? -1 : 1;
}

IconListLoad ReadNotifyIconEntriesFromRegistry(const IniFile& language)
{
    IconListLoad load;
    // Reading asks for nothing more: an entry the user may read but not
    // change or delete is still listed.
    const unique_hkey base = OpenNotifyIconSettings(KEY_READ);
    if (!base) {
        return load;
    }
    const std::vector<EntrySubkey> names = EnumerateEntries(base.get());
    if (names.empty()) {
        return load;
    }

    load.listed = true;
    load.entries.reserve(names.size());
    LoadLookups lookups;
    try {
        for (const EntrySubkey& subkey : names) {
            unique_hkey entry;
            if (::RegOpenKeyExW(base.get(), subkey.name.c_str(), 0, KEY_QUERY_VALUE, entry.put()) != ERROR_SUCCESS) {
                continue;
            }
            EntryNameSources sources;
            sources.keyName = subkey.name;
            load.entries.push_back(ReadEntry(entry.get(), sources, language, lookups));
            if (load.entries.back().textsPending) {
                load.pending.push_back(std::move(sources));
            }
        }
    } catch (const std::exception&) {
        load.stoppedByError = true;
    }
    return load;
}

std::vector<IconEntry> FinishPendingEntries(const std::vector<EntryNameSources>& pending,
                                            const std::function<bool()>& cancelled)
{
    std::vector<IconEntry> finished;
    finished.reserve(pending.size());
    LoadLookups lookups;
    for (const EntryNameSources& sources : pending) {
        if (cancelled && cancelled()) {
            break;
        }
        IconEntry entry;
        entry.keyName = sources.keyName;
        entry.iconGuid = sources.iconGuid;
        ComposeEntry(entry, sources, &lookups);
        finished.push_back(std::move(entry));
    }
    return finished;
}

void TakeFileTexts(IconEntry& entry, IconEntry&& finished)
{
    entry.executablePath = std::move(finished.executablePath);
    entry.fileExists = finished.fileExists;
    entry.company = std::move(finished.company);
    entry.displayName = std::move(finished.displayName);
    entry.systemEntry = finished.systemEntry;
    entry.textsPending = false;
}

void FinishPendingEntries(IconListLoad& load)
{
    std::vector<IconEntry> finished = FinishPendingEntries(load.pending);
    // Both lists keep the load's order.
    size_t next = 0;
    for (IconEntry& entry : load.entries) {
        if (entry.textsPending && next < finished.size()) {
            TakeFileTexts(entry, std::move(finished[next++]));
        }
    }
    load.pending.clear();
}

IconListLoad ReadNotifyIconEntries(const IniFile& language)
{
    IconListLoad load = ReadNotifyIconEntriesFromRegistry(language);
    FinishPendingEntries(load);
    return load;
}

} // namespace merovane
