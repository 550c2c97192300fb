#include "update/portable_apply.h"

#include "base/error.h"
#include "base/handles.h"

#include <algorithm>
#include <filesystem>

namespace merovane::update {

namespace {

bool Exists(const std::wstring& path, bool* folder = nullptr)
{
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return false;
    }
    if (folder != nullptr) {
        *folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    }
    return true;
}

void Move(const std::wstring& from, const std::wstring& to)
{
    // No MOVEFILE_COPY_ALLOWED: a move that is not a rename on one volume
    // could be cut off half-way.
    if (!::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH)) {
        ThrowLastError();
    }
}

// Relative paths of the files below `root`, in a fixed order.
std::vector<std::wstring> ListFiles(const std::wstring& root)
{
    std::vector<std::wstring> files;
    std::error_code error;
    const std::filesystem::path base(root);
    for (auto it = std::filesystem::recursive_directory_iterator(base, error);
         !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
        if (it->is_regular_file(error)) {
            files.push_back(it->path().lexically_relative(base).make_preferred().wstring());
        }
    }
    if (error) {
        ThrowWin32(static_cast<DWORD>(error.value()));
    }
    std::sort(files.begin(), files.end());
    return files;
}

void RemoveTree(const std::wstring& path) noexcept
{
    std::error_code ignored;
    std::filesystem::remove_all(std::filesystem::path(path), ignored);
}

// What has been done so far, so that it can be undone in reverse.
struct Step {
    enum Kind { MadeFolder, BackedUp, MovedIn } kind;
    std::wstring path;  // MadeFolder: full path; else relative to the roots
};

} // namespace

bool WaitForProcessExit(DWORD processId, std::chrono::milliseconds timeout)
{
    const unique_handle process(::OpenProcess(SYNCHRONIZE, FALSE, processId));
    if (!process) {
        const DWORD error = ::GetLastError();
        // No such process: it has ended already.
        if (error == ERROR_INVALID_PARAMETER) {
            return true;
        }
        ThrowWin32(error);
    }
    const auto milliseconds = std::clamp<std::chrono::milliseconds::rep>(timeout.count(), 0, INFINITE - 1);
    switch (::WaitForSingleObject(process.get(), static_cast<DWORD>(milliseconds))) {
    case WAIT_OBJECT_0:
        return true;
    case WAIT_TIMEOUT:
        return false;
    default:
        ThrowLastError();
    }
}

std::vector<std::wstring> ApplyStagedUpdate(const std::wstring& staging, const std::wstring& target,
                                            const std::wstring& backup)
{
    const std::vector<std::wstring> files = ListFiles(staging);
    if (!::CreateDirectoryW(backup.c_str(), nullptr)) {
        ThrowLastError();
    }
    std::vector<Step> done;
    try {
        for (const std::wstring& file : files) {
            // The folders the file needs, in the target and in the backup.
            for (std::size_t slash = file.find(L'\\'); slash != std::wstring::npos;
                 slash = file.find(L'\\', slash + 1)) {
                const std::wstring part = file.substr(0, slash);
                const std::wstring folder = target + L"\\" + part;
                if (!Exists(folder)) {
                    if (!::CreateDirectoryW(folder.c_str(), nullptr)) {
                        ThrowLastError();
                    }
                    done.push_back({Step::MadeFolder, folder});
                }
                const std::wstring backupFolder = backup + L"\\" + part;
                if (!::CreateDirectoryW(backupFolder.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) {
                    ThrowLastError();
                }
            }
            bool folder = false;
            if (Exists(target + L"\\" + file, &folder)) {
                // A folder in the way of a file is the user's, not ours to replace.
                if (folder) {
                    ThrowWin32(ERROR_ALREADY_EXISTS);
                }
                Move(target + L"\\" + file, backup + L"\\" + file);
                done.push_back({Step::BackedUp, file});
            }
            Move(staging + L"\\" + file, target + L"\\" + file);
            done.push_back({Step::MovedIn, file});
        }
    } catch (...) {
        bool restored = true;
        for (auto step = done.rbegin(); step != done.rend(); ++step) {
            switch (step->kind) {
            case Step::MovedIn:
                restored &= ::MoveFileExW((target + L"\\" + step->path).c_str(), (staging + L"\\" + step->path).c_str(),
                                          MOVEFILE_WRITE_THROUGH) != FALSE;
                break;
            case Step::BackedUp:
                restored &= ::MoveFileExW((backup + L"\\" + step->path).c_str(), (target + L"\\" + step->path).c_str(),
                                          MOVEFILE_WRITE_THROUGH) != FALSE;
                break;
            case Step::MadeFolder:
                ::RemoveDirectoryW(step->path.c_str());
                break;
            }
        }
        // An old file that could not be put back is still in the backup:
        // keep it there rather than lose it.
        if (restored) {
            RemoveTree(backup);
        }
        throw;
    }
    RemoveTree(backup);
    RemoveTree(staging);
    return files;
}

} // namespace merovane::update
