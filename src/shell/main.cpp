#include "shell/program.h"
#include "shell/startup.h"

#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    if (merovane::IsAnotherInstanceRunning()) {
        return 0;
    }
    // The shell functions used here (known folders, ShellExecute) want COM.
    const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&controls);

    int exitCode = 0;
    {
        merovane::Program program(&merovane::LocalePaths::ForProgram);
        program.Start();
        exitCode = program.Run();
    }
    if (SUCCEEDED(com)) {
        ::CoUninitialize();
    }
    return exitCode;
}
