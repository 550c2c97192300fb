#pragma once

// The user's light/dark preferences as Windows keeps them. Both readers report
// no error: anything but the one expected DWORD reads as false.

namespace merovane {

// True only when "AppsUseLightTheme" is the DWORD 0.
bool IsAppsDarkTheme();
// True only when "SystemUsesLightTheme" (taskbar and Start) is the DWORD 1.
bool IsSystemLightTheme();

} // namespace merovane
