#include "core/icon_images.h"

#include "core/icon_list.h"
#include "core/icon_store.h"

#include <windows.h>
#include <objbase.h>
#include <shellapi.h>
#include <wincodec.h>

#include <algorithm>
#include <iterator>
#include <utility>

namespace merovane {

namespace {

// One reference to a COM object, released when it goes.
template <typename T>
class ComRef {
public:
    ComRef() noexcept = default;
    ~ComRef()
    {
        if (value_ != nullptr) {
            value_->Release();
        }
    }
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;

    T* get() const noexcept { return value_; }
    T* operator->() const noexcept { return value_; }
    T** put() noexcept { return &value_; }
    void** put_void() noexcept { return reinterpret_cast<void**>(&value_); }

private:
    T* value_ = nullptr;
};

HIMAGELIST SystemImageList(bool large)
{
    SHFILEINFOW info{};
    const UINT flags = SHGFI_SYSICONINDEX | (large ? 0 : SHGFI_SMALLICON);
    return reinterpret_cast<HIMAGELIST>(::SHGetFileInfoW(L"", 0, &info, sizeof(info), flags));
}

// A picture of width x height BGRA pixels (alpha not premultiplied) drawn
// into side x side: each pixel is the mean of the picture's pixels its square
// covers, weighted by their alpha, so that transparent edges do not darken.
std::vector<std::uint8_t> ScaledPixels(const std::vector<std::uint8_t>& picture, int width, int height, int side)
{
    std::vector<std::uint8_t> result(static_cast<size_t>(side) * static_cast<size_t>(side) * 4);
    for (int y = 0; y < side; ++y) {
        const int top = y * height / side;
        const int bottom = std::max(top + 1, (y + 1) * height / side);
        for (int x = 0; x < side; ++x) {
            const int left = x * width / side;
            const int right = std::max(left + 1, (x + 1) * width / side);
            std::uint64_t sum[4] = {0, 0, 0, 0};
            for (int sy = top; sy < bottom; ++sy) {
                for (int sx = left; sx < right; ++sx) {
                    const std::uint8_t* p = &picture[(static_cast<size_t>(sy) * width + sx) * 4];
                    sum[0] += static_cast<std::uint64_t>(p[0]) * p[3];
                    sum[1] += static_cast<std::uint64_t>(p[1]) * p[3];
                    sum[2] += static_cast<std::uint64_t>(p[2]) * p[3];
                    sum[3] += p[3];
                }
            }
            std::uint8_t* out = &result[(static_cast<size_t>(y) * side + x) * 4];
            const std::uint64_t count = static_cast<std::uint64_t>(bottom - top) * static_cast<std::uint64_t>(right - left);
            if (sum[3] > 0) {
                for (int c = 0; c < 3; ++c) {
                    out[c] = static_cast<std::uint8_t>((sum[c] + sum[3] / 2) / sum[3]);
                }
            }
            out[3] = static_cast<std::uint8_t>((sum[3] + count / 2) / count);
        }
    }
    return result;
}

// Pixels of side x side, 32 bits, top row first, alpha not premultiplied:
// the form an icon's colour bitmap takes.
unique_hicon IconFromPixels(const std::vector<std::uint8_t>& pixels, int side)
{
    BITMAPV5HEADER header{};
    header.bV5Size = sizeof(header);
    header.bV5Width = side;
    header.bV5Height = -side;
    header.bV5Planes = 1;
    header.bV5BitCount = 32;
    header.bV5Compression = BI_BITFIELDS;
    header.bV5RedMask = 0x00FF0000;
    header.bV5GreenMask = 0x0000FF00;
    header.bV5BlueMask = 0x000000FF;
    header.bV5AlphaMask = 0xFF000000;
    void* bits = nullptr;
    const unique_hbitmap colour(::CreateDIBSection(nullptr, reinterpret_cast<const BITMAPINFO*>(&header),
                                                      DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!colour || bits == nullptr) {
        return {};
    }
    std::copy(pixels.begin(), pixels.end(), static_cast<std::uint8_t*>(bits));
    ::GdiFlush();
    // The alpha channel decides where it is used; the mask says the same for
    // whatever draws without it, and for a picture with no opaque pixel at
    // all, whose alpha a drawing would otherwise ignore.
    const size_t maskStride = (static_cast<size_t>(side) + 15) / 16 * 2; // rows of whole 16-bit words
    std::vector<std::uint8_t> maskBits(maskStride * static_cast<size_t>(side), 0);
    for (int y = 0; y < side; ++y) {
        for (int x = 0; x < side; ++x) {
            if (pixels[(static_cast<size_t>(y) * side + x) * 4 + 3] == 0) {
                maskBits[static_cast<size_t>(y) * maskStride + static_cast<size_t>(x) / 8] |=
                    static_cast<std::uint8_t>(0x80 >> (x % 8));
            }
        }
    }
    const unique_hbitmap mask(::CreateBitmap(side, side, 1, 1, maskBits.data()));
    if (!mask) {
        return {};
    }
    ICONINFO info{};
    info.fIcon = TRUE;
    info.hbmColor = colour.get();
    info.hbmMask = mask.get();
    return unique_hicon(::CreateIconIndirect(&info));
}

} // namespace

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

std::vector<std::uint8_t> ReadIconSnapshot(std::wstring_view keyName)
{
    if (keyName.empty()) {
        return {};
    }
    unique_hkey key;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, EntryKeyPath(keyName).c_str(), 0, KEY_QUERY_VALUE, key.put()) !=
        ERROR_SUCCESS) {
        return {};
    }
    return ReadEntryBinary(key.get(), kIconSnapshotValue, kMaxIconSnapshotBytes);
}

std::optional<PngDimensions> ReadPngDimensions(const std::uint8_t* data, std::size_t size)
{
    constexpr std::uint8_t kSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    constexpr std::uint8_t kHeaderChunk[] = {0, 0, 0, 13, 'I', 'H', 'D', 'R'};
    // Signature, chunk length and type, the 13 bytes of the header, its CRC.
    constexpr std::size_t kHeaderEnd = sizeof(kSignature) + sizeof(kHeaderChunk) + 13 + 4;
    if (data == nullptr || size < kHeaderEnd || !std::equal(std::begin(kSignature), std::end(kSignature), data) ||
        !std::equal(std::begin(kHeaderChunk), std::end(kHeaderChunk), data + sizeof(kSignature))) {
        return std::nullopt;
    }
    const auto bigEndian = [](const std::uint8_t* p) {
        return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
    };
    const std::uint8_t* fields = data + sizeof(kSignature) + sizeof(kHeaderChunk);
    const PngDimensions dimensions{bigEndian(fields), bigEndian(fields + 4)};
    constexpr std::uint32_t kLargest = 0x7FFFFFFF;
    if (dimensions.width == 0 || dimensions.height == 0 || dimensions.width > kLargest ||
        dimensions.height > kLargest) {
        return std::nullopt;
    }
    return dimensions;
}

unique_hicon IconFromPng(const std::uint8_t* data, std::size_t size, int side)
{
    if (data == nullptr || size == 0 || size > kMaxIconSnapshotBytes || side <= 0 ||
        side > static_cast<int>(kMaxIconSnapshotSide)) {
        return {};
    }
    // A decoder may hold the whole picture in memory before it reports the
    // size: a few hundred bytes can ask for gigabytes.
    const std::optional<PngDimensions> dimensions = ReadPngDimensions(data, size);
    if (!dimensions || dimensions->width > kMaxIconSnapshotSide || dimensions->height > kMaxIconSnapshotSide) {
        return {};
    }
    ComRef<IWICImagingFactory> factory;
    if (FAILED(::CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                  factory.put_void()))) {
        return {};
    }
    ComRef<IWICStream> stream;
    if (FAILED(factory->CreateStream(stream.put())) ||
        FAILED(stream->InitializeFromMemory(const_cast<BYTE*>(data), static_cast<DWORD>(size)))) {
        return {};
    }
    // The PNG decoder itself: whatever else a damaged value might look like
    // is not tried, and no list of installed decoders is searched.
    ComRef<IWICBitmapDecoder> decoder;
    if (FAILED(::CoCreateInstance(CLSID_WICPngDecoder, nullptr, CLSCTX_INPROC_SERVER, IID_IWICBitmapDecoder,
                                  decoder.put_void())) ||
        FAILED(decoder->Initialize(stream.get(), WICDecodeMetadataCacheOnDemand))) {
        return {};
    }
    ComRef<IWICBitmapFrameDecode> frame;
    if (FAILED(decoder->GetFrame(0, frame.put()))) {
        return {};
    }
    UINT width = 0;
    UINT height = 0;
    if (FAILED(frame->GetSize(&width, &height)) || width == 0 || height == 0 || width > kMaxIconSnapshotSide ||
        height > kMaxIconSnapshotSide) {
        return {};
    }
    // 8-bit RGBA, as the notification area writes its pictures, is copied
    // as it is; any other kind goes through a converter.
    WICPixelFormatGUID format{};
    if (FAILED(frame->GetPixelFormat(&format))) {
        return {};
    }
    const bool rgba = IsEqualGUID(format, GUID_WICPixelFormat32bppRGBA) != FALSE;
    IWICBitmapSource* source = frame.get();
    ComRef<IWICFormatConverter> converter;
    if (!rgba && IsEqualGUID(format, GUID_WICPixelFormat32bppBGRA) == FALSE) {
        if (FAILED(factory->CreateFormatConverter(converter.put())) ||
            FAILED(converter->Initialize(frame.get(), GUID_WICPixelFormat32bppBGRA, WICBitmapDitherTypeNone, nullptr,
                                         0.0, WICBitmapPaletteTypeCustom))) {
            return {};
        }
        source = converter.get();
    }
    std::vector<std::uint8_t> picture(static_cast<size_t>(width) * height * 4);
    // Decoding happens here; a damaged stream fails rather than reading past its end.
    if (FAILED(source->CopyPixels(nullptr, width * 4, static_cast<UINT>(picture.size()), picture.data()))) {
        return {};
    }
    if (rgba) {
        for (size_t i = 0; i < picture.size(); i += 4) {
            std::swap(picture[i], picture[i + 2]);
        }
    }
    const std::vector<std::uint8_t> pixels = ScaledPixels(picture, static_cast<int>(width),
                                                          static_cast<int>(height), side);
    return IconFromPixels(pixels, side);
}

bool UsesIconSnapshot(const IconEntry& entry) noexcept
{
    return !entry.systemEntry;
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

HIMAGELIST IconImageCache::Images(bool large)
{
    if (!small_) {
        // The system's icon sizes, as the shell's lists have them: asking
        // those lists would load the shell's icon cache (megabytes, and a
        // tenth of a second) before any row needs an icon.
        smallSide_ = ::GetSystemMetrics(SM_CXSMICON);
        largeSide_ = ::GetSystemMetrics(SM_CXICON);
        small_.reset(::ImageList_Create(smallSide_, smallSide_, ILC_COLOR32 | ILC_MASK, 16, 16));
        large_.reset(::ImageList_Create(largeSide_, largeSide_, ILC_COLOR32 | ILC_MASK, 16, 16));
    }
    return large ? large_.get() : small_.get();
}

int IconImageCache::AddToImages(Answer& answer)
{
    Images(false);
    if (!small_ || !large_) {
        return -1;
    }
    unique_hicon small = std::move(answer.small);
    unique_hicon large = std::move(answer.large);
    if (!small || !large) {
        small.reset(::ImageList_GetIcon(SystemImageList(false), answer.systemIndex, ILD_NORMAL));
        large.reset(::ImageList_GetIcon(SystemImageList(true), answer.systemIndex, ILD_NORMAL));
    }
    if (!small || !large) {
        return -1;
    }
    const int count = ::ImageList_GetImageCount(small_.get());
    const int index = ::ImageList_ReplaceIcon(small_.get(), -1, small.get());
    const int other = ::ImageList_ReplaceIcon(large_.get(), -1, large.get());
    if (index != count || other != count) {
        // Both lists keep the same indices, or the new picture goes from both.
        ::ImageList_SetImageCount(small_.get(), static_cast<UINT>(count));
        ::ImageList_SetImageCount(large_.get(), static_cast<UINT>(count));
        return -1;
    }
    return index;
}

std::optional<int> IconImageCache::Find(const IconEntry& entry)
{
    const bool snapshot = UsesIconSnapshot(entry);
    // A snapshot belongs to its entry; the shell's icon belongs to the path.
    std::wstring cacheKey = snapshot ? L"*" + entry.keyName : entry.executablePath;
    if (const auto known = known_.find(cacheKey); known != known_.end()) {
        if (known->second >= 0) {
            return known->second;
        }
        std::optional<Answer> answer;
        {
            const std::lock_guard lock(mutex_);
            if (auto arrived = arrived_.find(cacheKey); arrived != arrived_.end()) {
                answer = std::move(arrived->second);
                arrived_.erase(arrived);
            }
        }
        if (answer) {
            // An entry without a picture of its own shows its path's image,
            // which the rows of that path share.
            const bool pathImage = !answer->small && !answer->large && cacheKey != answer->path;
            if (pathImage) {
                if (const auto shared = known_.find(answer->path); shared != known_.end() && shared->second >= 0) {
                    known->second = shared->second;
                    return shared->second;
                }
            }
            // A picture that would not go into the lists is not asked for
            // again: the row goes without one.
            const int index = AddToImages(*answer);
            known->second = index >= 0 ? index : kNothingToShow;
            if (pathImage && index >= 0) {
                known_.insert_or_assign(answer->path, index); // may move `known`: last
            }
            if (index >= 0) {
                return index;
            }
        }
        return std::nullopt;
    }
    Images(false); // the sizes, before the worker needs them
    known_.emplace(cacheKey, kAskedFor);
    {
        const std::lock_guard lock(mutex_);
        queue_.push_back(Request{std::move(cacheKey), entry.executablePath, entry.fileExists,
                                 snapshot ? entry.keyName : std::wstring()});
    }
    // Started by the first question, so a program that never shows its list
    // has no worker.
    if (!worker_.joinable()) {
        worker_ = std::thread([this] { Run(); });
    }
    wake_.notify_one();
    return std::nullopt;
}

IconImageCache::Answer IconImageCache::Resolve(const Request& request) noexcept
{
    Answer answer;
    try {
        if (!request.snapshotKey.empty()) {
            const std::vector<std::uint8_t> png = ReadIconSnapshot(request.snapshotKey);
            if (!png.empty()) {
                answer.small = IconFromPng(png.data(), png.size(), smallSide_);
                answer.large = answer.small ? IconFromPng(png.data(), png.size(), largeSide_) : unique_hicon();
            }
            if (answer.small && answer.large) {
                return answer;
            }
            answer.small.reset();
            answer.large.reset();
        }
        answer.path = request.path;
        if (const auto known = systemIndices_.find(request.path); known != systemIndices_.end()) {
            answer.systemIndex = known->second;
        } else {
            answer.systemIndex = SystemIconIndexFor(request.path, request.fileExists);
            systemIndices_.emplace(request.path, answer.systemIndex);
        }
    } catch (...) {
        answer.systemIndex = 0; // no memory for the path: the list's first image
    }
    if (answer.systemIndex < 0) {
        answer.systemIndex = 0;
    }
    return answer;
}

void IconImageCache::Run() noexcept
{
    // The shell and the imaging components want COM on the threads that ask them.
    const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    for (;;) {
        Request request;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
            if (stopping_) {
                break;
            }
            request = std::move(queue_.front());
            queue_.pop_front();
        }
        Answer answer = Resolve(request);
        bool more = false;
        try {
            const std::lock_guard lock(mutex_);
            arrived_.insert_or_assign(std::move(request.cacheKey), std::move(answer));
            more = !queue_.empty();
        } catch (...) {
            more = false; // no memory for the answer: the row stays without its icon
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
