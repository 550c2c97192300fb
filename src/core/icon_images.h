#pragma once

// The rows' icons, found on a worker thread so that the list shows at once and
// asks only for the rows on screen. A program's entry shows the picture the
// notification area last drew for it (its IconSnapshot PNG) when that decodes;
// every other row shows the shell's icon for its executable, asked about once
// per path for the program's life. A program's picture is read once per entry
// for the program's life. The pictures go into two image lists of
// the system's small and large icon sizes, owned here, with the same index in
// both.

#include "base/handles.h"

#include <windows.h>
#include <commctrl.h>

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

namespace merovane {

struct IconEntry;

using unique_owned_image_list = unique_any<HIMAGELIST, &::ImageList_Destroy>;

// Snapshots larger than this are not read, and pictures larger than this on
// a side are not decoded: the notification area stores 32 x 32 to 128 x 128.
inline constexpr std::uint32_t kMaxIconSnapshotBytes = 1024 * 1024;
inline constexpr unsigned kMaxIconSnapshotSide = 256;

// The shell's answer for one path: the file's own icon when it exists, the
// icon of its file type when it is missing (without looking for it), and the
// generic program icon for no path at all.
int SystemIconIndexFor(const std::wstring& path, bool fileExists);

// The IconSnapshot bytes of the entry with this subkey name; empty when the
// value is missing, not binary, empty or larger than kMaxIconSnapshotBytes.
std::vector<std::uint8_t> ReadIconSnapshot(std::wstring_view keyName);

// Width and height as a PNG's header gives them: the signature, then an
// IHDR chunk of 13 bytes. Nothing when the bytes do not begin so or a side
// is 0 or beyond 2^31 - 1, which no PNG may have.
struct PngDimensions {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    friend bool operator==(const PngDimensions&, const PngDimensions&) = default;
};
std::optional<PngDimensions> ReadPngDimensions(const std::uint8_t* data, std::size_t size);

// An icon of side x side pixels made from PNG bytes; null when they are no
// PNG, are damaged, or the picture is larger than kMaxIconSnapshotSide on a
// side, which its header tells before any decoder is asked. The calling
// thread has COM initialised.
unique_hicon IconFromPng(const std::uint8_t* data, std::size_t size, int side);

// Whether the row's picture may come from its snapshot: a program's entry,
// whose snapshot the worker reads when the row shows. The system's own icons
// store only a placeholder glyph there.
bool UsesIconSnapshot(const IconEntry& entry) noexcept;

class IconImageCache {
public:
    // `onResolved` runs on the worker when answers have arrived and no more
    // are waiting; the owner posts itself a message and redraws.
    explicit IconImageCache(std::function<void()> onResolved);
    ~IconImageCache(); // stops the worker, frees the image lists
    IconImageCache(const IconImageCache&) = delete;
    IconImageCache& operator=(const IconImageCache&) = delete;

    // The image list of the system's small or large icon size, made on first
    // use. For the thread that owns the list view, like Find.
    HIMAGELIST Images(bool large);

    // The row's image index when its picture has arrived (it is then put into
    // both image lists); otherwise its source is queued (once) and nothing is
    // returned yet.
    std::optional<int> Find(const IconEntry& entry);

private:
    struct Request {
        std::wstring cacheKey;
        std::wstring path;
        bool fileExists = false;
        std::wstring snapshotKey; // the subkey to read IconSnapshot from, or ""
    };
    struct Answer {
        int systemIndex = 0;     // when there are no icons
        unique_hicon small;
        unique_hicon large;
        std::wstring path;       // the shell's icon is shared by the rows of a path
    };

    void Run() noexcept;
    Answer Resolve(const Request& request) noexcept;
    int AddToImages(Answer& answer);

    std::function<void()> onResolved_;
    // The list view's thread only.
    unique_owned_image_list small_;
    unique_owned_image_list large_;
    int smallSide_ = 16;
    int largeSide_ = 32;
    static constexpr int kAskedFor = -1;
    static constexpr int kNothingToShow = -2;
    std::unordered_map<std::wstring, int> known_; // an index, kAskedFor or kNothingToShow
    // Shared with the worker.
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Request> queue_;                      // guarded
    std::unordered_map<std::wstring, Answer> arrived_; // guarded
    bool stopping_ = false;                          // guarded
    std::thread worker_;
    // The worker only: the shell's answer for each path it was asked about.
    std::unordered_map<std::wstring, int> systemIndices_;
};

} // namespace merovane
