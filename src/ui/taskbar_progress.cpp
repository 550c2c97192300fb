#include "ui/taskbar_progress.h"

namespace merovane::ui {

bool TaskbarProgress::Ready() noexcept
{
    if (!tried_) {
        tried_ = true;
        if (FAILED(::CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskbarList3,
                                      list_.put_void())) ||
            !list_ || FAILED(list_->HrInit())) {
            list_.reset();
        }
    }
    return static_cast<bool>(list_);
}

void TaskbarProgress::Show(HWND window, HWND owner, std::uint64_t completed, std::uint64_t total) noexcept
{
    if (!Ready()) {
        return;
    }
    for (HWND button : {window, owner}) {
        if (button == nullptr) {
            continue;
        }
        if (total == 0) {
            list_->SetProgressState(button, TBPF_INDETERMINATE);
        } else {
            list_->SetProgressState(button, TBPF_NORMAL);
            list_->SetProgressValue(button, completed < total ? completed : total, total);
        }
    }
}

void TaskbarProgress::Clear(HWND window, HWND owner) noexcept
{
    if (!Ready()) {
        return;
    }
    for (HWND button : {window, owner}) {
        if (button != nullptr) {
            list_->SetProgressState(button, TBPF_NOPROGRESS);
        }
    }
}

} // namespace merovane::ui
