#include "update/package_install.h"

#include "base/error.h"
#include "base/text_case.h"
#include "update/package_download.h"
#include "update/package_zip.h"
#include "update/portable_apply.h"

#include <shellapi.h>

#include <filesystem>
#include <vector>

namespace merovane::update {

namespace {

void RemoveTree(const std::wstring& path) noexcept
{
    std::error_code ignored;
    std::filesystem::remove_all(std::filesystem::path(path), ignored);
}

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

unique_handle StartProgram(const std::wstring& program, const std::wstring& arguments)
{
    std::wstring commandLine = QuoteArgument(program);
    if (!arguments.empty()) {
        commandLine += L' ';
        commandLine += arguments;
    }
    const std::wstring folder = FolderOf(program);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          folder.empty() ? nullptr : folder.c_str(), &startup, &process)) {
        ThrowLastError();
    }
    ::CloseHandle(process.hThread);
    return unique_handle(process.hProcess);
}

PortableStart StartPortableUpdate(const PortableUpdate& update)
{
    const std::wstring staging = StagingFolder(update.programFolder);
    // Whatever an earlier attempt left there is no longer wanted.
    RemoveTree(staging);
    const ZipExtraction extraction = ExtractZipPackage(update.zip, staging);
    if (!extraction.ok()) {
        return {.problem = PortableProblem::PackageRefused};
    }
    const std::wstring stagedProgram = staging + L"\\" + update.exeName;
    if (!IsPlainFileName(update.exeName) || !IsFile(stagedProgram)) {
        RemoveTree(staging);
        return {.problem = PortableProblem::NoProgram};
    }
    std::wstring helperFolder;
    try {
        // The helper runs from a folder nobody else could have put files in,
        // not from the program folder it is about to replace.
        helperFolder = MakePrivateFolder(update.tempRoot);
        const std::wstring helper = helperFolder + L"\\" + update.exeName;
        if (!::CopyFileW(stagedProgram.c_str(), helper.c_str(), TRUE)) {
            ThrowLastError();
        }
        const std::wstring arguments = std::wstring(kApplyUpdateSwitch) + L" " + std::to_wstring(update.processId) +
                                       L" " + QuoteArgument(staging) + L" " + QuoteArgument(update.programFolder) +
                                       L" " + QuoteArgument(update.exeName);
        return {.helper = StartProgram(helper, arguments)};
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
    const std::wstring& id = arguments[2];
    if (id.empty() || id.size() > 10 || id.find_first_not_of(L"0123456789") != std::wstring::npos) {
        return std::nullopt;
    }
    const unsigned long long number = std::stoull(id);
    if (number == 0 || number > 0xFFFFFFFFull) {
        return std::nullopt;
    }
    parsed.processId = static_cast<DWORD>(number);
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
    try {
        if (!WaitForProcessExit(arguments.processId, exitTimeout)) {
            // The old program still runs: swapping its files now could leave
            // it half-updated, and a second copy would only find the first.
            RemoveTree(arguments.staging);
            return 2;
        }
    } catch (const Error&) {
        RemoveTree(arguments.staging);
        return 2;
    }
    // The new program removes this helper's folder once the helper is gone.
    std::wstring restartArguments = std::wstring(kUpdatedSwitch) + L" " + std::to_wstring(::GetCurrentProcessId());
    int exitCode = 0;
    const std::wstring backup = arguments.programFolder + L"\\" + std::wstring(kBackupFolderName);
    try {
        ApplyStagedUpdate(arguments.staging, arguments.programFolder, backup);
        // The old program's file can stay locked for a moment after its
        // process has ended; everything in the backup is old now.
        for (int attempt = 0; attempt < 50 && Exists(backup); ++attempt) {
            ::Sleep(100);
            RemoveTree(backup);
        }
    } catch (const Error& error) {
        RemoveTree(arguments.staging);
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
        if (!programFolder.empty() && Exists(StagingFolder(programFolder))) {
            folders.push_back(StagingFolder(programFolder));
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
            // Folders only, and no links: a link's target is not ours.
            if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
                (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
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
