#pragma once

// Autostart: the per-user Run value that starts the program at logon, and the
// removal of any scheduled task of the program's name, so that the Run value
// is the one thing that does. The program never creates a task.

#include <string>
#include <string_view>

namespace merovane {

inline constexpr std::wstring_view kRunKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";

// The Run value's text for an executable: the path in double quotes, since a
// path with blanks unquoted could start another program.
std::wstring AutoStartCommand(std::wstring_view executablePath);

// Whether a Run value's text starts this executable: the quoted or the
// unquoted path, exact and case-sensitive. An empty path matches nothing.
bool IsAutoStartCommandFor(std::wstring_view runValue, std::wstring_view executablePath);

// Whether the Run value named like the program starts `executablePath`.
// False when the value is missing or is not a string (REG_SZ or REG_EXPAND_SZ,
// compared unexpanded): the box then shows unchecked and the value is left
// alone. Reports no error.
bool CheckAutoStart(std::wstring_view executablePath);

// Writes (true) or deletes (false) the Run value. A failed write, or a Run key
// that can't be opened for it, throws merovane::Error; deleting is silent
// whether or not the value was there.
void CreateAutoStart(bool enabled, std::wstring_view executablePath);

// Full path of the Task Scheduler's tool in the system folder. Never the bare
// name: a search would find a schtasks.exe beside the program or in the
// current folder first.
std::wstring SchtasksPath();

// With false, asks `program` (a full path; the Task Scheduler's tool when
// not given) to delete the task of that name and ignores the outcome. True
// does nothing.
void CreateScheduledTask(bool enabled, std::wstring_view taskName);
void CreateScheduledTask(bool enabled, std::wstring_view taskName, std::wstring_view program);

// Runs the program at the full path `program` with `parameters`, its window
// hidden, and waits for it without limit. The command line is the quoted path,
// a blank and the parameters. The exit code, or -1 when the process did not
// start; a path that is not a full one starts nothing, since it would be
// looked up in the current folder.
int RunHiddenAndWait(std::wstring_view program, std::wstring_view parameters);

// What a click on the autostart box does: remove the scheduled task, then
// write or delete the Run value. Throws as CreateAutoStart does.
void ApplyAutoStart(bool checked, std::wstring_view executablePath, std::wstring_view taskName);
void ApplyAutoStart(bool checked, std::wstring_view executablePath, std::wstring_view taskName,
                    std::wstring_view schtasks);

} // namespace merovane
