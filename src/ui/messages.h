#pragma once

// Window messages of the program's own.

#include <windows.h>

namespace merovane::ui {

// The notification-area icon reports mouse events with this message.
inline constexpr UINT WM_APP_TRAYICON = WM_APP + 1;
// The main window reloads its list: posted where a reload at once would pull
// the rows from under a running notification.
inline constexpr UINT WM_APP_RELOADLIST = WM_APP + 2;
// An update check's worker has its answer; wParam tells which check.
inline constexpr UINT WM_APP_UPDATECHECKED = WM_APP + 3;
// The update dialog starts the download once it is on screen.
inline constexpr UINT WM_APP_QUICKSTART = WM_APP + 4;
// A package download has progressed: wParam bytes so far, lParam the total.
inline constexpr UINT WM_APP_DOWNLOADPROGRESS = WM_APP + 5;
// A package download has ended; its result waits in the downloader.
inline constexpr UINT WM_APP_DOWNLOADDONE = WM_APP + 6;
// A pass of the refresh worker failed; the error waits in the main window.
inline constexpr UINT WM_APP_REFRESHFAILED = WM_APP + 7;
// Row icons have arrived from their worker.
inline constexpr UINT WM_APP_ICONSREADY = WM_APP + 8;
// Something in the settings folder changed: Rules.ini may say something new.
inline constexpr UINT WM_APP_RULESFOLDERCHANGED = WM_APP + 9;
// The rows' texts from their files have arrived from their worker.
inline constexpr UINT WM_APP_ENTRYTEXTS = WM_APP + 10;
// The main window saves the options and ends the program, once the handler
// that asked for it has returned.
inline constexpr UINT WM_APP_EXITPROGRAM = WM_APP + 16;

} // namespace merovane::ui
