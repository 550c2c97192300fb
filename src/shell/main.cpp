#include "base/error.h"
#include "cli/command_line.h"
#include "shell/program.h"
#include "ui/application.h"
#include "base/startup.h"

#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    // Arguments are a command, run without a window, beside a running one too.
    if (const std::optional<int> exitCode = merovane::cli::RunProcessCommandLine()) {
        return *exitCode;
    }
    if (merovane::IsAnotherInstanceRunning()) {
        merovane::ActivateRunningInstance();
        return 0;
    }
    // The shell functions used here (known folders, ShellExecute) want COM.
    const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&controls);

    int exitCode = 0;
    try {
        merovane::Program program(&merovane::LocalePaths::ForProgram);
        program.Start();
        exitCode = program.Run();
    } catch (const merovane::Error& error) {
        // Only the start-up can get here: every event handler catches its own.
        merovane::ui::application::ShowError(error.message());
        exitCode = 1;
    } catch (const std::exception& error) {
        merovane::ui::application::ShowError(merovane::FromUtf8(error.what()));
        exitCode = 1;
    }
    if (SUCCEEDED(com)) {
        ::CoUninitialize();
    }
    return exitCode;
}
