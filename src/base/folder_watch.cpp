#include "base/folder_watch.h"

#include "base/error.h"

#include <windows.h>

namespace merovane {

namespace {

using unique_change_notification = unique_any<HANDLE, &::FindCloseChangeNotification, kInvalidHandleValue>;

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

FolderWatch::FolderWatch() : stopEvent_(::CreateEventW(nullptr, TRUE, FALSE, nullptr))
{
    if (!stopEvent_) {
        ThrowLastError();
    }
}

FolderWatch::~FolderWatch()
{
    Stop();
}

void FolderWatch::Start(std::wstring folder, std::function<void()> onChange)
{
    Stop();
    folder_ = std::move(folder);
    onChange_ = std::move(onChange);
    stopping_ = false;
    ::ResetEvent(stopEvent_.get());
    thread_ = std::thread([this] { Run(); });
}

void FolderWatch::Stop()
{
    if (!Running()) {
        return;
    }
    stopping_ = true;
    ::SetEvent(stopEvent_.get());
    thread_.join();
}

void FolderWatch::Run() noexcept
{
    bool cameLater = false;
    while (!stopping_) {
        unique_change_notification change(::FindFirstChangeNotificationW(folder_.c_str(), FALSE, kFileChanges));
        const bool waitingForFolder = !change;
        if (waitingForFolder) {
            const DWORD error = ::GetLastError();
            const std::wstring parent =
                error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ParentFolder(folder_) : L"";
            if (!parent.empty()) {
                change.reset(::FindFirstChangeNotificationW(parent.c_str(), FALSE, FILE_NOTIFY_CHANGE_DIR_NAME));
            }
            if (!change) {
                ::WaitForSingleObject(stopEvent_.get(), INFINITE); // nothing to watch here
                return;
            }
            cameLater = true;
            // Created between the two calls: the watch above would not see it.
            if (::GetFileAttributesW(folder_.c_str()) != INVALID_FILE_ATTRIBUTES) {
                continue;
            }
        } else if (cameLater) {
            cameLater = false;
            onChange_();
        }
        for (;;) {
            const HANDLE events[] = {stopEvent_.get(), change.get()};
            const DWORD signalled = ::WaitForMultipleObjects(2, events, FALSE, INFINITE);
            if (signalled != WAIT_OBJECT_0 + 1) {
                return; // stopped, or waiting failed
            }
            if (waitingForFolder) {
                break; // a folder came or went above: try the folder again
            }
            // Armed again before the callback, so no change goes unseen.
            if (!::FindNextChangeNotification(change.get())) {
                onChange_();
                break; // the folder is gone
            }
            onChange_();
        }
    }
}

} // namespace merovane
