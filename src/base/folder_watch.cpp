#include "base/folder_watch.h"

#include "base/error.h"

#include <windows.h>

namespace merovane {

namespace {

// A save replaces the file by renaming a temporary one over it; a hand edit
// writes in place.
constexpr DWORD kFileChanges = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_LAST_WRITE | FILE_NOTIFY_CHANGE_SIZE;

std::wstring ParentFolder(const std::wstring& folder)
{
    const size_t separator = folder.find_last_of(L"\\/");
    if (separator == std::wstring::npos || separator == 0) {
        return {};
    }
    // "C:\" keeps its separator: "C:" alone is the drive's current folder.
    return folder.substr(0, separator > 0 && folder[separator - 1] == L':' ? separator + 1 : separator);
}

} // namespace

FolderWatch::FolderWatch() = default;

FolderWatch::~FolderWatch()
{
    Stop();
}

void FolderWatch::Start(std::wstring folder, std::function<void()> onChange)
{
    Stop();
    folder_ = std::move(folder);
    onChange_ = std::move(onChange);
    cameLater_ = false;
    running_ = SharedWait::Add(*this);
}

void FolderWatch::Stop()
{
    if (!running_) {
        return;
    }
    SharedWait::Remove(*this);
    running_ = false;
    change_.reset();
}

SharedWait::Wanted FolderWatch::Arm() noexcept
{
    while (!change_) {
        change_.reset(::FindFirstChangeNotificationW(folder_.c_str(), FALSE, kFileChanges));
        if (change_) {
            waitingForFolder_ = false;
            if (cameLater_) {
                cameLater_ = false;
                onChange_();
            }
            break;
        }
        const DWORD error = ::GetLastError();
        const std::wstring parent =
            error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ParentFolder(folder_) : L"";
        if (!parent.empty()) {
            change_.reset(::FindFirstChangeNotificationW(parent.c_str(), FALSE, FILE_NOTIFY_CHANGE_DIR_NAME));
        }
        if (!change_) {
            return {}; // nothing to watch here
        }
        waitingForFolder_ = true;
        cameLater_ = true;
        // Created between the two calls: the watch above would not see it.
        if (::GetFileAttributesW(folder_.c_str()) != INVALID_FILE_ATTRIBUTES) {
            change_.reset();
            continue;
        }
        break;
    }
    return {{change_.get()}, INFINITE};
}

void FolderWatch::Signalled(int) noexcept
{
    if (waitingForFolder_) {
        change_.reset(); // a folder came or went above: try the folder again
        return;
    }
    // Armed again before the callback, so no change goes unseen.
    if (!::FindNextChangeNotification(change_.get())) {
        change_.reset(); // the folder is gone
    }
    onChange_();
}

} // namespace merovane
