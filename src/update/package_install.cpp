#include "update/package_install.h"

#include "base/error.h"
#include "base/file_tree.h"
#include "base/text_case.h"
#include "update/package_download.h"
#include "update/package_zip.h"
#include "update/portable_apply.h"

#include <shellapi.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace merovane::update {

namespace {

std::wstring FolderOf(const std::wstring& path)
{
    const std::size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

bool Exists(const std::wstring& path)
{
    return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool IsFile(const std::wstring& path)
{
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool IsPlainFileName(std::wstring_view name)
{
    return !name.empty() && name != L"." && name != L".." &&
           name.find_first_of(L"\\/:*?\"<>|") == std::wstring_view::npos;
}

std::wstring StagingFolder(const std::wstring& programFolder)
{
    return programFolder + L"\\" + std::wstring(kStagingFolderName);
}

std::wstring BackupFolder(const std::wstring& programFolder)
{
    return programFolder + L"\\" + std::wstring(kBackupFolderName);
}

// Exactly the names MakePrivateFolder gives: the prefix and 16 hex digits.
bool IsPrivateFolderName(std::wstring_view name)
{
    if (name.size() != kPrivateFolderPrefix.size() + 16 || !name.starts_with(kPrivateFolderPrefix)) {
        return false;
    }
    return name.substr(kPrivateFolderPrefix.size()).find_first_not_of(L"0123456789abcdef") == std::wstring_view::npos;
}

// Staging is only removed while no journal needs it.
void RemoveStaging(const std::wstring& programFolder)
{
    if (!HasUpdateJournal(programFolder)) {
        RemoveTree(StagingFolder(programFolder));
    }
}

} // namespace

std::wstring QuietInstallerArguments(std::wstring_view languageBaseName)
{
    return L"/SILENT /CLOSEAPPLICATIONS /SUPPRESSMSGBOXES /LANG=" + std::wstring(languageBaseName) +
           L" /MERGETASKS=\"runcmd1\"";
}

std::wstring QuoteArgument(std::wstring_view argument)
{
    std::wstring quoted = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        // Backslashes before a quote are doubled, and the quote escaped.
        quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted += c;
    }
    // And before the closing quote.
    quoted.append(backslashes * 2, L'\\');
    quoted += L'"';
    return quoted;
}

unique_handle StartInstaller(const std::wstring& installer, const std::wstring& arguments)
{
    const std::wstring folder = FolderOf(installer);
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
    info.lpVerb = L"open";
    info.lpFile = installer.c_str();
    info.lpParameters = arguments.empty() ? nullptr : arguments.c_str();
    info.lpDirectory = folder.empty() ? nullptr : folder.c_str();
    info.nShow = SW_SHOWNORMAL;
    if (!::ShellExecuteExW(&info)) {
        ThrowLastError();
    }
    return unique_handle(info.hProcess);
}

unique_handle StartProgram(const std::wstring& program, const std::wstring& arguments, HANDLE inherited)
{
    std::wstring commandLine = QuoteArgument(program);
    if (!arguments.empty()) {
        commandLine += L' ';
        commandLine += arguments;
    }
    const std::wstring folder = FolderOf(program);
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof(startup);
    // Only the one handle is inherited, not whatever else happens to be
    // inheritable in this process.
    std::vector<std::uint8_t> attributes;
    DWORD flags = 0;
    if (inherited != nullptr) {
        SIZE_T size = 0;
        ::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
        attributes.resize(size);
        startup.lpAttributeList = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributes.data());
        if (!::InitializeProcThreadAttributeList(startup.lpAttributeList, 1, 0, &size)) {
            ThrowLastError();
        }
        if (!::UpdateProcThreadAttribute(startup.lpAttributeList, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, &inherited,
                                         sizeof(inherited), nullptr, nullptr)) {
            const DWORD error = ::GetLastError();
            ::DeleteProcThreadAttributeList(startup.lpAttributeList);
            ThrowWin32(error);
        }
        startup.StartupInfo.cb = sizeof(STARTUPINFOEXW);
        flags = EXTENDED_STARTUPINFO_PRESENT;
    } else {
        startup.StartupInfo.cb = sizeof(STARTUPINFOW);
    }
    PROCESS_INFORMATION process{};
    const BOOL started =
        ::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, inherited != nullptr, flags, nullptr,
                         folder.empty() ? nullptr : folder.c_str(), &startup.StartupInfo, &process);
    const DWORD error = ::GetLastError();
    if (startup.lpAttributeList != nullptr) {
        ::DeleteProcThreadAttributeList(startup.lpAttributeList);
    }
    if (!started) {
        ThrowWin32(error);
    }
    ::CloseHandle(process.hThread);
    return unique_handle(process.hProcess);
}

unique_file OpenUnchanged(const std::wstring& path, const Sha256Digest& expected)
{
    unique_file file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) {
        ThrowLastError();
    }
    const std::optional<FileDigest> digest = Sha256OfOpenFile(file.get(), kMaxUnpackedBytes);
    if (!digest || digest->sha256 != expected) {
        return {};
    }
    return file;
}

PortableStart StartPortableUpdate(const PortableUpdate& update)
{
    // A swap an earlier update left unfinished owns staging and backup until
    // it is settled.
    const Recovery recovery = RecoverInterruptedUpdate(update.programFolder);
    if (recovery == Recovery::Busy || recovery == Recovery::Failed) {
        ThrowWin32(ERROR_BUSY);
    }
    const std::wstring staging = StagingFolder(update.programFolder);
    // Whatever an earlier attempt left there is no longer wanted.
    RemoveTree(staging);
    const ZipExtraction extraction = update.zipFile != nullptr ? ExtractZipPackage(update.zipFile, staging)
                                                               : ExtractZipPackage(update.zip, staging);
    if (!extraction.ok()) {
        return {.problem = PortableProblem::PackageRefused};
    }
    const std::wstring stagedProgram = staging + L"\\" + update.exeName;
    const auto entry = std::find_if(extraction.files.begin(), extraction.files.end(),
                                    [&](const std::wstring& file) { return EqualIgnoringCase(file, update.exeName); });
    if (!IsPlainFileName(update.exeName) || !IsFile(stagedProgram) || entry == extraction.files.end()) {
        RemoveTree(staging);
        return {.problem = PortableProblem::NoProgram};
    }
    const Sha256Digest& packaged = extraction.sha256[static_cast<std::size_t>(entry - extraction.files.begin())];
    std::wstring helperFolder;
    try {
        // The staged program and the helper's copy are held open, unchangeable,
        // from the check until the helper runs.
        const unique_file staged = OpenUnchanged(stagedProgram, packaged);
        if (!staged) {
            RemoveTree(staging);
            return {.problem = PortableProblem::PackageRefused};
        }
        // The helper runs from a folder nobody else could have put files in,
        // not from the program folder it is about to replace.
        helperFolder = MakePrivateFolder(update.tempRoot);
        const std::wstring helper = helperFolder + L"\\" + update.exeName;
        if (!::CopyFileW(stagedProgram.c_str(), helper.c_str(), TRUE)) {
            ThrowLastError();
        }
        const unique_file copied = OpenUnchanged(helper, packaged);
        if (!copied) {
            RemoveTree(staging);
            RemoveTree(helperFolder);
            return {.problem = PortableProblem::PackageRefused};
        }
        // The helper waits on a handle to the process, which no other process
        // can come to stand for, as a process id can.
        HANDLE inheritable = nullptr;
        if (!::DuplicateHandle(::GetCurrentProcess(), update.process != nullptr ? update.process : ::GetCurrentProcess(),
                               ::GetCurrentProcess(), &inheritable, SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION,
                               TRUE, 0)) {
            ThrowLastError();
        }
        const unique_handle waitFor(inheritable);
        const std::wstring arguments = std::wstring(kApplyUpdateSwitch) + L" " +
                                       std::to_wstring(static_cast<unsigned long long>(
                                           reinterpret_cast<std::uintptr_t>(waitFor.get()))) +
                                       L" " + QuoteArgument(staging) + L" " + QuoteArgument(update.programFolder) +
                                       L" " + QuoteArgument(update.exeName);
        return {.helper = StartProgram(helper, arguments, waitFor.get())};
    } catch (const Error&) {
        RemoveTree(staging);
        if (!helperFolder.empty()) {
            RemoveTree(helperFolder);
        }
        throw;
    }
}

std::optional<ApplyUpdateArguments> ParseApplyUpdateArguments(std::span<const std::wstring> arguments)
{
    if (arguments.size() != 6 || arguments[1] != kApplyUpdateSwitch) {
        return std::nullopt;
    }
    ApplyUpdateArguments parsed;
    // The inherited handle's value; handles fit in 32 bits in 64-bit
    // processes too.
    const std::wstring& handle = arguments[2];
    if (handle.empty() || handle.size() > 10 || handle.find_first_not_of(L"0123456789") != std::wstring::npos) {
        return std::nullopt;
    }
    const unsigned long long number = std::stoull(handle);
    if (number == 0 || number > 0xFFFFFFFFull) {
        return std::nullopt;
    }
    parsed.process = reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(number));
    parsed.staging = arguments[3];
    parsed.programFolder = arguments[4];
    parsed.exeName = arguments[5];
    // The helper moves files out of one folder only: the staging folder of
    // the program folder it names.
    if (parsed.programFolder.empty() || !IsPlainFileName(parsed.exeName) ||
        !EqualIgnoringCase(parsed.staging, StagingFolder(parsed.programFolder))) {
        return std::nullopt;
    }
    return parsed;
}

int RunApplyUpdate(const ApplyUpdateArguments& arguments, std::chrono::milliseconds exitTimeout)
{
    const std::wstring program = arguments.programFolder + L"\\" + arguments.exeName;
    DWORD failure = ERROR_SUCCESS;
    try {
        if (!WaitForProcess(arguments.process, exitTimeout)) {
            failure = WAIT_TIMEOUT;
        }
    } catch (const Error& error) {
        failure = error.code();
    }
    if (failure != ERROR_SUCCESS) {
        // The old program may still run: swapping its files now could leave
        // it half-updated. The program is started all the same, to say so.
        RemoveStaging(arguments.programFolder);
        try {
            StartProgram(program, std::wstring(kUpdateFailedSwitch) + L" " + std::to_wstring(failure));
        } catch (const Error&) {
        }
        return 2;
    }
    // The new program removes this helper's folder once the helper is gone.
    std::wstring restartArguments = std::wstring(kUpdatedSwitch) + L" " + std::to_wstring(::GetCurrentProcessId());
    int exitCode = 0;
    try {
        ApplyStagedUpdate(arguments.programFolder, arguments.exeName);
    } catch (const Error& error) {
        RemoveStaging(arguments.programFolder);
        restartArguments = std::wstring(kUpdateFailedSwitch) + L" " + std::to_wstring(error.code());
        exitCode = 1;
    }
    try {
        StartProgram(program, restartArguments);
    } catch (const Error&) {
        return exitCode == 0 ? 3 : exitCode;
    }
    return exitCode;
}

std::vector<std::wstring> FindUpdateLeftovers(const std::wstring& programFolder, const std::wstring& tempRoot)
{
    std::vector<std::wstring> folders;
    try {
        if (!programFolder.empty() && !HasUpdateJournal(programFolder)) {
            for (const std::wstring& folder : {StagingFolder(programFolder), BackupFolder(programFolder)}) {
                if (Exists(folder)) {
                    folders.push_back(folder);
                }
            }
        }
        std::wstring root = tempRoot;
        if (root.empty()) {
            wchar_t temp[MAX_PATH + 1]{};
            const DWORD length = ::GetTempPathW(MAX_PATH + 1, temp);
            if (length == 0 || length > MAX_PATH) {
                return folders;
            }
            root.assign(temp, length);
        }
        if (root.back() != L'\\' && root.back() != L'/') {
            root += L'\\';
        }
        const std::wstring pattern = root + std::wstring(kPrivateFolderPrefix) + L"*";
        WIN32_FIND_DATAW found{};
        const unique_find search(::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found,
                                                    FindExSearchLimitToDirectories, nullptr, 0));
        if (!search) {
            return folders;
        }
        do {
            // Folders of exactly our naming only, and no links: a link's
            // target is not ours.
            if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
                (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 && IsPrivateFolderName(found.cFileName)) {
                folders.push_back(root + found.cFileName);
            }
        } while (::FindNextFileW(search.get(), &found));
    } catch (...) {
        // Leftovers harm nothing; the next start looks again.
    }
    return folders;
}

void RemoveFolders(const std::vector<std::wstring>& folders) noexcept
{
    for (const std::wstring& folder : folders) {
        RemoveTree(folder);
    }
}

} // namespace merovane::update
