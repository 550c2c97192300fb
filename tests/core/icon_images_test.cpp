#include "core/icon_images.h"
#include "core/icon_list.h"
#include "core/icon_store.h"
#include "base/handles.h"
#include "base/ini_file.h"
#include "support/entries.h"
#include "support/pictures.h"
#include "support/sandbox.h"

#include <gtest/gtest.h>

#include <psapi.h>
#include <shellapi.h>

#include <atomic>
#include <chrono>
#include <map>

namespace merovane {
namespace {

using test::kBase;
constexpr wchar_t kBattery[] = L"{7820AE73-23E3-4229-82C1-E41CB67D5B9C}";

using test::Entry;

std::wstring WindowsDirectory()
{
    wchar_t buffer[MAX_PATH];
    const UINT length = ::GetWindowsDirectoryW(buffer, MAX_PATH);
    return std::wstring(buffer, length);
}

// COM for the imaging components, as the cache's worker has it.
class ComThread {
public:
    ComThread() : result_(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
    ~ComThread()
    {
        if (SUCCEEDED(result_)) {
            ::CoUninitialize();
        }
    }

private:
    HRESULT result_;
};

// The middle pixel of an icon drawn onto white.
test::Rgba IconPixel(HICON icon, int side)
{
    unique_owned_image_list list(::ImageList_Create(side, side, ILC_COLOR32 | ILC_MASK, 1, 0));
    const int index = ::ImageList_ReplaceIcon(list.get(), -1, icon);
    return test::ImageListPixel(list.get(), index);
}

TEST(IconFromPng, DecodesSmallPicturesAndRefusesTheRest)
{
    const ComThread com;
    const test::Rgba colour{200, 30, 60};
    const std::vector<BYTE> valid = test::SolidPng(2, 2, colour);
    const std::vector<BYTE> garbage = {0x78, 0x9C, 0xFF, 0xFF, 0x00, 0x13, 0x37, 0x42};
    std::vector<BYTE> truncated(valid.begin(), valid.begin() + static_cast<std::ptrdiff_t>(valid.size() / 2));
    std::vector<BYTE> notPng = {'G', 'I', 'F', '8', '9', 'a', 2, 0, 2, 0, 0, 0, 0, ';'};
    struct Case {
        const char* name;
        std::vector<BYTE> bytes;
        bool decodes;
        test::Rgba drawn{200, 30, 60};
    } cases[] = {
        {"2 x 2", valid, true},
        {"transparent: the background shows", test::SolidPng(4, 4, {200, 30, 60, 0}), true, {255, 255, 255}},
        {"48 x 48, scaled", test::SolidPng(48, 48, colour), true},
        {"256 x 256, the largest taken", test::SolidPng(256, 256, colour), true},
        {"257 wide", test::SolidPng(257, 1, colour), false},
        {"huge in its header", test::SolidPng(100000, 100000, colour, &garbage), false},
        {"damaged pixel data", test::SolidPng(2, 2, colour, &garbage), false},
        {"cut in half", truncated, false},
        {"no PNG", notPng, false},
        {"empty", {}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (const int side : {16, 32}) {
            const unique_hicon icon = IconFromPng(c.bytes.data(), c.bytes.size(), side);
            ASSERT_EQ(static_cast<bool>(icon), c.decodes) << side;
            if (icon) {
                const test::Rgba drawn = IconPixel(icon.get(), side);
                EXPECT_TRUE(test::SameColour(drawn, c.drawn)) << side << ": " << test::Describe(drawn);
            }
        }
    }
}

// A PNG's header as a crafted file would start: signature, IHDR length,
// type, width, height, then `rest` (the header's last five bytes and CRC).
std::vector<BYTE> PngHeader(std::uint32_t width, std::uint32_t height, std::size_t rest = 9)
{
    std::vector<BYTE> bytes = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R'};
    for (const std::uint32_t value : {width, height}) {
        for (int shift = 24; shift >= 0; shift -= 8) {
            bytes.push_back(static_cast<BYTE>(value >> shift));
        }
    }
    bytes.resize(bytes.size() + rest, 0);
    return bytes;
}

TEST(IconFromPng, TheHeaderGivesTheSizeBeforeAnyDecoderIsAsked)
{
    std::vector<BYTE> otherChunk = PngHeader(16, 16);
    otherChunk[12] = 'g'; // "gHDR"
    std::vector<BYTE> longerHeader = PngHeader(16, 16);
    longerHeader[11] = 14;
    struct Case {
        const char* name;
        std::vector<BYTE> bytes;
        std::optional<PngDimensions> expected;
    } cases[] = {
        {"16 x 16", PngHeader(16, 16), PngDimensions{16, 16}},
        {"a whole file", test::SolidPng(48, 20, {1, 2, 3}), PngDimensions{48, 20}},
        {"90000 x 90000", PngHeader(90000, 90000), PngDimensions{90000, 90000}},
        {"largest a PNG allows", PngHeader(0x7FFFFFFF, 1), PngDimensions{0x7FFFFFFF, 1}},
        {"2^31 wide", PngHeader(0x80000000u, 1), std::nullopt},
        {"0 x 0", PngHeader(0, 0), std::nullopt},
        {"0 high", PngHeader(1, 0), std::nullopt},
        {"cut inside the header", PngHeader(16, 16, 8), std::nullopt},
        {"cut after the height", PngHeader(16, 16, 0), std::nullopt},
        {"another chunk first", otherChunk, std::nullopt},
        {"a header of another length", longerHeader, std::nullopt},
        {"no PNG", {'G', 'I', 'F', '8', '9', 'a', 2, 0, 2, 0, 0, 0, 0, ';'}, std::nullopt},
        {"empty", {}, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ReadPngDimensions(c.bytes.data(), c.bytes.size()), c.expected);
    }
}

// A picture whose pixels are all 0, in a sound PNG of 1-bit grey: about a
// thousandth of the memory a decoder needs for it.
std::vector<BYTE> BlankBitmapPng(std::uint32_t side)
{
    std::vector<BYTE> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<BYTE> header;
    test::picture_detail::Put32(header, side);
    test::picture_detail::Put32(header, side);
    header.insert(header.end(), {1, 0, 0, 0, 0}); // 1 bit, grey, deflate, no filter, no interlace
    test::picture_detail::Chunk(png, "IHDR", header);

    z_stream stream{};
    deflateInit(&stream, Z_BEST_COMPRESSION);
    const std::vector<BYTE> row(1 + (side + 7) / 8, 0); // filter byte, then the row's bits
    std::vector<BYTE> packed;
    std::vector<BYTE> buffer(1 << 16);
    for (std::uint32_t y = 0; y <= side; ++y) {
        stream.next_in = const_cast<BYTE*>(row.data());
        stream.avail_in = y < side ? static_cast<uInt>(row.size()) : 0;
        do {
            stream.next_out = buffer.data();
            stream.avail_out = static_cast<uInt>(buffer.size());
            deflate(&stream, y < side ? Z_NO_FLUSH : Z_FINISH);
            packed.insert(packed.end(), buffer.data(), stream.next_out);
        } while (stream.avail_out == 0);
    }
    deflateEnd(&stream);
    test::picture_detail::Chunk(png, "IDAT", packed);
    test::picture_detail::Chunk(png, "IEND", {});
    return png;
}

SIZE_T PeakMemory()
{
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof(counters);
    ::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof(counters));
    return counters.PeakWorkingSetSize;
}

// A snapshot far below the size limit that holds a picture of 40000 x 40000:
// refused without the 200 MB a decoder would fill first.
TEST(IconFromPng, AHugePictureCostsNoMemory)
{
    const ComThread com;
    const std::vector<BYTE> png = BlankBitmapPng(40000);
    ASSERT_LT(png.size(), kMaxIconSnapshotBytes);
    const SIZE_T before = PeakMemory();
    ASSERT_GT(before, SIZE_T{0});
    EXPECT_FALSE(IconFromPng(png.data(), png.size(), 32));
    EXPECT_LT(PeakMemory() - before, SIZE_T{32} << 20) << (PeakMemory() - before) / 1024 / 1024 << " MB more";
}

TEST(IconImageCache, RowsShowTheirSnapshotElseTheShellsIcon)
{
    test::RegistrySandbox sandbox;
    const std::wstring fixture = test::FixturePath(L"full.exe");
    const std::wstring gone = L"C:\\nowhere\\gone.exe";
    const test::Rgba red{200, 30, 60};
    const test::Rgba green{20, 160, 90};
    std::vector<BYTE> oversized = test::SolidPng(2, 2, red);
    oversized.resize(kMaxIconSnapshotBytes + 1); // a sound picture with trailing bytes, too many of them

    const auto snapshot = [](const wchar_t* key, const std::vector<BYTE>& png) {
        test::SetRegRaw(Entry(key), L"IconSnapshot", REG_BINARY, png);
    };
    test::SetRegString(Entry(L"snapshot, gone"), L"ExecutablePath", gone);
    snapshot(L"snapshot, gone", test::SolidPng(2, 2, red));
    test::SetRegString(Entry(L"snapshot, 48"), L"ExecutablePath", fixture);
    snapshot(L"snapshot, 48", test::SolidPng(48, 48, green));
    test::SetRegString(Entry(L"corrupt"), L"ExecutablePath", gone);
    const std::vector<BYTE> garbage = {0x78, 0x9C, 0xFF, 0xFF, 0x00, 0x13, 0x37, 0x42};
    snapshot(L"corrupt", test::SolidPng(2, 2, red, &garbage));
    test::SetRegString(Entry(L"system"), L"IconGuid", kBattery);
    snapshot(L"system", test::SolidPng(2, 2, red));
    test::SetRegString(Entry(L"explorer"), L"ExecutablePath", WindowsDirectory() + L"\\EXPLORER.EXE");
    snapshot(L"explorer", test::SolidPng(2, 2, red));
    test::SetRegString(Entry(L"oversized"), L"ExecutablePath", gone);
    snapshot(L"oversized", oversized);
    test::SetRegString(Entry(L"as text"), L"ExecutablePath", gone);
    test::SetRegString(Entry(L"as text"), L"IconSnapshot", L"not a picture");
    test::SetRegString(Entry(L"file"), L"ExecutablePath", fixture);
    test::SetRegString(Entry(L"same file"), L"ExecutablePath", fixture);
    test::CreateRegKey(Entry(L"no values"));

    const ComThread com;
    const IconListLoad load = ReadNotifyIconEntries(IniFile());
    std::atomic<int> resolved{0};
    std::atomic<DWORD> thread{0};
    IconImageCache cache([&] {
        thread = ::GetCurrentThreadId();
        ++resolved;
    });
    std::map<std::wstring, int> images;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (images.size() < load.entries.size() && std::chrono::steady_clock::now() < deadline) {
        for (const IconEntry& entry : load.entries) {
            if (const std::optional<int> image = cache.Find(entry)) {
                images[entry.keyName] = *image;
            }
        }
        ::Sleep(5);
    }
    ASSERT_EQ(images.size(), load.entries.size());
    EXPECT_NE(thread.load(), ::GetCurrentThreadId());

    SHFILEINFOW info{};
    const HIMAGELIST systemSmall =
        reinterpret_cast<HIMAGELIST>(::SHGetFileInfoW(L"", 0, &info, sizeof(info), SHGFI_SYSICONINDEX | SHGFI_SMALLICON));
    const HIMAGELIST systemLarge =
        reinterpret_cast<HIMAGELIST>(::SHGetFileInfoW(L"", 0, &info, sizeof(info), SHGFI_SYSICONINDEX));
    struct Row {
        const wchar_t* keyName;
        std::optional<test::Rgba> snapshot; // else the shell's icon for the path
        std::wstring path;
        bool fileExists;
    } rows[] = {
        {L"snapshot, gone", red, gone, false},
        {L"snapshot, 48", green, fixture, true},
        {L"corrupt", std::nullopt, gone, false},
        {L"system", std::nullopt, L"", false},
        {L"explorer", std::nullopt, WindowsDirectory() + L"\\EXPLORER.EXE", false},
        {L"oversized", std::nullopt, gone, false},
        {L"as text", std::nullopt, gone, false},
        {L"file", std::nullopt, fixture, true},
        {L"no values", std::nullopt, L"", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(ToUtf8(row.keyName));
        const int image = images.at(row.keyName);
        for (const bool large : {false, true}) {
            const test::Rgba drawn = test::ImageListPixel(cache.Images(large), image);
            test::Rgba expected;
            if (row.snapshot) {
                expected = *row.snapshot;
            } else {
                const bool exists = std::filesystem::exists(row.path);
                expected = test::ImageListPixel(large ? systemLarge : systemSmall,
                                                SystemIconIndexFor(row.path, exists));
            }
            EXPECT_TRUE(test::SameColour(drawn, expected))
                << large << ": " << test::Describe(drawn) << " / " << test::Describe(expected);
        }
    }
    // A path is asked about once, whichever rows show it; known rows are not asked again.
    EXPECT_EQ(images.at(L"same file"), images.at(L"file"));
    const int before = resolved;
    for (const IconEntry& entry : load.entries) {
        EXPECT_EQ(cache.Find(entry), images.at(entry.keyName));
    }
    ::Sleep(50);
    EXPECT_EQ(resolved.load(), before);
}

} // namespace
} // namespace merovane
