/* Waits until a visible top-level window of the given class exists.
 *   wait_window.exe CLASS SECONDS
 * Exit code 0 when it appeared, 1 when the time ran out, 2 on bad arguments.
 * The run script uses it to see the program's main window inside Wine's
 * virtual desktop, where the windows are not X windows of their own. */
#include <windows.h>
#include <stdlib.h>

int wmain(int argc, wchar_t** argv)
{
    if (argc != 3) {
        return 2;
    }
    const DWORD end = GetTickCount() + (DWORD)_wtoi(argv[2]) * 1000u;
    for (;;) {
        HWND window = FindWindowW(argv[1], NULL);
        if (window != NULL && IsWindowVisible(window)) {
            return 0;
        }
        if ((LONG)(GetTickCount() - end) >= 0) {
            return 1;
        }
        Sleep(200);
    }
}
