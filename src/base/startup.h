#pragma once

// Start-up facts: one instance per logon (and how a second start reaches the
// first), the Windows 11 test, and the program's own version texts.

#include <windows.h>

#include "base/file_info.h"

#include <string>

namespace merovane {

// Opens the named mutex "Merovane"; when it exists another instance owns it.
// Otherwise creates it and keeps it for the life of the process. A mutex that
// exists but can't be opened (an elevated copy made it) counts as another
// instance too.
bool IsAnotherInstanceRunning();

// The registered message a second start posts to the running copy's main
// window, which then shows itself.
UINT ActivationMessage();
// Marks the main window so that a second start can find it among the windows
// of other programs (whose classes may well be called TForm1 too).
void MarkAsMainWindow(HWND window);
// The activation message's wParam when the second start was an update's
// helper that gave up; lParam then holds the system's code.
inline constexpr WPARAM kActivationUpdateFailed = 1;
// Asks the running copy to show its main window, and lets it come to the
// front. False when no marked window was found.
bool ActivateRunningInstance(WPARAM wParam = 0, LPARAM lParam = 0);

// Major version 10 and build 22000 or later.
bool IsWindows11Version(DWORD major, DWORD build);
// The version the system reports to this program (RtlGetVersion).
bool IsWindows11();

// "(64-bit)" or "(32-bit)": the bitness of this build.
std::wstring ArchitectureLabel();
// The file version of the running executable, e.g. "1.0.0.0".
std::wstring ProgramVersionText();
// The main window's caption: title, version, bitness, and " Portable".
std::wstring MainWindowCaption(std::wstring_view designed, std::wstring_view version, std::wstring_view architecture,
                               bool portable);

} // namespace merovane
