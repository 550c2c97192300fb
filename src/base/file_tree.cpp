#include "base/file_tree.h"

#include "base/handles.h"

#include <windows.h>

namespace merovane {

namespace {

bool RemoveOne(const std::wstring& path, DWORD attributes) noexcept
{
    if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        ::SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    }
    // A link to a folder carries the folder attribute and goes as a folder:
    // RemoveDirectoryW removes the link, not its target.
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return ::RemoveDirectoryW(path.c_str()) != FALSE;
    }
    return ::DeleteFileW(path.c_str()) != FALSE;
}

bool RemoveBelow(const std::wstring& folder, int depth) noexcept
{
    // Deeper than any path can be: something is looping.
    if (depth > 512) {
        return false;
    }
    bool removed = true;
    try {
        WIN32_FIND_DATAW found{};
        const std::wstring pattern = folder + L"\\*";
        const unique_find search(
            ::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0));
        if (!search) {
            return ::GetLastError() == ERROR_FILE_NOT_FOUND;
        }
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") {
                continue;
            }
            const std::wstring child = folder + L"\\" + name;
            const DWORD attributes = found.dwFileAttributes;
            if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
                removed &= RemoveBelow(child, depth + 1);
            }
            removed &= RemoveOne(child, attributes);
        } while (::FindNextFileW(search.get(), &found));
    } catch (...) {
        return false;
    }
    return removed;
}

} // namespace

bool RemoveTree(const std::wstring& path) noexcept
{
    if (path.empty()) {
        return true;
    }
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = ::GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    }
    bool removed = true;
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        removed = RemoveBelow(path, 0);
    }
    return RemoveOne(path, attributes) && removed;
}

} // namespace merovane
