#pragma once

// Where windows go on the screen.

#include <windows.h>

namespace merovane::ui {

// Moves a window, keeping its size, to the middle of the work area (the
// monitor less the taskbar) of the monitor it is on, or of the primary
// monitor when it is on none.
void CentreOnWorkArea(HWND window);

} // namespace merovane::ui
