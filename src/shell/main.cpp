#include <windows.h>

// The windows arrive with the start-up code; until then the program starts and
// ends at once.
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    return 0;
}
