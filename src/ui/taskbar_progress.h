#pragma once

// The progress a window's taskbar button shows (ITaskbarList3). Where the
// shell has no taskbar list the calls do nothing.

#include "ui/com_ptr.h"

#include <windows.h>
#include <shobjidl.h>

#include <cstdint>

namespace merovane::ui {

class TaskbarProgress {
public:
    TaskbarProgress() = default;

    // `completed` of `total` on the buttons of the windows given (nullptr
    // ones skipped); a total of 0 shows the bar without a value.
    void Show(HWND window, HWND owner, std::uint64_t completed, std::uint64_t total) noexcept;
    // No progress on those buttons any more.
    void Clear(HWND window, HWND owner) noexcept;

private:
    bool Ready() noexcept;

    com_ptr<ITaskbarList3> list_;
    bool tried_ = false;
};

} // namespace merovane::ui
