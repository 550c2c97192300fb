#pragma once

// The rows' icons: indices in the shell's system image list, found on a
// worker thread so that the list shows at once and asks only for the rows on
// screen. Each executable path is asked about once for the program's life.

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>

namespace merovane {

// The shell's answer for one path: the file's own icon when it exists, the
// icon of its file type when it is missing (without looking for it), and the
// generic program icon for no path at all.
int SystemIconIndexFor(const std::wstring& path, bool fileExists);

class IconImageCache {
public:
    // `onResolved` runs on the worker when answers have arrived and no more
    // are waiting; the owner posts itself a message and redraws.
    explicit IconImageCache(std::function<void()> onResolved);
    ~IconImageCache(); // stops the worker
    IconImageCache(const IconImageCache&) = delete;
    IconImageCache& operator=(const IconImageCache&) = delete;

    // The index when it is known; otherwise the path is queued (once) and
    // nothing is returned yet.
    std::optional<int> Find(const std::wstring& path, bool fileExists);

private:
    void Run() noexcept;

    std::function<void()> onResolved_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::unordered_map<std::wstring, int> known_; // -1 while asked for; guarded
    std::deque<std::pair<std::wstring, bool>> queue_; // guarded
    bool stopping_ = false;                           // guarded
    std::thread worker_;
};

} // namespace merovane
