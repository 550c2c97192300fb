#include "update/portable_apply.h"

#include "base/error.h"
#include "base/file_tree.h"
#include "base/handles.h"
#include "base/text_file.h"
#include "update/package_install.h"

#include <algorithm>
#include <optional>

namespace merovane::update {

namespace {

constexpr std::string_view kJournalHeader = "Merovane update journal";

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

bool Move(const std::wstring& from, const std::wstring& to, DWORD flags = 0)
{
    // No MOVEFILE_COPY_ALLOWED: a move that is not a rename on one volume
    // could be cut off half-way.
    return ::MoveFileExW(from.c_str(), to.c_str(), flags | MOVEFILE_WRITE_THROUGH) != FALSE;
}

// Makes the folders of `relative` below `root` that are missing.
bool MakeParents(const std::wstring& root, const std::wstring& relative)
{
    for (std::size_t slash = relative.find(L'\\'); slash != std::wstring::npos;
         slash = relative.find(L'\\', slash + 1)) {
        const std::wstring folder = root + L"\\" + relative.substr(0, slash);
        if (!::CreateDirectoryW(folder.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) {
            return false;
        }
    }
    return true;
}

// Relative paths of the files below `root`. A link inside staging is not
// ours: the swap refuses it rather than move what it points at.
void ListFiles(const std::wstring& root, const std::wstring& prefix, std::vector<std::wstring>& files, int depth)
{
    if (depth > 64) {
        ThrowWin32(ERROR_CANT_RESOLVE_FILENAME);
    }
    WIN32_FIND_DATAW found{};
    const std::wstring pattern = root + (prefix.empty() ? L"" : L"\\" + prefix) + L"\\*";
    const unique_find search(
        ::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0));
    if (!search) {
        if (::GetLastError() == ERROR_FILE_NOT_FOUND) {
            return;
        }
        ThrowLastError();
    }
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") {
            continue;
        }
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            ThrowWin32(ERROR_CANT_ACCESS_FILE);
        }
        const std::wstring relative = prefix.empty() ? name : prefix + L"\\" + name;
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            ListFiles(root, relative, files, depth + 1);
        } else {
            files.push_back(relative);
        }
    } while (::FindNextFileW(search.get(), &found));
}

// A relative path below the program folder, as the swap itself writes them.
bool IsSafeRelativePath(std::wstring_view path)
{
    if (path.empty() || path.find_first_of(L":/") != std::wstring_view::npos) {
        return false;
    }
    std::size_t position = 0;
    while (position <= path.size()) {
        std::size_t end = path.find(L'\\', position);
        if (end == std::wstring_view::npos) {
            end = path.size();
        }
        const std::wstring_view part = path.substr(position, end - position);
        if (part.empty() || part == L"." || part == L"..") {
            return false;
        }
        position = end + 1;
    }
    return true;
}

// What the journal holds: the swap's files in the order they go in, and the
// folders it makes, parents first.
struct Journal {
    bool done = false;
    std::vector<std::wstring> folders;
    std::vector<std::wstring> files;
};

struct Layout {
    std::wstring target, staging, backup, journal;

    explicit Layout(const std::wstring& programFolder)
        : target(programFolder), staging(programFolder + L"\\" + std::wstring(kStagingFolderName)),
          backup(programFolder + L"\\" + std::wstring(kBackupFolderName)),
          journal(programFolder + L"\\" + std::wstring(kJournalFileName))
    {
    }
};

void WriteJournal(const Layout& layout, const Journal& journal)
{
    std::string text(kJournalHeader);
    text += journal.done ? "\r\nstate=done\r\n" : "\r\nstate=swap\r\n";
    for (const std::wstring& folder : journal.folders) {
        text += "folder=" + ToUtf8(folder) + "\r\n";
    }
    for (const std::wstring& file : journal.files) {
        text += "file=" + ToUtf8(file) + "\r\n";
    }
    WriteFileAtomically(layout.journal, text);
}

// Nothing when the journal is not one the swap wrote.
std::optional<Journal> ReadJournal(const Layout& layout)
{
    const std::optional<std::string> bytes = ReadFileIfExists(layout.journal);
    if (!bytes) {
        return std::nullopt;
    }
    const std::vector<std::wstring> lines = SplitLines(FromUtf8(*bytes));
    if (lines.size() < 2 || ToUtf8(lines[0]) != kJournalHeader) {
        return std::nullopt;
    }
    Journal journal;
    if (lines[1] == L"state=done") {
        journal.done = true;
    } else if (lines[1] != L"state=swap") {
        return std::nullopt;
    }
    for (std::size_t i = 2; i < lines.size(); ++i) {
        const std::wstring& line = lines[i];
        if (line.empty()) {
            continue;
        }
        std::vector<std::wstring>* list = nullptr;
        std::wstring path;
        if (line.starts_with(L"folder=")) {
            list = &journal.folders;
            path = line.substr(7);
        } else if (line.starts_with(L"file=")) {
            list = &journal.files;
            path = line.substr(5);
        }
        if (list == nullptr || !IsSafeRelativePath(path)) {
            return std::nullopt;
        }
        list->push_back(std::move(path));
    }
    return journal;
}

// Removes what a finished swap leaves. False when the backup (or the
// journal) is still there.
bool Finish(const Layout& layout)
{
    if (!RemoveTree(layout.backup)) {
        return false;
    }
    RemoveTree(layout.staging);
    return ::DeleteFileW(layout.journal.c_str()) || ::GetLastError() == ERROR_FILE_NOT_FOUND;
}

bool EveryFileMovedIn(const Layout& layout, const Journal& journal)
{
    return std::none_of(journal.files.begin(), journal.files.end(),
                        [&](const std::wstring& file) { return Exists(layout.staging + L"\\" + file); });
}

// Puts the old files back and the new ones into staging again, from any
// point of the swap. Each step looks at what is there, so an undo that is
// itself cut off can simply run again. True when everything is back.
bool Undo(const Layout& layout, const Journal& journal)
{
    bool restored = true;
    for (auto file = journal.files.rbegin(); file != journal.files.rend(); ++file) {
        const std::wstring target = layout.target + L"\\" + *file;
        const std::wstring staged = layout.staging + L"\\" + *file;
        const std::wstring old = layout.backup + L"\\" + *file;
        if (!Exists(staged) && Exists(target)) {
            // Moved in: back to staging.
            if (!MakeParents(layout.staging, *file) || !Move(target, staged)) {
                restored = false;
                continue;
            }
        }
        if (!Exists(old)) {
            continue;
        }
        if (!Exists(target)) {
            restored &= Move(old, target);
        } else {
            // Not replaced: the copy (perhaps half made) is not needed.
            restored &= ::DeleteFileW(old.c_str()) != FALSE;
        }
    }
    for (auto folder = journal.folders.rbegin(); folder != journal.folders.rend(); ++folder) {
        ::RemoveDirectoryW((layout.target + L"\\" + *folder).c_str());
    }
    if (!restored) {
        return false;
    }
    RemoveTree(layout.backup);
    return ::DeleteFileW(layout.journal.c_str()) || ::GetLastError() == ERROR_FILE_NOT_FOUND;
}

// One swap at a time per session: a start of the program that finds a
// journal while a helper still works on it leaves it alone. A helper that
// was killed abandons the mutex, and the next one takes it.
class SwapLock {
public:
    SwapLock() : mutex_(::CreateMutexW(nullptr, FALSE, L"Merovane.UpdateSwap"))
    {
        if (mutex_) {
            const DWORD wait = ::WaitForSingleObject(mutex_.get(), 0);
            owned_ = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
        }
    }
    ~SwapLock()
    {
        if (owned_) {
            ::ReleaseMutex(mutex_.get());
        }
    }
    SwapLock(const SwapLock&) = delete;
    SwapLock& operator=(const SwapLock&) = delete;

    [[nodiscard]] bool Owned() const noexcept { return owned_; }

private:
    unique_handle mutex_;
    bool owned_ = false;
};

Recovery Settle(const Layout& layout)
{
    std::optional<Journal> journal;
    try {
        if (!Exists(layout.journal)) {
            return Recovery::Nothing;
        }
        journal = ReadJournal(layout);
    } catch (...) {
        return Recovery::Failed;
    }
    if (!journal) {
        return Recovery::Failed;
    }
    if (journal->done || EveryFileMovedIn(layout, *journal)) {
        return Finish(layout) ? Recovery::Finished : Recovery::Failed;
    }
    return Undo(layout, *journal) ? Recovery::Undone : Recovery::Failed;
}

// Counts the swap's changes and stops at the limit.
class Steps {
public:
    explicit Steps(std::size_t limit) : limit_(limit) {}
    // False when the swap is to stop here.
    bool Next() noexcept { return ++done_ <= limit_; }

private:
    std::size_t limit_;
    std::size_t done_ = 0;
};

struct Stopped {};

} // namespace

bool WaitForProcess(HANDLE process, std::chrono::milliseconds timeout)
{
    // An inherited number that is no process (or none at all) is refused
    // rather than waited on.
    if (process == nullptr || ::GetProcessId(process) == 0) {
        ThrowWin32(ERROR_INVALID_HANDLE);
    }
    const auto milliseconds = std::clamp<std::chrono::milliseconds::rep>(timeout.count(), 0, INFINITE - 1);
    switch (::WaitForSingleObject(process, static_cast<DWORD>(milliseconds))) {
    case WAIT_OBJECT_0:
        return true;
    case WAIT_TIMEOUT:
        return false;
    default:
        ThrowLastError();
    }
}

bool HasUpdateJournal(const std::wstring& programFolder) noexcept
{
    return Exists(programFolder + L"\\" + std::wstring(kJournalFileName));
}

Recovery RecoverInterruptedUpdate(const std::wstring& programFolder) noexcept
{
    if (!HasUpdateJournal(programFolder)) {
        return Recovery::Nothing;
    }
    const SwapLock lock;
    if (!lock.Owned()) {
        return Recovery::Busy;
    }
    try {
        return Settle(Layout(programFolder));
    } catch (...) {
        return Recovery::Failed;
    }
}

std::vector<std::wstring> ApplyStagedUpdate(const std::wstring& programFolder, std::wstring_view programName,
                                            std::size_t stepLimit)
{
    const Layout layout(programFolder);
    const SwapLock lock;
    if (!lock.Owned()) {
        ThrowWin32(ERROR_BUSY);
    }
    // A swap cut off earlier is settled before this one begins; its journal
    // names the folders this one needs.
    switch (Settle(layout)) {
    case Recovery::Nothing:
    case Recovery::Finished:
    case Recovery::Undone:
        break;
    case Recovery::Busy:
    case Recovery::Failed:
        ThrowWin32(ERROR_BUSY);
    }
    // Without a journal a backup is a leftover nobody needs.
    if (!RemoveTree(layout.backup)) {
        ThrowWin32(ERROR_DIR_NOT_EMPTY);
    }

    Journal journal;
    bool stagingIsFolder = false;
    if (!Exists(layout.staging, &stagingIsFolder) || !stagingIsFolder ||
        (::GetFileAttributesW(layout.staging.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        ThrowWin32(ERROR_PATH_NOT_FOUND);
    }
    ListFiles(layout.staging, L"", journal.files, 0);
    std::sort(journal.files.begin(), journal.files.end());
    // The program goes in last: until then the old one is whole, and a swap
    // cut off before it is undone.
    const auto program = std::find_if(journal.files.begin(), journal.files.end(), [&](const std::wstring& file) {
        return ::CompareStringOrdinal(file.c_str(), static_cast<int>(file.size()), programName.data(),
                                      static_cast<int>(programName.size()), TRUE) == CSTR_EQUAL;
    });
    if (program != journal.files.end()) {
        std::rotate(program, program + 1, journal.files.end());
    }
    for (const std::wstring& file : journal.files) {
        for (std::size_t slash = file.find(L'\\'); slash != std::wstring::npos; slash = file.find(L'\\', slash + 1)) {
            const std::wstring part = file.substr(0, slash);
            if (!Exists(layout.target + L"\\" + part) &&
                std::find(journal.folders.begin(), journal.folders.end(), part) == journal.folders.end()) {
                journal.folders.push_back(part);
            }
        }
        // A folder in the way of a file is the user's, not ours to replace.
        bool folder = false;
        if (Exists(layout.target + L"\\" + file, &folder) && folder) {
            ThrowWin32(ERROR_ALREADY_EXISTS);
        }
    }

    Steps steps(stepLimit);
    if (!steps.Next()) {
        return {};
    }
    WriteJournal(layout, journal);
    try {
        for (const std::wstring& folder : journal.folders) {
            if (!steps.Next()) {
                throw Stopped{};
            }
            if (!::CreateDirectoryW((layout.target + L"\\" + folder).c_str(), nullptr)) {
                ThrowLastError();
            }
        }
        for (const std::wstring& file : journal.files) {
            const std::wstring target = layout.target + L"\\" + file;
            if (Exists(target)) {
                if (!steps.Next()) {
                    throw Stopped{};
                }
                const std::wstring old = layout.backup + L"\\" + file;
                if (!::CreateDirectoryW(layout.backup.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) {
                    ThrowLastError();
                }
                if (!MakeParents(layout.backup, file) || !::CopyFileW(target.c_str(), old.c_str(), FALSE)) {
                    ThrowLastError();
                }
                // A read-only file can't be replaced; its copy keeps the
                // attribute for a restore.
                const DWORD attributes = ::GetFileAttributesW(target.c_str());
                if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
                    ::SetFileAttributesW(target.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
                }
            }
            if (!steps.Next()) {
                throw Stopped{};
            }
            // One step: the old file is there until the new one is.
            if (!Move(layout.staging + L"\\" + file, target, MOVEFILE_REPLACE_EXISTING)) {
                ThrowLastError();
            }
        }
        if (!steps.Next()) {
            throw Stopped{};
        }
        journal.done = true;
        WriteJournal(layout, journal);
    } catch (const Stopped&) {
        return {};
    } catch (...) {
        // Every file in place means the swap is done but for its journal;
        // anything less is undone. A failed restore keeps the journal.
        if (EveryFileMovedIn(layout, journal)) {
            Finish(layout);
            return journal.files;
        }
        Undo(layout, journal);
        throw;
    }
    if (!steps.Next()) {
        return {};
    }
    Finish(layout);
    std::sort(journal.files.begin(), journal.files.end());
    return journal.files;
}

} // namespace merovane::update
