#pragma once

// Tells when files in one folder come, go or are written, without polling:
// the program's waiting thread (base/shared_wait.h) sleeps on the system's
// change notification for the folder and calls back after each change. A
// folder that does not exist yet is waited for in the folder above it; the
// callback then runs once, for what may have been written into the new
// folder meanwhile.

#include "base/handles.h"
#include "base/shared_wait.h"

#include <functional>
#include <string>

namespace merovane {

class FolderWatch : private SharedWait::Client {
public:
    FolderWatch();
    ~FolderWatch() override; // stops watching
    FolderWatch(const FolderWatch&) = delete;
    FolderWatch& operator=(const FolderWatch&) = delete;

    // Watches `folder` (no trailing "\") from now on, in place of what was
    // watched before. `onChange` runs on the waiting thread; it must be
    // quick and must not throw. A burst of changes calls it a few times.
    void Start(std::wstring folder, std::function<void()> onChange);
    // Nothing is called back once it returns.
    void Stop();
    [[nodiscard]] bool Running() const noexcept { return running_; }
    [[nodiscard]] const std::wstring& Folder() const noexcept { return folder_; }

private:
    using unique_change_notification = unique_any<HANDLE, &::FindCloseChangeNotification, kInvalidHandleValue>;

    SharedWait::Wanted Arm() noexcept override;
    void Signalled(int index) noexcept override;

    std::wstring folder_;
    std::function<void()> onChange_;
    bool running_ = false;
    // The waiting thread's own from Start to Stop:
    unique_change_notification change_;
    bool waitingForFolder_ = false; // change_ watches the folder above
    bool cameLater_ = false;
};

} // namespace merovane
