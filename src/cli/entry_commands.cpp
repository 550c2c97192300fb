#include "cli/commands.h"

#include "base/error.h"
#include "base/ini_file.h"
#include "base/locale_paths.h"
#include "base/options.h"
#include "base/policies.h"
#include "base/settings_file.h"
#include "base/text_case.h"
#include "core/app_rules.h"
#include "core/icon_list.h"
#include "core/organisation_rules.h"
#include "core/promotion_pass.h"
#include "core/tray_actions.h"

#include <windows.h>

#include <algorithm>
#include <cwchar>
#include <memory>
#include <set>

namespace merovane::cli {

namespace {

constexpr std::wstring_view kAfterExplorerRestart =
    L"Windows' own settings list deleted entries until Explorer restarts (Merovane.exe --restart-explorer).\r\n";

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

// Prints what a change of shown / hidden did, then fails when a write failed
// or the organisation held entries at the other state.
void Report(const ShownChange& change, bool shown, TextSink& out, TextSink& err)
{
    for (const IconEntry& entry : change.changed) {
        out.Write(EntryLine(StateName(entry.promoted), entry));
    }
    for (const IconEntry& entry : change.refused) {
        err.Write(EntryLine(L"set by your organisation", entry));
    }
    if (change.failure) {
        throw *change.failure;
    }
    if (!change.refused.empty()) {
        throw Error(ERROR_ACCESS_DENIED, std::to_wstring(change.refused.size()) + L" entries are " +
                                             std::wstring(shown ? L"hidden" : L"shown") +
                                             L" by your organisation's policy and were not changed.");
    }
}

// Shows or hides the entries where they differ. An entry deleted meanwhile
// is skipped. Entries the organisation holds at the other value are left and
// named; the command then fails.
void SetShown(const Files& files, const std::vector<IconEntry>& entries, bool shown, TextSink& out, TextSink& err)
{
    const OrganisationPolicy organisation = ReadOrganisationPolicy(err);
    const AppRules userRules = organisation.Empty() ? AppRules() : LoadRulesNamed(files.rulesFile);
    Report(SetShownWhereDifferent(entries, shown, organisation, userRules), shown, out, err);
}

std::wstring RuleLine(std::wstring_view action, const AppIdentity& app)
{
    return Line({L"rule", action, app.fileName.empty() ? app.iconGuid : app.fileName, app.company, app.folder});
}

IniFile LoadSettingsNamed(const std::wstring& path)
{
    try {
        return LoadSettings(path);
    } catch (const Error& error) {
        throw InContext(L"Could not read \"" + path + L"\".", error);
    }
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

} // namespace

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

void ShowOrHide(const Files& files, std::wstring_view pattern, bool shown, TextSink& out, TextSink& err)
{
    const std::vector<IconEntry> matching = MatchingEntries(pattern, ReadEntries(files));
    if (matching.empty()) {
        throw NoMatch(pattern);
    }
    SetShown(files, matching, shown, out, err);
}

void ShowOrHideAll(const Files& files, bool shown, TextSink& out, TextSink& err)
{
    SetShown(files, ReadEntries(files), shown, out, err);
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
    try {
        changed = SetRuleForApps(rules, apps, action, files.rulesFile);
    } catch (const Error& error) {
        throw InContext(L"Could not write \"" + files.rulesFile + L"\"; no rule was changed.", error);
    }
    for (const AppIdentity& app : changed) {
        out.Write(RuleLine(action ? (*action == RuleAction::Show ? L"show" : L"hide") : L"none", app));
    }
    if (action) {
        // The rule holds from now on: entries of these apps follow it at once.
        Report(ApplyRuleToEntries(entries, apps, *action), *action == RuleAction::Show, out, err);
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
    const std::vector<std::wstring> deleted = duplicates ? CleanUpDuplicates() : CleanUpMissingPrograms(before);
    if (deleted.empty()) {
        return;
    }
    const std::set<std::wstring, std::less<>> gone(deleted.begin(), deleted.end());
    for (const IconEntry& entry : before) {
        if (gone.contains(entry.keyName)) {
            out.Write(EntryLine(L"deleted", entry));
        }
    }
    err.Write(kAfterExplorerRestart);
}

} // namespace merovane::cli
