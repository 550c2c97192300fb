#pragma once

// The command line: Merovane.exe with arguments does one job without a window
// and exits. It works beside a running window (the single-instance rule is the
// window's), which sees registry changes as they happen.
//
//   --list [--json]            every entry: shown|hidden, name, company, path,
//                              key, tab-separated, one line each (UTF-8); or a
//                              JSON array of objects with those fields
//   --show PATTERN             IsPromoted = 1 / 0 for the entries whose file
//   --hide PATTERN             name, name or key matches; prints the entries
//                              that changed, as --list does
//   --show-all, --hide-all     every entry; prints the entries that changed
//   --rule show|hide|none PATTERN
//                              the rule of the apps of the matching entries
//                              (none also removes rules whose file name
//                              matches); prints "rule", the action, file name,
//                              company and folder of each rule that changed,
//                              then the entries the rule changed
//   --cleanup duplicates|missing
//                              deletes older duplicate entries / entries whose
//                              program is gone; prints "deleted" and the
//                              entry's fields for each
//   --order                    the icons' order as Explorer keeps it
//                              (UIOrderList): key and name, first icon first
//   --order FILE               the icons whose keys FILE lists (one a line,
//                              as --order prints) first, the others after
//                              them as they were; the value before is kept
//   --order-undo               puts the kept value back
//   --restart-explorer         restarts the shell, which shows deletions and
//                              a new order only then
//   --check                    the entries that do not follow the rules and
//                              the new-icon policy in force (the
//                              organisation's rule, the user's rule, the
//                              organisation's policy, the user's), as --list
//                              prints them; exit code 1 when there are any
//   --policies                 what the organisation sets (base/policies.h):
//                              value name and what it says, one a line
//   --export FILE              the options (Option.ini) and the rules
//   --import FILE              (Rules.ini) to or from one file
//   --help                     usage
//
// Patterns: "*" any run of characters, "?" one character, without regard to
// case, matched against the whole text. Exit codes: 0 done, 1 an error (the
// message on standard error; what was printed before it did happen), 2 bad
// usage (nothing changed). What the organisation sets is refused with exit
// code 1: a rule of an app it has a rule for, an entry it holds shown or
// hidden.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace merovane::cli {

inline constexpr int kExitDone = 0;
inline constexpr int kExitError = 1;
inline constexpr int kExitUsage = 2;

// Where a command writes its output or its errors.
class TextSink {
public:
    virtual ~TextSink() = default;
    virtual void Write(std::wstring_view text) = 0;
};

// The files a command reads and writes.
struct Files {
    std::wstring settingsFile;      // Option.ini
    std::wstring rulesFile;         // Rules.ini
    std::wstring languageDirectory; // with a trailing backslash; names GUID entries for --list
    // Whether the window runs; an import then says that the window keeps the
    // options it holds.
    bool windowRunning = false;
};

// Runs one command line (without the program's name).
int Run(const std::vector<std::wstring>& arguments, const Files& files, TextSink& out, TextSink& err);

// For the program's entry point: nothing when the process got no arguments
// (the window starts). Otherwise runs them against the program's own files
// with the process's standard output and error (or the console of the
// process that started it) and gives the exit code.
std::optional<int> RunProcessCommandLine();

// "*" and "?" wildcards, without regard to case, over the whole text.
bool WildcardMatch(std::wstring_view pattern, std::wstring_view text);

} // namespace merovane::cli
