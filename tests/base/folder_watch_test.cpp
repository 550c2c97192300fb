#include "base/folder_watch.h"

#include "support/sandbox.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>

namespace merovane {
namespace {

bool Within(std::chrono::milliseconds limit, const std::function<bool()>& condition)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        ::Sleep(5);
    }
    return true;
}

// A file replaced, written in place or removed is told at once, also in a
// folder that came only after the watch began; nothing is told while
// nothing changes, and nothing after Stop.
TEST(FolderWatch, TellsOfFilesWrittenRenamedAndRemovedInTheFolder)
{
    struct Case {
        const char* what;
        bool folderLater;
        std::function<void(const std::wstring& file)> change;
    } cases[] = {
        {"replaced by a rename", false,
         [](const std::wstring& file) {
             test::WriteFileBytes(file + L".tmp", "new");
             ASSERT_TRUE(::MoveFileExW((file + L".tmp").c_str(), file.c_str(), MOVEFILE_REPLACE_EXISTING));
         }},
        {"written in place", false, [](const std::wstring& file) { test::WriteFileBytes(file, "longer text"); }},
        {"removed", false, [](const std::wstring& file) { ASSERT_TRUE(::DeleteFileW(file.c_str())); }},
        {"in a folder made later", true, [](const std::wstring& file) { test::WriteFileBytes(file, "new"); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test::TempDir temp;
        const std::filesystem::path folder = temp.path() / L"Config";
        const std::wstring file = (folder / L"Rules.ini").wstring();
        if (!c.folderLater) {
            std::filesystem::create_directory(folder);
            test::WriteFileBytes(file, "old");
        }
        std::atomic<int> told{0};
        FolderWatch watch;
        watch.Start(folder.wstring(), [&] { ++told; });
        ::Sleep(50);
        EXPECT_EQ(told, 0);
        if (c.folderLater) {
            std::filesystem::create_directory(folder);
        }
        c.change(file);
        EXPECT_TRUE(Within(std::chrono::seconds(1), [&] { return told > 0; }));
        watch.Stop();
        EXPECT_FALSE(watch.Running());
        const int afterStop = told;
        test::WriteFileBytes((folder / L"other.ini").wstring(), "x");
        ::Sleep(50);
        EXPECT_EQ(told, afterStop);
    }
}

// The watches share one waiting thread: each hears only of its own folder,
// and one stopped, or started again elsewhere, leaves the other watching.
TEST(FolderWatch, WatchesSharingTheirThreadKeepToTheirOwnFolders)
{
    test::TempDir temp;
    const std::filesystem::path first = temp.path() / L"first";
    const std::filesystem::path second = temp.path() / L"second";
    const std::filesystem::path third = temp.path() / L"third";
    for (const auto& folder : {first, second, third}) {
        std::filesystem::create_directory(folder);
    }
    std::atomic<int> toldFirst{0};
    std::atomic<int> toldSecond{0};
    FolderWatch watchFirst;
    FolderWatch watchSecond;
    watchFirst.Start(first.wstring(), [&] { ++toldFirst; });
    watchSecond.Start(second.wstring(), [&] { ++toldSecond; });

    test::WriteFileBytes((second / L"a.ini").wstring(), "x");
    EXPECT_TRUE(Within(std::chrono::seconds(1), [&] { return toldSecond > 0; }));
    EXPECT_EQ(toldFirst, 0);

    watchSecond.Start(third.wstring(), [&] { ++toldSecond; });
    watchFirst.Stop();
    const int before = toldSecond;
    test::WriteFileBytes((first / L"b.ini").wstring(), "x");
    test::WriteFileBytes((third / L"c.ini").wstring(), "x");
    EXPECT_TRUE(Within(std::chrono::seconds(1), [&] { return toldSecond > before; }));
    EXPECT_EQ(toldFirst, 0);
}

} // namespace
} // namespace merovane
