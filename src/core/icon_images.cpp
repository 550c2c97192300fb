#include "core/icon_images.h"

#include "core/icon_list.h"

#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

namespace merovane {

int SystemIconIndexFor(const std::wstring& path, bool fileExists)
{
    SHFILEINFOW info{};
    if (fileExists) {
        ::SHGetFileInfoW(UnredirectedPath(path).c_str(), 0, &info, sizeof(info), SHGFI_SYSICONINDEX);
    } else {
        // By the name alone: nothing is looked for on the disk.
        const std::wstring name = path.empty() ? std::wstring(L"program.exe") : path;
        ::SHGetFileInfoW(name.c_str(), FILE_ATTRIBUTE_NORMAL, &info, sizeof(info),
                         SHGFI_SYSICONINDEX | SHGFI_USEFILEATTRIBUTES);
    }
    return info.iIcon;
}

IconImageCache::IconImageCache(std::function<void()> onResolved) : onResolved_(std::move(onResolved)) {}

IconImageCache::~IconImageCache()
{
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (worker_.joinable()) {
        worker_.join();
    }
}

std::optional<int> IconImageCache::Find(const std::wstring& path, bool fileExists)
{
    {
        const std::lock_guard lock(mutex_);
        if (const auto known = known_.find(path); known != known_.end()) {
            return known->second >= 0 ? std::optional<int>(known->second) : std::nullopt;
        }
        known_.emplace(path, -1);
        queue_.emplace_back(path, fileExists);
    }
    // Started by the first question, so a program that never shows its list
    // has no worker.
    if (!worker_.joinable()) {
        worker_ = std::thread([this] { Run(); });
    }
    wake_.notify_one();
    return std::nullopt;
}

void IconImageCache::Run() noexcept
{
    // The shell wants COM on the threads that ask it.
    const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    for (;;) {
        std::pair<std::wstring, bool> request;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
            if (stopping_) {
                break;
            }
            request = std::move(queue_.front());
            queue_.pop_front();
        }
        int index = 0;
        try {
            index = SystemIconIndexFor(request.first, request.second);
        } catch (...) {
            index = 0; // no memory for the path: the list's first image
        }
        bool more = false;
        {
            const std::lock_guard lock(mutex_);
            known_[request.first] = index < 0 ? 0 : index;
            more = !queue_.empty();
        }
        if (!more && onResolved_) {
            onResolved_();
        }
    }
    if (SUCCEEDED(com)) {
        ::CoUninitialize();
    }
}

} // namespace merovane
