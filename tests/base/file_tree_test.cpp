#include "base/file_tree.h"

#include "support/file_links.h"
#include "support/sandbox.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <vector>

namespace merovane {
namespace {

namespace fs = std::filesystem;

void Write(const std::wstring& path, const std::string& bytes)
{
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(fs::path(path), std::ios::binary) << bytes;
}

std::string Read(const std::wstring& path)
{
    std::ifstream in{fs::path(path), std::ios::binary};
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Every name below `root` that is not a link, found without entering links.
std::vector<std::wstring> RealEntriesBelow(const std::wstring& root)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found{};
    const HANDLE search = ::FindFirstFileW((root + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return names;
    }
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L".." || (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            continue;
        }
        // A file link shows as a plain file under Wine: its bytes say which.
        if (Read(root + L"\\" + name) == "the link's target") {
            continue;
        }
        names.push_back(name);
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            for (const std::wstring& below : RealEntriesBelow(root + L"\\" + name)) {
                names.push_back(name + L"\\" + below);
            }
        }
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
    return names;
}

TEST(RemoveTree, NeverEntersALink)
{
    struct Case {
        const char* what;
        const wchar_t* link; // below the tree; "" the tree itself
        bool folder;
    } cases[] = {
        {"a folder link inside", L"inside", true},
        {"a folder link deeper down", L"sub\\deeper\\inside", true},
        {"the folder removed is itself a link", L"", true},
        {"a file link inside", L"sub\\file.txt", false},
    };
    for (const Case& c : cases) {
        test::TempDir temp;
        const std::wstring target = temp / L"target";
        Write(target + L"\\keep.txt", "the link's target");
        Write(target + L"\\below\\keep.txt", "the link's target");
        const std::wstring tree = temp / L"tree";
        std::wstring link = tree;
        if (*c.link != L'\0') {
            Write(tree + L"\\a.txt", "ours");
            Write(tree + L"\\sub\\deeper\\b.txt", "ours");
            link = tree + L"\\" + c.link;
            fs::create_directories(fs::path(link).parent_path());
        }
        ASSERT_TRUE(test::MakeLink(link, c.folder ? target : target + L"\\keep.txt", c.folder)) << c.what;
        // Wine shows a file link as the plain file it points at, and deletes
        // what it points at when asked to delete the link: nothing a program
        // can tell apart there.
        if ((::GetFileAttributesW(link.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
            std::cout << "[  SKIPPED ] " << c.what << ": not shown as a link on this system\n";
            test::RemoveLink(link);
            continue;
        }

        RemoveTree(tree);

        EXPECT_EQ(Read(target + L"\\keep.txt"), "the link's target") << c.what;
        EXPECT_EQ(Read(target + L"\\below\\keep.txt"), "the link's target") << c.what;
        // Everything else goes; the link itself too where the system can
        // unlink it. Wine can't unlink a folder link: it stays, and with it
        // the folders it is in.
        const bool linkStays = ::GetFileAttributesW(link.c_str()) != INVALID_FILE_ATTRIBUTES;
        std::vector<std::wstring> stays;
        if (linkStays && link != tree) {
            const std::wstring relative = c.link;
            for (std::size_t slash = relative.find(L'\\'); slash != std::wstring::npos;
                 slash = relative.find(L'\\', slash + 1)) {
                stays.push_back(relative.substr(0, slash));
            }
        }
        if (link != tree) {
            EXPECT_EQ(RealEntriesBelow(tree), stays) << c.what;
        }
        EXPECT_EQ(fs::exists(fs::path(tree)), linkStays) << c.what;
        test::RemoveLink(link);
    }
}

TEST(RemoveTree, RemovesReadOnlyFilesAndReportsWhatStays)
{
    test::TempDir temp;
    const std::wstring tree = temp / L"tree";
    Write(tree + L"\\read-only.txt", "x");
    Write(tree + L"\\in use\\open.txt", "x");
    ::SetFileAttributesW((tree + L"\\read-only.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    {
        const HANDLE open = ::CreateFileW((tree + L"\\in use\\open.txt").c_str(), GENERIC_READ, 0, nullptr,
                                          OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(open, INVALID_HANDLE_VALUE);
        EXPECT_FALSE(RemoveTree(tree));
        ::CloseHandle(open);
    }
    EXPECT_EQ(RealEntriesBelow(tree), (std::vector<std::wstring>{L"in use", L"in use\\open.txt"}));
    EXPECT_TRUE(RemoveTree(tree));
    EXPECT_FALSE(fs::exists(fs::path(tree)));
    EXPECT_TRUE(RemoveTree(tree)) << "nothing there is nothing left";
}

} // namespace
} // namespace merovane
