#include "core/app_rules.h"

#include "base/handles.h"
#include "base/text_case.h"
#include "core/icon_list.h"

#include <windows.h>
#include <shlobj.h>

#include <algorithm>

namespace merovane {

namespace {

constexpr std::wstring_view kRuleSectionPrefix = L"Rule";
constexpr std::wstring_view kFileKey = L"File";
constexpr std::wstring_view kCompanyKey = L"Company";
constexpr std::wstring_view kFolderKey = L"Folder";
constexpr std::wstring_view kIconGuidKey = L"IconGuid";
constexpr std::wstring_view kActionKey = L"Action";
constexpr std::wstring_view kVersionMark = L"<VERSION>";

bool IsDigit(wchar_t c) noexcept
{
    return c >= L'0' && c <= L'9';
}

bool IsAsciiAlnum(wchar_t c) noexcept
{
    return IsDigit(c) || (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z');
}

// Where a part of a folder name may begin and end.
bool OpensPart(wchar_t c) noexcept
{
    return c == L'-' || c == L'_' || c == L' ' || c == L'(';
}
bool ClosesPart(wchar_t c) noexcept
{
    return OpensPart(c) || c == L')';
}

// Length of the version that begins at `at` in one folder name, 0 for none.
size_t VersionLength(std::wstring_view name, size_t at) noexcept
{
    const size_t n = name.size();
    size_t i = at;
    const bool marked = i < n && (name[i] == L'v' || name[i] == L'V');
    if (marked) {
        ++i;
    }
    const size_t digits = i;
    while (i < n && IsDigit(name[i])) {
        ++i;
    }
    if (i == digits) {
        return 0;
    }
    bool dotted = false;
    while (i + 1 < n && name[i] == L'.' && IsDigit(name[i + 1])) {
        i += 2;
        while (i < n && IsDigit(name[i])) {
            ++i;
        }
        dotted = true;
    }
    if (dotted) {
        // "-beta.1", "+build.5": semantic versions' suffixes.
        while (i + 1 < n && (name[i] == L'-' || name[i] == L'+') && IsAsciiAlnum(name[i + 1])) {
            ++i;
            while (i < n && (IsAsciiAlnum(name[i]) || name[i] == L'.')) {
                ++i;
            }
        }
    }
    if (i < n && !ClosesPart(name[i])) {
        return 0;
    }
    if (!dotted && !marked && i < n) {
        return 0; // "7-Zip": a bare number counts only at the end
    }
    return i - at;
}

std::wstring LooseFolderName(std::wstring_view name)
{
    if (EqualIgnoringCase(name, L"Program Files (x86)")) {
        return L"PROGRAM FILES";
    }
    std::wstring result;
    size_t i = 0;
    while (i < name.size()) {
        if (i == 0 || OpensPart(name[i - 1])) {
            if (const size_t length = VersionLength(name, i)) {
                result += kVersionMark;
                i += length;
                continue;
            }
        }
        result += name[i];
        ++i;
    }
    return UpperInvariant(result);
}

std::optional<std::wstring> KnownFolder(const KNOWNFOLDERID& id)
{
    PWSTR raw = nullptr;
    const HRESULT result = ::SHGetKnownFolderPath(id, 0, nullptr, &raw);
    const unique_cotaskmem owner(raw);
    if (FAILED(result) || raw == nullptr || *raw == L'\0') {
        return std::nullopt;
    }
    return std::wstring(raw);
}

std::wstring TrimSeparators(std::wstring_view path)
{
    while (!path.empty() && (path.back() == L'\\' || path.back() == L'/')) {
        path.remove_suffix(1);
    }
    return std::wstring(path);
}

// Names and companies come from the registry, which allows any character; a
// line break would split the entry.
std::wstring OneLine(std::wstring_view value)
{
    std::wstring result(value);
    std::replace_if(result.begin(), result.end(), [](wchar_t c) { return c < L' '; }, L' ');
    return result;
}

bool IsRuleSectionName(std::wstring_view name)
{
    if (name.size() <= kRuleSectionPrefix.size() ||
        !EqualIgnoringCase(name.substr(0, kRuleSectionPrefix.size()), kRuleSectionPrefix)) {
        return false;
    }
    return std::all_of(name.begin() + static_cast<std::ptrdiff_t>(kRuleSectionPrefix.size()), name.end(), IsDigit);
}

bool IsKnownKey(std::wstring_view key)
{
    for (const std::wstring_view known : {kFileKey, kCompanyKey, kFolderKey, kIconGuidKey, kActionKey}) {
        if (IniNamesEqual(key, known)) {
            return true;
        }
    }
    return false;
}

std::optional<AppRule> RuleFromSection(const IniSection& section)
{
    if (!IsRuleSectionName(section.name)) {
        return std::nullopt;
    }
    auto read = [&](std::wstring_view key) -> std::wstring {
        for (const IniEntry& entry : section.entries) {
            if (IniNamesEqual(entry.key, key)) {
                return entry.value.value_or(L"");
            }
        }
        return {};
    };
    const std::optional<RuleAction> action = ParseRuleAction(read(kActionKey));
    AppRule rule;
    rule.app = {.fileName = read(kFileKey),
                .company = read(kCompanyKey),
                .folder = read(kFolderKey),
                .iconGuid = read(kIconGuidKey)};
    if (!action || (rule.app.fileName.empty() && rule.app.iconGuid.empty())) {
        return std::nullopt;
    }
    rule.action = *action;
    for (const IniEntry& entry : section.entries) {
        if (!IsKnownKey(entry.key)) {
            rule.otherEntries.push_back(entry);
        }
    }
    return rule;
}

} // namespace

const std::vector<FolderPlaceholder>& SystemFolderPlaceholders()
{
    static const std::vector<FolderPlaceholder> placeholders = [] {
        std::vector<FolderPlaceholder> list;
        auto add = [&](std::wstring_view placeholder, std::optional<std::wstring> folder) {
            if (folder && !folder->empty()) {
                list.push_back({std::wstring(placeholder), TrimSeparators(*folder)});
            }
        };
        add(L"%LOCALAPPDATA%", KnownFolder(FOLDERID_LocalAppData));
        add(L"%APPDATA%", KnownFolder(FOLDERID_RoamingAppData));
        add(L"%USERPROFILE%", KnownFolder(FOLDERID_Profile));
        add(L"%ProgramFiles%", ProgramFilesDirectory());
        add(L"%ProgramFiles%", KnownFolder(FOLDERID_ProgramFilesX86));
        add(L"%SystemRoot%", KnownFolder(FOLDERID_Windows));
        std::stable_sort(list.begin(), list.end(), [](const FolderPlaceholder& a, const FolderPlaceholder& b) {
            return a.folder.size() > b.folder.size();
        });
        return list;
    }();
    return placeholders;
}

std::wstring WithFolderPlaceholder(std::wstring_view path, const std::vector<FolderPlaceholder>& placeholders)
{
    for (const FolderPlaceholder& known : placeholders) {
        const std::wstring_view folder = known.folder;
        if (folder.empty() || path.size() < folder.size() ||
            !EqualIgnoringCase(path.substr(0, folder.size()), folder)) {
            continue;
        }
        if (path.size() > folder.size() && path[folder.size()] != L'\\' && path[folder.size()] != L'/') {
            continue; // "C:\Program Files2" is not below "C:\Program Files"
        }
        return known.placeholder + std::wstring(path.substr(folder.size()));
    }
    return std::wstring(path);
}

std::optional<AppIdentity> IdentifyApp(std::wstring_view executablePath, std::wstring_view company,
                                       std::wstring_view iconGuid,
                                       const std::vector<FolderPlaceholder>& placeholders)
{
    if (executablePath.empty() && iconGuid.empty()) {
        return std::nullopt;
    }
    AppIdentity app;
    app.company = std::wstring(company);
    app.iconGuid = std::wstring(iconGuid);
    const size_t separator = executablePath.find_last_of(L"\\/");
    if (separator == std::wstring_view::npos) {
        app.fileName = std::wstring(executablePath);
    } else {
        app.fileName = std::wstring(executablePath.substr(separator + 1));
        app.folder = TrimSeparators(WithFolderPlaceholder(executablePath.substr(0, separator), placeholders));
    }
    return app;
}

std::optional<AppIdentity> IdentifyApp(std::wstring_view executablePath, std::wstring_view company,
                                       std::wstring_view iconGuid)
{
    return IdentifyApp(executablePath, company, iconGuid, SystemFolderPlaceholders());
}

std::wstring LooseFolder(std::wstring_view folder)
{
    std::wstring result;
    size_t start = 0;
    while (start <= folder.size()) {
        size_t end = folder.find_first_of(L"\\/", start);
        if (end == std::wstring_view::npos) {
            end = folder.size();
        }
        const std::wstring_view name = folder.substr(start, end - start);
        if (!name.empty()) {
            if (!result.empty() || start > 0) {
                result += L'\\';
            }
            result += LooseFolderName(name);
        }
        start = end + 1;
    }
    return result;
}

bool SameApp(const AppIdentity& a, const AppIdentity& b)
{
    if (!a.iconGuid.empty() || !b.iconGuid.empty()) {
        return EqualIgnoringCase(a.iconGuid, b.iconGuid);
    }
    if (!EqualIgnoringCase(a.fileName, b.fileName)) {
        return false;
    }
    if (!a.company.empty() && !b.company.empty() && !EqualIgnoringCase(a.company, b.company)) {
        return false;
    }
    return LooseFolder(a.folder) == LooseFolder(b.folder);
}

AppRules AppRules::FromIni(const IniFile& file)
{
    AppRules rules;
    for (const IniSection& section : file.Sections()) {
        if (std::optional<AppRule> rule = RuleFromSection(section)) {
            rules.rules_.push_back(std::move(*rule));
        } else {
            rules.otherSections_.push_back(section);
        }
    }
    return rules;
}

IniFile AppRules::ToIni() const
{
    // Written as text and read back, so that kept sections stay as they were,
    // empty ones and bare keys included.
    std::wstring text;
    auto line = [&](std::wstring_view key, const std::optional<std::wstring>& value) {
        text += key;
        if (value) {
            text += L'=';
            text += OneLine(*value);
        }
        text += L"\r\n";
    };
    int number = 0;
    for (const AppRule& rule : rules_) {
        std::wstring name;
        do {
            name = std::wstring(kRuleSectionPrefix) + std::to_wstring(++number);
        } while (std::any_of(otherSections_.begin(), otherSections_.end(),
                             [&](const IniSection& kept) { return IniNamesEqual(kept.name, name); }));
        text += L"[" + name + L"]\r\n";
        line(kFileKey, rule.app.fileName);
        line(kCompanyKey, rule.app.company);
        line(kFolderKey, rule.app.folder);
        if (!rule.app.iconGuid.empty()) {
            line(kIconGuidKey, rule.app.iconGuid);
        }
        line(kActionKey, std::wstring(RuleActionName(rule.action)));
        for (const IniEntry& entry : rule.otherEntries) {
            line(entry.key, entry.value);
        }
    }
    for (const IniSection& section : otherSections_) {
        text += L"[" + section.name + L"]\r\n";
        for (const IniEntry& entry : section.entries) {
            line(entry.key, entry.value);
        }
    }
    return IniFile::FromText(text, TextEncoding::Utf8, RepeatedSections::Separate);
}

std::optional<RuleAction> AppRules::ActionFor(const AppIdentity& app) const
{
    for (const AppRule& rule : rules_) {
        if (SameApp(rule.app, app)) {
            return rule.action;
        }
    }
    return std::nullopt;
}

bool AppRules::Set(const AppIdentity& app, std::optional<RuleAction> action)
{
    const auto first = std::find_if(rules_.begin(), rules_.end(), [&](const AppRule& rule) { return SameApp(rule.app, app); });
    if (first != rules_.end() && action && first->action == *action &&
        std::none_of(first + 1, rules_.end(), [&](const AppRule& rule) { return SameApp(rule.app, app); })) {
        return false;
    }
    std::vector<IniEntry> kept = first != rules_.end() ? first->otherEntries : std::vector<IniEntry>{};
    const size_t before = rules_.size();
    std::erase_if(rules_, [&](const AppRule& rule) { return SameApp(rule.app, app); });
    if (action) {
        rules_.push_back({.app = app, .action = *action, .otherEntries = std::move(kept)});
        return true;
    }
    return rules_.size() != before;
}

std::wstring RulesPathBeside(std::wstring_view settingsPath)
{
    const size_t separator = settingsPath.find_last_of(L"\\/");
    const std::wstring_view folder =
        separator == std::wstring_view::npos ? std::wstring_view() : settingsPath.substr(0, separator + 1);
    return std::wstring(folder) + L"Rules.ini";
}

AppRules LoadRules(const std::wstring& path)
{
    const IniFile file = IniFile::Load(path, RepeatedSections::Separate);
    if (!file.Faithful()) {
        ThrowWin32(ERROR_INVALID_DATA); // a rewrite would lose what did not decode
    }
    return AppRules::FromIni(file);
}

RulesRead ReadRules(const std::wstring& path) noexcept
{
    try {
        try {
            const IniFile file = IniFile::Load(path, RepeatedSections::Separate);
            std::optional<Error> failure;
            if (!file.Faithful()) {
                failure = Error(ERROR_INVALID_DATA);
            }
            return {AppRules::FromIni(file), std::move(failure)};
        } catch (const Error& error) {
            return {AppRules(), error};
        }
    } catch (...) {
        return {AppRules(), Error(ERROR_NOT_ENOUGH_MEMORY)};
    }
}

void SaveRules(const AppRules& rules, const std::wstring& path)
{
    rules.ToIni().Save(path);
}

bool RulesFileFollower::Refresh() noexcept
{
    // A save replaces the file by another one, so the file's identity moves
    // even when two saves fall into one tick of the clock with one size.
    BY_HANDLE_FILE_INFORMATION data{};
    bool exists = false;
    {
        unique_file file(::CreateFileW(path_.c_str(), FILE_READ_ATTRIBUTES,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file) {
            exists = ::GetFileInformationByHandle(file.get(), &data) != FALSE;
        }
        const DWORD error = exists ? ERROR_SUCCESS : ::GetLastError();
        if (!exists && error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
            readFailed_ = true; // there, but not for us now: no reason to drop a rule
            return false;
        }
    }
    const std::uint64_t size = (std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
    const std::uint64_t index = (std::uint64_t{data.nFileIndexHigh} << 32) | data.nFileIndexLow;
    if (looked_ && exists == existed_ &&
        (!exists || (::CompareFileTime(&data.ftLastWriteTime, &written_) == 0 && size == size_ &&
                     index == index_ && data.dwVolumeSerialNumber == volume_))) {
        readFailed_ = false;
        return false;
    }
    try {
        AppRules rules;
        if (exists) {
            // Not ReadRules: a file that could not be read is no empty file.
            rules = AppRules::FromIni(IniFile::Load(path_, RepeatedSections::Separate));
        }
        // Only a read that worked counts as a look; a failed one is tried
        // again, whatever the file's times say then.
        looked_ = true;
        readFailed_ = false;
        existed_ = exists;
        written_ = data.ftLastWriteTime;
        size_ = size;
        index_ = index;
        volume_ = data.dwVolumeSerialNumber;
        if (rules == rules_) {
            return false;
        }
        rules_ = std::move(rules);
        return true;
    } catch (...) {
        readFailed_ = true; // locked meanwhile, or out of memory
        return false;
    }
}

std::optional<bool> TargetIsPromoted(NewIconPolicy policy, std::optional<RuleAction> rule,
                                     std::optional<bool> isPromoted)
{
    std::optional<bool> target;
    if (rule) {
        target = *rule == RuleAction::Show;
    } else if (policy == NewIconPolicy::ShowAll) {
        target = true;
    } else if (policy == NewIconPolicy::HideAll) {
        target = false;
    } else if (policy == NewIconPolicy::ShowNew && !isPromoted) {
        target = true;
    }
    if (target && *target == isPromoted.value_or(false)) {
        return std::nullopt;
    }
    return target;
}

std::wstring_view RuleActionName(RuleAction action)
{
    return action == RuleAction::Show ? L"Show" : L"Hide";
}

std::optional<RuleAction> ParseRuleAction(std::wstring_view text)
{
    if (EqualIgnoringCase(text, L"Show")) {
        return RuleAction::Show;
    }
    if (EqualIgnoringCase(text, L"Hide")) {
        return RuleAction::Hide;
    }
    return std::nullopt;
}

} // namespace merovane
