#pragma once

// Restarting Explorer, the shell. Explorer reads the notification area's
// entries and their order only when it starts, so a deleted entry leaves
// Windows' own settings, and a new order shows, once it has restarted.
//
// The restart goes the way Windows' own tools do it: through the Restart
// Manager, which asks Explorer to close, lets it register its open folder
// windows, and starts it again. When that does not end it or bring it back,
// the process is ended and started again by its full path, unless the system
// already brought a new one up (Windows restarts a shell that ended on its
// own), so there are never two.

#include <windows.h>

#include <chrono>
#include <optional>
#include <string>

namespace merovane {

struct ShellProcess {
    DWORD id = 0;
    std::wstring image; // full path of its executable
};

// The process of the shell's desktop window (or of the taskbar) when it runs
// the Windows folder's explorer.exe, else nothing.
std::optional<ShellProcess> FindShellProcess();

enum class ShellRestartOutcome {
    Restarted,       // the Restart Manager ended and restarted it
    RestartedDirectly, // ended and started again without it
    Failed,          // `error` says why; a shell that could not be ended runs on
};

struct ShellRestart {
    ShellRestartOutcome outcome = ShellRestartOutcome::Failed;
    DWORD error = ERROR_SUCCESS;
};

// Ends the process and makes sure one process of its image runs again, waiting
// up to `timeout` for each step. `image` is started by its full path.
ShellRestart RestartShell(const ShellProcess& shell,
                          std::chrono::milliseconds timeout = std::chrono::milliseconds(10'000));

// A process other than `except` running the executable at `image` (letter
// case ignored), or 0.
DWORD FindProcessByImage(const std::wstring& image, DWORD except = 0);

} // namespace merovane
