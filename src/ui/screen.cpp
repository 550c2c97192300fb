#include "ui/screen.h"

namespace merovane::ui {

void CentreOnWorkArea(HWND window)
{
    RECT rect;
    ::GetWindowRect(window, &rect);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof(monitor);
    ::GetMonitorInfoW(::MonitorFromWindow(window, MONITOR_DEFAULTTOPRIMARY), &monitor);
    const RECT& work = monitor.rcWork;
    ::SetWindowPos(window, nullptr, work.left + (work.right - work.left - (rect.right - rect.left)) / 2,
                   work.top + (work.bottom - work.top - (rect.bottom - rect.top)) / 2, 0, 0,
                   SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

} // namespace merovane::ui
