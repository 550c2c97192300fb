#include "cli/command_line.h"

#include "base/application_title.h"
#include "base/error.h"
#include "base/handles.h"
#include "base/ini_file.h"
#include "base/locale_paths.h"
#include "base/options.h"
#include "base/policies.h"
#include "base/settings_file.h"
#include "base/text_case.h"
#include "core/app_rules.h"
#include "core/cleanup.h"
#include "base/shell_restart.h"
#include "base/text_file.h"
#include "core/icon_list.h"
#include "core/icon_order.h"
#include "core/icon_store.h"
#include "core/organisation_rules.h"
#include "core/promotion_pass.h"

#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

#include <algorithm>
#include <set>

namespace merovane::cli {

namespace {

constexpr std::wstring_view kUsage =
    L"Usage: Merovane.exe [command]\r\n"
    L"Without a command the window starts. Commands:\r\n"
    L"  --list [--json]               list every entry: shown|hidden, name, company, path, key\r\n"
    L"                                (tab-separated UTF-8 lines, or a JSON array)\r\n"
    L"  --show PATTERN                show the entries whose file name, name or key matches\r\n"
    L"  --hide PATTERN                hide them\r\n"
    L"  --show-all                    show every entry\r\n"
    L"  --hide-all                    hide every entry\r\n"
    L"  --rule show|hide|none PATTERN always show / always hide the apps of the matching\r\n"
    L"                                entries, or remove their rule\r\n"
    L"  --cleanup duplicates|missing  delete older duplicate entries, or entries whose\r\n"
    L"                                program no longer exists\r\n"
    L"  --order                       print the icons' order: key, name, first icon first\r\n"
    L"  --order FILE                  put the icons whose keys FILE lists first, in its order\r\n"
    L"  --order-undo                  put the order back as it was before the last change\r\n"
    L"  --restart-explorer            restart Explorer, which shows deletions and a new\r\n"
    L"                                order only once it has restarted\r\n"
    L"  --check                       list the entries that do not follow the rules and the\r\n"
    L"                                new-icon policy in force; exit code 1 when there are any\r\n"
    L"  --policies                    print what your organisation sets (Group Policy)\r\n"
    L"  --export FILE                 write the options and the rules to FILE\r\n"
    L"  --import FILE                 read the options and the rules from FILE\r\n"
    L"  --help                        this text\r\n"
    L"PATTERN: * any characters, ? one character, letter case ignored.\r\n"
    L"Exit codes: 0 done, 1 error (for --check: entries to change), 2 bad usage.\r\n";

constexpr std::wstring_view kExportSection = L"Merovane export";
constexpr std::wstring_view kExportFormatKey = L"Format";
constexpr std::wstring_view kExportFormat = L"1";
constexpr std::wstring_view kOptionPrefix = L"Option.ini/";
constexpr std::wstring_view kRulesPrefix = L"Rules.ini/";

constexpr std::wstring_view kAfterExplorerRestart =
    L"Windows' own settings list deleted entries until Explorer restarts (Merovane.exe --restart-explorer).\r\n";

// Bad usage: reported with a hint, exit code 2, nothing done.
struct UsageError {
    std::wstring message;
};

std::wstring_view FileNameOf(std::wstring_view path)
{
    const size_t separator = path.find_last_of(L"\\/");
    return separator == std::wstring_view::npos ? path : path.substr(separator + 1);
}

// One field of a tab-separated line.
std::wstring Field(std::wstring_view text)
{
    std::wstring result(text);
    std::replace_if(result.begin(), result.end(), [](wchar_t c) { return c == L'\t' || c == L'\r' || c == L'\n'; },
                    L' ');
    return result;
}

std::wstring Line(std::initializer_list<std::wstring_view> fields)
{
    std::wstring line;
    bool first = true;
    for (const std::wstring_view field : fields) {
        if (!first) {
            line += L'\t';
        }
        first = false;
        line += Field(field);
    }
    return line + L"\r\n";
}

std::wstring_view StateName(bool promoted)
{
    return promoted ? L"shown" : L"hidden";
}

std::wstring EntryLine(std::wstring_view first, const IconEntry& entry)
{
    return Line({first, entry.displayName, entry.company, entry.executablePath, entry.keyName});
}

std::wstring JsonString(std::wstring_view text)
{
    std::wstring result = L"\"";
    for (const wchar_t c : text) {
        switch (c) {
        case L'"': result += L"\\\""; break;
        case L'\\': result += L"\\\\"; break;
        case L'\n': result += L"\\n"; break;
        case L'\r': result += L"\\r"; break;
        case L'\t': result += L"\\t"; break;
        default:
            if (c < 0x20) {
                wchar_t escaped[8];
                ::swprintf(escaped, 8, L"\\u%04x", static_cast<unsigned>(c));
                result += escaped;
            } else {
                result += c;
            }
        }
    }
    return result + L"\"";
}

IniFile ReadLanguage(const Files& files)
{
    LocalePaths paths;
    paths.languageDirectory = files.languageDirectory;
    // An unreadable settings file chooses no language, as a missing one does.
    paths.language = ReadOptions(ReadSettings(files.settingsFile)).language;
    return ReadActiveLanguageFile(paths);
}

std::vector<IconEntry> ReadEntries(const Files& files)
{
    IconListLoad load = ReadNotifyIconEntries(ReadLanguage(files));
    if (load.stoppedByError) {
        throw Error(ERROR_READ_FAULT, L"Could not read every notification-area entry; nothing was changed.");
    }
    return std::move(load.entries);
}

void CheckPattern(std::wstring_view pattern)
{
    if (pattern.empty()) {
        throw UsageError{L"The pattern is empty."};
    }
    if (std::any_of(pattern.begin(), pattern.end(), [](wchar_t c) { return c < L' '; })) {
        throw UsageError{L"The pattern holds a control character."};
    }
}

bool EntryMatches(std::wstring_view pattern, const IconEntry& entry)
{
    const std::wstring_view fileName = FileNameOf(entry.executablePath);
    return (!fileName.empty() && WildcardMatch(pattern, fileName)) || WildcardMatch(pattern, entry.displayName) ||
           WildcardMatch(pattern, entry.keyName);
}

std::vector<IconEntry> MatchingEntries(std::wstring_view pattern, const std::vector<IconEntry>& entries)
{
    std::vector<IconEntry> matching;
    for (const IconEntry& entry : entries) {
        if (EntryMatches(pattern, entry)) {
            matching.push_back(entry);
        }
    }
    return matching;
}

Error NoMatch(std::wstring_view pattern)
{
    return Error(ERROR_NOT_FOUND, L"No notification-area entry matches \"" + std::wstring(pattern) + L"\".");
}

std::optional<AppIdentity> IdentityOf(const IconEntry& entry)
{
    return IdentifyApp(entry.executablePath, entry.company, entry.iconGuid);
}

// The organisation's policy, its problems said once on standard error.
OrganisationPolicy ReadOrganisationPolicy(TextSink& err)
{
    OrganisationPolicy organisation = OrganisationPolicyFrom(ReadPolicies());
    for (const std::wstring& problem : organisation.problems) {
        err.Write(problem + L"\r\n");
    }
    return organisation;
}

AppRules LoadRulesNamed(const std::wstring& path)
{
    try {
        return LoadRules(path);
    } catch (const Error& error) {
        throw InContext(L"Could not read \"" + path + L"\".", error);
    }
}

// The value the organisation holds an entry at, when it decides: its rule
// for the entry's app, or else, where the user has no rule for the app, its
// policy of showing or hiding every icon.
std::optional<bool> OrganisationTarget(const OrganisationPolicy& organisation, const AppRules& userRules,
                                       const IconEntry& entry)
{
    const std::optional<AppIdentity> app = IdentityOf(entry);
    if (app) {
        if (const std::optional<RuleAction> action = organisation.ActionFor(*app)) {
            return *action == RuleAction::Show;
        }
        if (userRules.ActionFor(*app)) {
            return std::nullopt;
        }
    }
    if (organisation.newIconPolicy == NewIconPolicy::ShowAll || organisation.newIconPolicy == NewIconPolicy::HideAll) {
        return organisation.newIconPolicy == NewIconPolicy::ShowAll;
    }
    return std::nullopt;
}

// Writes IsPromoted where it differs and prints each entry that changed. An
// entry deleted meanwhile is skipped. Entries the organisation holds at the
// other value are left and named; the command then fails.
void SetPromoted(const Files& files, const std::vector<IconEntry>& entries, bool promoted, TextSink& out,
                 TextSink& err)
{
    const OrganisationPolicy organisation = ReadOrganisationPolicy(err);
    const AppRules userRules = organisation.Empty() ? AppRules() : LoadRulesNamed(files.rulesFile);
    int refused = 0;
    for (const IconEntry& entry : entries) {
        if (entry.promoted == promoted) {
            continue;
        }
        if (!organisation.Empty()) {
            if (const std::optional<bool> held = OrganisationTarget(organisation, userRules, entry);
                held && *held != promoted) {
                err.Write(EntryLine(L"set by your organisation", entry));
                ++refused;
                continue;
            }
        }
        if (WriteIsPromoted(entry.keyName, promoted)) {
            out.Write(EntryLine(StateName(promoted), entry));
        }
    }
    if (refused > 0) {
        throw Error(ERROR_ACCESS_DENIED, std::to_wstring(refused) + L" entries are " +
                                             std::wstring(promoted ? L"hidden" : L"shown") +
                                             L" by your organisation's policy and were not changed.");
    }
}

void List(const Files& files, bool json, TextSink& out)
{
    IconListLoad load = ReadNotifyIconEntries(ReadLanguage(files));
    if (json) {
        std::wstring text = L"[";
        bool first = true;
        for (const IconEntry& entry : load.entries) {
            text += first ? L"\r\n" : L",\r\n";
            first = false;
            text += L"  {\"state\": " + JsonString(StateName(entry.promoted)) +
                    L", \"name\": " + JsonString(entry.displayName) + L", \"company\": " + JsonString(entry.company) +
                    L", \"path\": " + JsonString(entry.executablePath) + L", \"key\": " + JsonString(entry.keyName) +
                    L"}";
        }
        text += first ? L"]\r\n" : L"\r\n]\r\n";
        out.Write(text);
    } else {
        for (const IconEntry& entry : load.entries) {
            out.Write(EntryLine(StateName(entry.promoted), entry));
        }
    }
    if (load.stoppedByError) {
        throw Error(ERROR_READ_FAULT, L"Could not read every notification-area entry; the list is incomplete.");
    }
}

void ShowOrHide(const Files& files, std::wstring_view pattern, bool promoted, TextSink& out, TextSink& err)
{
    const std::vector<IconEntry> matching = MatchingEntries(pattern, ReadEntries(files));
    if (matching.empty()) {
        throw NoMatch(pattern);
    }
    SetPromoted(files, matching, promoted, out, err);
}

std::wstring RuleLine(std::wstring_view action, const AppIdentity& app)
{
    return Line({L"rule", action, app.fileName.empty() ? app.iconGuid : app.fileName, app.company, app.folder});
}

void SetRule(const Files& files, std::wstring_view actionText, std::wstring_view pattern, TextSink& out,
             TextSink& err)
{
    std::optional<RuleAction> action;
    if (EqualIgnoringCase(actionText, L"show")) {
        action = RuleAction::Show;
    } else if (EqualIgnoringCase(actionText, L"hide")) {
        action = RuleAction::Hide;
    } else if (!EqualIgnoringCase(actionText, L"none")) {
        throw UsageError{L"--rule takes show, hide or none, not \"" + std::wstring(actionText) + L"\"."};
    }
    CheckPattern(pattern);

    const std::vector<IconEntry> entries = ReadEntries(files);
    AppRules rules = LoadRulesNamed(files.rulesFile);
    // The apps named: those of the matching entries, and for "none" also the
    // rules whose program has no entry any more.
    std::vector<AppIdentity> apps;
    bool anyMatch = false;
    for (const IconEntry& entry : entries) {
        if (!EntryMatches(pattern, entry)) {
            continue;
        }
        anyMatch = true;
        if (std::optional<AppIdentity> app = IdentityOf(entry)) {
            if (std::none_of(apps.begin(), apps.end(), [&](const AppIdentity& known) { return SameApp(known, *app); })) {
                apps.push_back(std::move(*app));
            }
        }
    }
    if (!action) {
        for (const AppRule& rule : rules.Rules()) {
            if (!rule.app.fileName.empty() && WildcardMatch(pattern, rule.app.fileName)) {
                anyMatch = true;
                apps.push_back(rule.app);
            }
        }
    }
    if (!anyMatch) {
        throw NoMatch(pattern);
    }
    if (apps.empty()) {
        throw Error(ERROR_NOT_FOUND, L"The entries matching \"" + std::wstring(pattern) +
                                         L"\" name no program and no icon GUID: there is no app to make a rule for.");
    }

    // An organisation's rule is not the user's to change: nothing is.
    const OrganisationPolicy organisation = ReadOrganisationPolicy(err);
    for (const AppIdentity& app : apps) {
        if (const OrganisationRule* rule = organisation.RuleFor(app)) {
            throw Error(ERROR_ACCESS_DENIED, L"The rule for " + (app.fileName.empty() ? app.iconGuid : app.fileName) +
                                                 L" is set by your organisation (" + OrganisationRuleLine(*rule) +
                                                 L"); no rule was changed.");
        }
    }

    std::vector<AppIdentity> changed;
    for (const AppIdentity& app : apps) {
        if (rules.Set(app, action)) {
            changed.push_back(app);
        }
    }
    if (!changed.empty()) {
        try {
            SaveRules(rules, files.rulesFile);
        } catch (const Error& error) {
            throw InContext(L"Could not write \"" + files.rulesFile + L"\"; no rule was changed.", error);
        }
    }
    for (const AppIdentity& app : changed) {
        out.Write(RuleLine(action ? (*action == RuleAction::Show ? L"show" : L"hide") : L"none", app));
    }
    if (!action) {
        return;
    }
    // The rule holds from now on: entries of these apps follow it at once.
    for (const IconEntry& entry : entries) {
        const std::optional<AppIdentity> app = IdentityOf(entry);
        if (!app || std::none_of(apps.begin(), apps.end(), [&](const AppIdentity& named) { return SameApp(named, *app); })) {
            continue;
        }
        if (const std::optional<bool> target = TargetIsPromoted(NewIconPolicy::None, action, entry.promoted)) {
            if (WriteIsPromoted(entry.keyName, *target)) {
                out.Write(EntryLine(StateName(*target), entry));
            }
        }
    }
}

IniFile LoadSettingsNamed(const std::wstring& path)
{
    try {
        return LoadSettings(path);
    } catch (const Error& error) {
        throw InContext(L"Could not read \"" + path + L"\".", error);
    }
}

// The entries that do not follow the rules and the new-icon policy in
// force, decided as the running program's passes decide. True when all do.
bool Check(const Files& files, TextSink& out, TextSink& err)
{
    auto organisation = std::make_shared<OrganisationPolicy>(ReadOrganisationPolicy(err));
    auto rules = std::make_shared<RulesFileFollower>(files.rulesFile);
    rules->Refresh();
    if (rules->ReadFailed()) {
        (void)LoadRulesNamed(files.rulesFile); // says why
    }
    const Options options = ReadOptions(LoadSettingsNamed(files.settingsFile));
    const NewIconPolicy userPolicy = options.refreshList ? options.newIconPolicy : NewIconPolicy::None;
    const std::vector<std::wstring> off =
        EntriesOffRule(RuleForPolicyAndAppRules(userPolicy, rules, organisation));
    if (off.empty()) {
        return true;
    }
    const std::set<std::wstring, std::less<>> keys(off.begin(), off.end());
    for (const IconEntry& entry : ReadEntries(files)) {
        if (keys.contains(entry.keyName)) {
            out.Write(EntryLine(StateName(entry.promoted), entry));
        }
    }
    err.Write(std::to_wstring(off.size()) + L" entries do not follow the rules and the policy in force.\r\n");
    return false;
}

std::wstring_view NewIconPolicyName(NewIconPolicy policy)
{
    switch (policy) {
    case NewIconPolicy::LeaveToSystem: return L"leave as the system set it";
    case NewIconPolicy::ShowAll: return L"show all";
    case NewIconPolicy::HideAll: return L"hide all";
    case NewIconPolicy::ShowNew: return L"show new icons";
    case NewIconPolicy::None: break;
    }
    return L"";
}

// What the organisation sets, one value a line: name, then what it says.
void PrintPolicies(TextSink& out, TextSink& err)
{
    const Policies policies = ReadPolicies();
    const OrganisationPolicy organisation = OrganisationPolicyFrom(policies);
    for (const std::wstring& problem : organisation.problems) {
        err.Write(problem + L"\r\n");
    }
    if (policies.newIconPolicy) {
        out.Write(Line({L"NewIconPolicy", NewIconPolicyName(*policies.newIconPolicy)}));
    }
    for (const OrganisationRule& rule : organisation.rules) {
        out.Write(Line({L"Rules", OrganisationRuleLine(rule)}));
    }
    if (policies.disableSelfUpdate) {
        out.Write(Line({L"DisableSelfUpdate", L"updates disabled"}));
    }
    if (policies.primaryUpdateServer) {
        out.Write(Line({L"PrimaryUpdateServer", *policies.primaryUpdateServer}));
    }
    if (policies.fallbackUpdateServer) {
        out.Write(Line({L"FallbackUpdateServer", *policies.fallbackUpdateServer}));
    }
    if (policies.startWithWindows) {
        out.Write(Line({L"StartWithWindows", *policies.startWithWindows ? L"on" : L"off"}));
    }
}

void Cleanup(const Files& files, std::wstring_view kind, TextSink& out, TextSink& err)
{
    const bool duplicates = EqualIgnoringCase(kind, L"duplicates");
    if (!duplicates && !EqualIgnoringCase(kind, L"missing")) {
        throw UsageError{L"--cleanup takes duplicates or missing, not \"" + std::wstring(kind) + L"\"."};
    }
    const std::vector<IconEntry> before = ReadEntries(files);
    const bool deleted =
        duplicates ? CleanupNotifyIconSettingsDuplicates() : CleanupNotifyIconSettingsNonExistentFiles(before);
    if (!deleted) {
        return;
    }
    std::set<std::wstring> left;
    for (const IconEntry& entry : ReadNotifyIconEntries(IniFile()).entries) {
        left.insert(entry.keyName);
    }
    for (const IconEntry& entry : before) {
        if (!left.contains(entry.keyName)) {
            out.Write(EntryLine(L"deleted", entry));
        }
    }
    err.Write(kAfterExplorerRestart);
}

std::wstring OrderBackupFile(const Files& files)
{
    const size_t separator = files.settingsFile.find_last_of(L"\\/");
    const std::wstring folder =
        separator == std::wstring::npos ? std::wstring() : files.settingsFile.substr(0, separator + 1);
    return folder + std::wstring(kIconOrderBackupName);
}

// The stored order's ids, or an error that says why there are none.
std::vector<IconId> StoredOrderIds()
{
    const StoredIconOrder stored = ReadIconOrder();
    if (!stored.present) {
        throw Error(ERROR_FILE_NOT_FOUND, L"Explorer keeps no icon order (UIOrderList) yet.");
    }
    if (!stored.ids) {
        throw Error(ERROR_INVALID_DATA,
                    L"The icon order (UIOrderList) is not a list of icon ids; it was left as it is.");
    }
    return *stored.ids;
}

void PrintOrder(const Files& files, const std::vector<IconId>& ids, TextSink& out)
{
    std::vector<IconEntry> entries = ReadEntries(files);
    for (const IconId id : ids) {
        const std::wstring key = KeyNameFromIconId(id);
        const auto entry = std::find_if(entries.begin(), entries.end(),
                                        [&](const IconEntry& candidate) { return candidate.keyName == key; });
        out.Write(Line({key, entry == entries.end() ? std::wstring_view() : entry->displayName}));
    }
}

// The keys a file lists, one a line: the first tab-separated field, so the
// output of --order reads back; blank lines are skipped.
std::vector<IconId> ReadOrderFile(const std::wstring& path)
{
    const std::optional<std::vector<std::wstring>> lines = ReadTextLines(path);
    if (!lines) {
        throw Error(ERROR_FILE_NOT_FOUND, path + L": " + SystemMessage(ERROR_FILE_NOT_FOUND));
    }
    std::vector<IconId> ids;
    for (size_t number = 0; number < lines->size(); ++number) {
        std::wstring_view key((*lines)[number]);
        key = key.substr(0, key.find(L'\t'));
        while (!key.empty() && (key.front() == L' ' || key.front() == L'\uFEFF')) {
            key.remove_prefix(1);
        }
        while (!key.empty() && key.back() == L' ') {
            key.remove_suffix(1);
        }
        if (key.empty()) {
            continue;
        }
        const std::optional<IconId> id = IconIdFromKeyName(key);
        if (!id) {
            throw Error(ERROR_INVALID_DATA, path + L", line " + std::to_wstring(number + 1) + L": \"" +
                                                std::wstring(key) + L"\" is not an entry's key.");
        }
        ids.push_back(*id);
    }
    return ids;
}

void Order(const Files& files, const std::wstring* source, bool undo, TextSink& out, TextSink& err)
{
    const std::wstring backup = OrderBackupFile(files);
    if (undo) {
        StoredOrderIds(); // says why an order that is not there cannot be put back
        if (!UndoIconOrder(backup)) {
            throw Error(ERROR_FILE_NOT_FOUND, L"No earlier icon order is kept; nothing was changed.");
        }
    } else if (source != nullptr) {
        const std::vector<IconId> wanted = ReadOrderFile(*source);
        const Reordering reordering = ReorderIcons(StoredOrderIds(), wanted);
        switch (reordering.problem) {
        case OrderProblem::UnknownId:
            throw Error(ERROR_NOT_FOUND, *source + L": the icon order holds no key " +
                                             KeyNameFromIconId(reordering.offending) + L"; nothing was changed.");
        case OrderProblem::Repeated:
            throw Error(ERROR_INVALID_DATA, *source + L": the key " + KeyNameFromIconId(reordering.offending) +
                                                L" is listed twice; nothing was changed.");
        case OrderProblem::None:
            break;
        }
        ChangeIconOrder(reordering.ids, backup);
    }
    PrintOrder(files, StoredOrderIds(), out);
    if (undo || source != nullptr) {
        err.Write(L"Explorer shows the new order once it has restarted (Merovane.exe --restart-explorer).\r\n");
    }
}

void RestartExplorer(TextSink& out)
{
    const std::optional<ShellProcess> shell = FindShellProcess();
    if (!shell) {
        throw Error(ERROR_NOT_FOUND, L"Explorer is not running as the shell; nothing was restarted.");
    }
    const ShellRestart restart = RestartShell(*shell);
    if (restart.outcome == ShellRestartOutcome::Failed) {
        throw Error(restart.error, L"Explorer could not be restarted: " + SystemMessage(restart.error));
    }
    out.Write(Line({L"restarted", shell->image}));
}

// Sections as INI text, every name prefixed; bare keys and empty sections
// stay as they are.
std::wstring SectionsText(const std::vector<IniSection>& sections, std::wstring_view prefix)
{
    std::wstring text;
    for (const IniSection& section : sections) {
        text += L"[" + std::wstring(prefix) + section.name + L"]\r\n";
        for (const IniEntry& entry : section.entries) {
            text += entry.key;
            if (entry.value) {
                text += L"=" + *entry.value;
            }
            text += L"\r\n";
        }
    }
    return text;
}

// A file for a read-modify-write: missing is empty, unreadable or not
// decoding cleanly throws with the file's name.
IniFile LoadWhole(const std::wstring& path, RepeatedSections repeated = RepeatedSections::Continue)
{
    try {
        IniFile file = IniFile::Load(path, repeated);
        if (!file.Faithful()) {
            ThrowWin32(ERROR_INVALID_DATA);
        }
        return file;
    } catch (const Error& error) {
        throw InContext(L"Could not read \"" + path + L"\".", error);
    }
}

void SaveWhole(const IniFile& file, const std::wstring& path)
{
    try {
        file.Save(path);
    } catch (const Error& error) {
        throw InContext(L"Could not write \"" + path + L"\".", error);
    }
}

size_t RuleCount(const IniFile& rulesFile)
{
    return AppRules::FromIni(rulesFile).Rules().size();
}

void Export(const Files& files, const std::wstring& target, TextSink& out)
{
    const IniFile settings = LoadWhole(files.settingsFile);
    // Each [RuleN] is a rule of its own, also when a name repeats.
    const IniFile rules = LoadWhole(files.rulesFile, RepeatedSections::Separate);
    std::wstring text = L"[" + std::wstring(kExportSection) + L"]\r\n" + std::wstring(kExportFormatKey) + L"=" +
                        std::wstring(kExportFormat) + L"\r\n";
    text += SectionsText(settings.Sections(), kOptionPrefix);
    text += SectionsText(rules.Sections(), kRulesPrefix);
    SaveWhole(IniFile::FromText(text, TextEncoding::Utf8, RepeatedSections::Separate), target);
    out.Write(L"Exported the options and " + std::to_wstring(RuleCount(rules)) + L" rules to \"" + target +
              L"\".\r\n");
}

void Import(const Files& files, const std::wstring& source, TextSink& out, TextSink& err)
{
    const DWORD attributes = ::GetFileAttributesW(source.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        throw InContext(L"Could not read \"" + source + L"\".", Error(::GetLastError()));
    }
    const IniFile imported = LoadWhole(source, RepeatedSections::Separate);
    if (imported.ReadString(kExportSection, kExportFormatKey).value_or(L"") != kExportFormat) {
        throw Error(ERROR_INVALID_DATA, L"\"" + source + L"\" is no Merovane export (or one of a newer format); "
                                        L"nothing was changed.");
    }
    std::vector<IniSection> options;
    std::vector<IniSection> rules;
    for (const IniSection& section : imported.Sections()) {
        const std::wstring_view name = section.name;
        if (name.size() > kOptionPrefix.size() && IniNamesEqual(name.substr(0, kOptionPrefix.size()), kOptionPrefix)) {
            options.push_back({std::wstring(name.substr(kOptionPrefix.size())), section.entries});
        } else if (name.size() > kRulesPrefix.size() &&
                   IniNamesEqual(name.substr(0, kRulesPrefix.size()), kRulesPrefix)) {
            rules.push_back({std::wstring(name.substr(kRulesPrefix.size())), section.entries});
        }
    }

    // Both files are read before either is written: one that can't be read
    // stops the import with nothing changed.
    const IniFile settings = LoadWhole(files.settingsFile);
    (void)LoadWhole(files.rulesFile);
    // The sections the export holds replace this machine's; others stay.
    std::vector<IniSection> merged = options;
    for (const IniSection& section : settings.Sections()) {
        if (std::none_of(options.begin(), options.end(),
                         [&](const IniSection& replacing) { return IniNamesEqual(replacing.name, section.name); })) {
            merged.push_back(section);
        }
    }
    const IniFile newSettings = IniFile::FromText(SectionsText(merged, L""), settings.Encoding());
    const IniFile newRules = IniFile::FromText(SectionsText(rules, L""), TextEncoding::Utf8, RepeatedSections::Separate);
    // Both are written in full before either replaces its file, so that the
    // options of one export never meet the rules of another.
    std::vector<StagedFile> staged;
    const auto stage = [&staged](const IniFile& file, const std::wstring& path) {
        try {
            staged.emplace_back(path, file.ToBytes());
        } catch (const Error& error) {
            throw InContext(L"Could not write \"" + path + L"\"; nothing was imported.", error);
        }
    };
    stage(newSettings, files.settingsFile);
    stage(newRules, files.rulesFile);
    if (const std::optional<ReplaceFailure> failure = ReplaceTogether(staged)) {
        const std::wstring& failed = failure->index == 0 ? files.settingsFile : files.rulesFile;
        throw InContext(failure->restored
                            ? L"Could not write \"" + failed + L"\"; nothing was imported."
                            : L"Could not write \"" + failed + L"\": the options were imported into \"" +
                                  files.settingsFile + L"\", the rules were not.",
                        failure->error);
    }
    out.Write(L"Imported the options into \"" + files.settingsFile + L"\" and " + std::to_wstring(RuleCount(newRules)) +
              L" rules into \"" + files.rulesFile + L"\".\r\n");
    if (files.windowRunning) {
        err.Write(L"Merovane is running: it reads the imported rules again before it next applies rules, and "
                  L"uses the imported options after its next start; options changed in its windows meanwhile are "
                  L"saved over the imported ones.\r\n");
    }
}

int Dispatch(const std::vector<std::wstring>& arguments, const Files& files, TextSink& out, TextSink& err)
{
    std::vector<std::wstring> rest;
    bool json = false;
    for (const std::wstring& argument : arguments) {
        if (EqualIgnoringCase(argument, L"--json") && !json) {
            json = true;
        } else {
            rest.push_back(argument);
        }
    }
    if (rest.empty()) {
        throw UsageError{json ? L"--json goes with --list." : L"No command given."};
    }
    const std::wstring command = UpperInvariant(rest[0]);
    const size_t operands = rest.size() - 1;
    auto expect = [&](size_t count) {
        if (operands < count) {
            throw UsageError{rest[0] + L" needs " + (count == 1 ? L"an argument." : L"two arguments.")};
        }
        if (operands > count) {
            throw UsageError{L"Unexpected argument \"" + rest[count + 1] + L"\"."};
        }
    };
    if (json && command != L"--LIST") {
        throw UsageError{L"--json goes with --list."};
    }
    if (command == L"--HELP" || command == L"-H" || command == L"/?") {
        expect(0);
        out.Write(kUsage);
    } else if (command == L"--LIST") {
        expect(0);
        List(files, json, out);
    } else if (command == L"--SHOW" || command == L"--HIDE") {
        expect(1);
        CheckPattern(rest[1]);
        ShowOrHide(files, rest[1], command == L"--SHOW", out, err);
    } else if (command == L"--SHOW-ALL" || command == L"--HIDE-ALL") {
        expect(0);
        SetPromoted(files, ReadEntries(files), command == L"--SHOW-ALL", out, err);
    } else if (command == L"--RULE") {
        expect(2);
        SetRule(files, rest[1], rest[2], out, err);
    } else if (command == L"--CHECK") {
        expect(0);
        return Check(files, out, err) ? kExitDone : kExitError;
    } else if (command == L"--POLICIES") {
        expect(0);
        PrintPolicies(out, err);
    } else if (command == L"--CLEANUP") {
        expect(1);
        Cleanup(files, rest[1], out, err);
    } else if (command == L"--ORDER") {
        if (operands > 1) {
            throw UsageError{L"Unexpected argument \"" + rest[2] + L"\"."};
        }
        if (operands == 1 && rest[1].empty()) {
            throw UsageError{L"--order needs a file name."};
        }
        Order(files, operands == 1 ? &rest[1] : nullptr, false, out, err);
    } else if (command == L"--ORDER-UNDO") {
        expect(0);
        Order(files, nullptr, true, out, err);
    } else if (command == L"--RESTART-EXPLORER") {
        expect(0);
        RestartExplorer(out);
    } else if (command == L"--EXPORT" || command == L"--IMPORT") {
        expect(1);
        if (rest[1].empty()) {
            throw UsageError{rest[0] + L" needs a file name."};
        }
        if (command == L"--EXPORT") {
            Export(files, rest[1], out);
        } else {
            Import(files, rest[1], out, err);
        }
    } else {
        throw UsageError{L"Unknown command \"" + rest[0] + L"\"."};
    }
    return kExitDone;
}

// Output for a process without a window: the handle it inherited when that
// is a file or a pipe (UTF-8), else the console it has or the one of the
// process that started it.
class ProcessSink : public TextSink {
public:
    explicit ProcessSink(DWORD standard)
    {
        HANDLE inherited = ::GetStdHandle(standard);
        if (inherited != nullptr && inherited != INVALID_HANDLE_VALUE) {
            handle_ = inherited;
            if (::GetFileType(inherited) == FILE_TYPE_CHAR) {
                // A console handle works once attached to its console; NUL
                // is a character device too and stays a file.
                DWORD mode = 0;
                console_ = ::GetConsoleMode(inherited, &mode) ||
                           (ParentConsoleAttached() && ::GetConsoleMode(inherited, &mode));
            }
            return;
        }
        if (ParentConsoleAttached()) {
            own_.reset(::CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     nullptr, OPEN_EXISTING, 0, nullptr));
            if (own_) {
                handle_ = own_.get();
                console_ = true;
            }
        }
    }

    void Write(std::wstring_view text) override
    {
        if (handle_ == nullptr || text.empty()) {
            return;
        }
        if (console_) {
            DWORD written = 0;
            ::WriteConsoleW(handle_, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
            return;
        }
        const std::string bytes = ToUtf8(text);
        DWORD written = 0;
        ::WriteFile(handle_, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    }

private:
    static bool ParentConsoleAttached()
    {
        static const bool attached = ::AttachConsole(ATTACH_PARENT_PROCESS) != FALSE;
        return attached;
    }

    HANDLE handle_ = nullptr;
    unique_file own_;
    bool console_ = false;
};

bool WindowRunning()
{
    // Opened, never created: a command must not keep a window from starting.
    unique_handle mutex(::OpenMutexW(SYNCHRONIZE, FALSE, std::wstring(kApplicationTitle).c_str()));
    return static_cast<bool>(mutex) || ::GetLastError() == ERROR_ACCESS_DENIED;
}

} // namespace

bool WildcardMatch(std::wstring_view pattern, std::wstring_view text)
{
    const std::wstring p = UpperInvariant(pattern);
    const std::wstring t = UpperInvariant(text);
    size_t pi = 0;
    size_t ti = 0;
    size_t star = std::wstring::npos;
    size_t resume = 0;
    while (ti < t.size()) {
        if (pi < p.size() && (p[pi] == L'?' || p[pi] == t[ti])) {
            ++pi;
            ++ti;
        } else if (pi < p.size() && p[pi] == L'*') {
            star = pi++;
            resume = ti;
        } else if (star != std::wstring::npos) {
            pi = star + 1;
            ti = ++resume;
        } else {
            return false;
        }
    }
    while (pi < p.size() && p[pi] == L'*') {
        ++pi;
    }
    return pi == p.size();
}

int Run(const std::vector<std::wstring>& arguments, const Files& files, TextSink& out, TextSink& err)
{
    try {
        return Dispatch(arguments, files, out, err);
    } catch (const UsageError& usage) {
        err.Write(usage.message + L"\r\nRun Merovane.exe --help for the commands.\r\n");
        return kExitUsage;
    } catch (const Error& error) {
        err.Write(error.message() + L"\r\n");
        return kExitError;
    } catch (const std::exception& error) {
        err.Write(FromUtf8(error.what()) + L"\r\n");
        return kExitError;
    }
}

std::optional<int> RunProcessCommandLine()
{
    int count = 0;
    LPWSTR* argv = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    const unique_hlocal owner(static_cast<HLOCAL>(argv));
    if (argv == nullptr || count <= 1) {
        return std::nullopt;
    }
    const std::vector<std::wstring> arguments(argv + 1, argv + count);

    // The shell functions that name entries and find their icons want COM.
    const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    ProcessSink out(STD_OUTPUT_HANDLE);
    ProcessSink err(STD_ERROR_HANDLE);
    int exitCode = kExitError;
    try {
        const LocalePaths paths = LocalePaths::ForProgram();
        const Files files{.settingsFile = paths.settingsFile,
                          .rulesFile = RulesPathBeside(paths.settingsFile),
                          .languageDirectory = paths.languageDirectory,
                          .windowRunning = WindowRunning()};
        exitCode = Run(arguments, files, out, err);
    } catch (const std::exception& error) {
        err.Write(FromUtf8(error.what()) + L"\r\n");
    }
    if (SUCCEEDED(com)) {
        ::CoUninitialize();
    }
    return exitCode;
}

} // namespace merovane::cli
