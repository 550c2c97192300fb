#pragma once

// Window messages of the program's own.

#include <windows.h>

namespace merovane::ui {

// The notification-area icon reports mouse events with this message.
inline constexpr UINT WM_APP_TRAYICON = WM_APP + 1;

} // namespace merovane::ui
