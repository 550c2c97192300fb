#pragma once

// Per-app rules: "always show" or "always hide" every notification-area entry
// of one app, kept in Rules.ini beside Option.ini.
//
// Windows makes a new entry for every new executable path, and many apps
// install each version into a folder of its own, so a rule names the app, not
// the entry. An app is known by
//   - the executable's file name, compared without regard to case;
//   - its company (the entry's publisher or the executable's CompanyName),
//     compared without regard to case, but only when both sides know one;
//   - its folder, compared loosely (LooseFolder): without regard to case, with
//     "Program Files (x86)" the same as "Program Files", and with every
//     version number in it the same as any other. A version is a dotted
//     number ("1.2.3.4", "120.0.6099.130") with an optional pre-release or
//     build suffix after "-" or "+" ("1.2.3-beta.1"), or "v" with a number
//     ("v12"), standing as a part of a folder name of its own: the whole
//     name, or after "-", "_", " " or "(" and before one of them, ")" or the
//     end. A bare number without dots counts only at the end of a folder
//     name ("jdk-17", "2022"), so "7-Zip" stays itself. So
//     "...\slack\app-4.29.149\slack.exe" and "...\slack\app-4.33.90\slack.exe"
//     are one app; "...\Google\Chrome\Application\120.0.6099.130\x.exe" and
//     "...\Application\121.0.6167.85\x.exe" are one app; "...\app-1.2.3\" and
//     "...\other-1.2.3\" are not, nor is "Office15" the same as "Office16";
// - or, for an entry that names its icon by GUID, by that GUID alone (the
//   system keys such icons by GUID over any path).
// Folders under the user's profile, the program-files folders and the Windows
// folder are kept as %LOCALAPPDATA%, %APPDATA%, %USERPROFILE%, %ProgramFiles%
// and %SystemRoot%, so rules exported on one machine match on another.
//
// A rule wins over the new-icon policy (TargetIsPromoted).

#include "base/error.h"
#include "base/ini_file.h"
#include "base/options.h"

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace merovane {

enum class RuleAction { Show, Hide };

struct AppIdentity {
    std::wstring fileName; // "slack.exe"
    std::wstring company;  // "" when unknown
    std::wstring folder;   // the executable's folder, with placeholders, no trailing "\"
    std::wstring iconGuid; // "{...}" for an entry that names its icon by GUID, else ""

    friend bool operator==(const AppIdentity&, const AppIdentity&) = default;
};

// A folder that identities write as a placeholder.
struct FolderPlaceholder {
    std::wstring placeholder; // "%LOCALAPPDATA%"
    std::wstring folder;      // "C:\Users\ann\AppData\Local"
};
// This machine's: local and roaming application data, the profile, both
// program-files folders (as %ProgramFiles%) and the Windows folder; longer
// folders first, so the most specific one is used.
const std::vector<FolderPlaceholder>& SystemFolderPlaceholders();
// The path with its leading folder replaced by the first placeholder whose
// folder it begins with (as a whole folder, without regard to case).
std::wstring WithFolderPlaceholder(std::wstring_view path, const std::vector<FolderPlaceholder>& placeholders);

// The app an entry belongs to, from its (normalised) executable path, its
// company and its icon GUID. Nothing for an entry with neither a path nor a
// GUID: there is no app to name.
std::optional<AppIdentity> IdentifyApp(std::wstring_view executablePath, std::wstring_view company,
                                       std::wstring_view iconGuid,
                                       const std::vector<FolderPlaceholder>& placeholders);
std::optional<AppIdentity> IdentifyApp(std::wstring_view executablePath, std::wstring_view company,
                                       std::wstring_view iconGuid);

// The folder in the form two folders of one app share: upper case, "\" as
// separator without a trailing one, "PROGRAM FILES (X86)" as "PROGRAM FILES",
// each version number (see above) as "<version>".
std::wstring LooseFolder(std::wstring_view folder);

bool SameApp(const AppIdentity& a, const AppIdentity& b);

struct AppRule {
    AppIdentity app;
    RuleAction action = RuleAction::Show;
    // Keys of the rule's section this version does not know, kept on save.
    std::vector<IniEntry> otherEntries;
};

// The rules as Rules.ini holds them: one section per rule, [Rule1], [Rule2],
// ..., with File, Company, Folder, IconGuid and Action (Show or Hide).
// Sections that are no rule this version understands (another name, another
// action, no File and no IconGuid) are kept as they are and written back. A
// section name that comes twice (a merged or hand-edited file) is two rules,
// numbered apart at the next save.
class AppRules {
public:
    // `file` as read with RepeatedSections::Separate, so that every section
    // is one rule.
    static AppRules FromIni(const IniFile& file);
    // UTF-8: the rules, then the sections kept.
    [[nodiscard]] IniFile ToIni() const;

    [[nodiscard]] const std::vector<AppRule>& Rules() const noexcept { return rules_; }
    [[nodiscard]] bool Empty() const noexcept { return rules_.empty(); }
    // The action of the first rule for the app, nothing when none.
    [[nodiscard]] std::optional<RuleAction> ActionFor(const AppIdentity& app) const;
    // Gives the app the action, or (nullopt) no rule. Rules of the same app
    // go; a rule already saying so stays as it is. True when this changed
    // something.
    bool Set(const AppIdentity& app, std::optional<RuleAction> action);

    friend bool operator==(const AppRules& a, const AppRules& b) { return a.ToIni().ToText() == b.ToIni().ToText(); }

private:
    std::vector<AppRule> rules_;
    std::vector<IniSection> otherSections_;
};

// Rules.ini in the folder of the settings file.
std::wstring RulesPathBeside(std::wstring_view settingsPath);

// For read-modify-write: a missing file has no rules; a file that can't be
// read, or does not decode cleanly, throws merovane::Error, so a save never
// replaces rules it failed to read.
AppRules LoadRules(const std::wstring& path);
// For applying the rules: what could be read, and why not everything.
struct RulesRead {
    AppRules rules;
    std::optional<Error> failure;
};
RulesRead ReadRules(const std::wstring& path) noexcept;
// Replaces the file atomically (IniFile::Save); throws merovane::Error.
void SaveRules(const AppRules& rules, const std::wstring& path);

// Rules.ini as a running program follows it: Refresh reads the file again
// when its last-write time, size or identity (volume and file index) moved
// since the last look, so a change made by the command line or by hand counts
// from then on. A missing file is no rules. A file that is there but can't be
// read (another program holds it open without sharing, as backup, sync and
// virus scanners do for a while) changes nothing: the rules of the last read
// stay, and the next Refresh tries again. A file that does not decode
// cleanly gives what could be read (ReadRules).
class RulesFileFollower {
public:
    explicit RulesFileFollower(std::wstring path) : path_(std::move(path)) {}

    // True when the rules differ from those held before.
    bool Refresh() noexcept;
    [[nodiscard]] const AppRules& Rules() const noexcept { return rules_; }
    [[nodiscard]] const std::wstring& Path() const noexcept { return path_; }
    // The last Refresh could not read the file; Rules() are older.
    [[nodiscard]] bool ReadFailed() const noexcept { return readFailed_; }

private:
    std::wstring path_;
    AppRules rules_;
    bool looked_ = false;
    bool readFailed_ = false;
    bool existed_ = false;
    FILETIME written_{};
    std::uint64_t size_ = 0;
    std::uint64_t index_ = 0;
    DWORD volume_ = 0;
};

// What an entry's IsPromoted should become: the value to write, or nothing
// when it is to be left as it is (also when it already has that value).
// `isPromoted` is the entry's value, nothing when it has none (a value of
// another type counts as none). A rule decides before the policy:
//   rule Show / Hide            shown / hidden
//   ShowAll / HideAll           shown / hidden
//   ShowNew                     shown, only when the entry has no value yet
//   LeaveToSystem, None         left alone
// A missing value already counts as hidden, so hiding writes nothing there.
std::optional<bool> TargetIsPromoted(NewIconPolicy policy, std::optional<RuleAction> rule,
                                     std::optional<bool> isPromoted);

// "Show" / "Hide", as Rules.ini writes them.
std::wstring_view RuleActionName(RuleAction action);
std::optional<RuleAction> ParseRuleAction(std::wstring_view text);

} // namespace merovane
