#pragma once

// Tells when files in one folder come, go or are written, without polling: a
// thread of its own sleeps on the system's change notification for the
// folder and calls back after each change. A folder that does not exist yet
// is waited for in the folder above it; the callback then runs once, for
// what may have been written into the new folder meanwhile.

#include "base/handles.h"

#include <atomic>
#include <functional>
#include <string>
#include <thread>

namespace merovane {

class FolderWatch {
public:
    FolderWatch();
    ~FolderWatch(); // stops the thread
    FolderWatch(const FolderWatch&) = delete;
    FolderWatch& operator=(const FolderWatch&) = delete;

    // Watches `folder` (no trailing "\") from now on, in place of what was
    // watched before. `onChange` runs on the watch's thread; it must be
    // quick and must not throw. A burst of changes calls it a few times.
    void Start(std::wstring folder, std::function<void()> onChange);
    // Ends the thread and waits for it; nothing is called back afterwards.
    void Stop();
    [[nodiscard]] bool Running() const noexcept { return thread_.joinable(); }
    [[nodiscard]] const std::wstring& Folder() const noexcept { return folder_; }

private:
    void Run() noexcept;

    std::wstring folder_;
    std::function<void()> onChange_;
    unique_handle stopEvent_;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

} // namespace merovane
