#include "base/shell_restart.h"

#include "base/handles.h"
#include "base/text_case.h"

#include <restartmanager.h>
#include <tlhelp32.h>

#include <algorithm>
#include <chrono>
#include <thread>

namespace merovane {

namespace {

using Clock = std::chrono::steady_clock;

std::wstring ProcessImage(HANDLE process)
{
    wchar_t path[MAX_PATH * 2]{};
    DWORD length = MAX_PATH * 2;
    if (!::QueryFullProcessImageNameW(process, 0, path, &length)) {
        return {};
    }
    return std::wstring(path, length);
}

std::wstring WindowsExplorerPath()
{
    wchar_t folder[MAX_PATH]{};
    const UINT length = ::GetWindowsDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return {};
    }
    return std::wstring(folder, length) + L"\\explorer.exe";
}

// Waits for a process of the image other than `except` to come up.
DWORD WaitForProcessByImage(const std::wstring& image, DWORD except, Clock::time_point deadline)
{
    for (;;) {
        if (const DWORD found = FindProcessByImage(image, except)) {
            return found;
        }
        if (Clock::now() >= deadline) {
            return 0;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

bool WaitForEnd(HANDLE process, std::chrono::milliseconds timeout)
{
    return ::WaitForSingleObject(process, static_cast<DWORD>(timeout.count())) == WAIT_OBJECT_0;
}

// The Restart Manager's way: it asks the shell to close, and starts it again
// with the windows it registered. True when the old process ended.
bool RestartThroughRestartManager(HANDLE process, DWORD id, std::chrono::milliseconds timeout)
{
    DWORD session = 0;
    WCHAR key[CCH_RM_SESSION_KEY + 1]{};
    if (::RmStartSession(&session, 0, key) != ERROR_SUCCESS) {
        return false;
    }
    RM_UNIQUE_PROCESS unique{};
    unique.dwProcessId = id;
    FILETIME exit{}, kernel{}, user{};
    bool ended = false;
    if (::GetProcessTimes(process, &unique.ProcessStartTime, &exit, &kernel, &user) &&
        ::RmRegisterResources(session, 0, nullptr, 1, &unique, 0, nullptr) == ERROR_SUCCESS &&
        ::RmShutdown(session, RmForceShutdown, nullptr) == ERROR_SUCCESS) {
        ended = WaitForEnd(process, timeout);
        if (ended) {
            ::RmRestart(session, 0, nullptr);
        }
    }
    ::RmEndSession(session);
    return ended;
}

} // namespace

DWORD FindProcessByImage(const std::wstring& image, DWORD except)
{
    const unique_handle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot || snapshot.get() == INVALID_HANDLE_VALUE) {
        return 0;
    }
    const std::wstring_view fileName = std::wstring_view(image).substr(image.find_last_of(L"\\/") + 1);
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more; more = ::Process32NextW(snapshot.get(), &entry)) {
        if (entry.th32ProcessID == except || !EqualIgnoringCase(entry.szExeFile, fileName)) {
            continue;
        }
        const unique_handle candidate(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID));
        if (candidate && EqualIgnoringCase(ProcessImage(candidate.get()), image)) {
            return entry.th32ProcessID;
        }
    }
    return 0;
}

std::optional<ShellProcess> FindShellProcess()
{
    HWND window = ::GetShellWindow();
    if (window == nullptr) {
        window = ::FindWindowW(L"Shell_TrayWnd", nullptr);
    }
    DWORD id = 0;
    if (window == nullptr || ::GetWindowThreadProcessId(window, &id) == 0 || id == 0) {
        return std::nullopt;
    }
    const unique_handle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id));
    if (!process) {
        return std::nullopt;
    }
    ShellProcess shell{id, ProcessImage(process.get())};
    // Another shell (a replacement, or none of Windows') is not ours to restart.
    if (shell.image.empty() || !EqualIgnoringCase(shell.image, WindowsExplorerPath())) {
        return std::nullopt;
    }
    return shell;
}

ShellRestart RestartShell(const ShellProcess& shell, std::chrono::milliseconds timeout)
{
    const unique_handle process(
        ::OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, shell.id));
    if (!process) {
        return {ShellRestartOutcome::Failed, ::GetLastError()};
    }
    // The id may have been reused since it was found.
    if (!EqualIgnoringCase(ProcessImage(process.get()), shell.image)) {
        return {ShellRestartOutcome::Failed, ERROR_NOT_FOUND};
    }
    if (RestartThroughRestartManager(process.get(), shell.id, timeout) &&
        WaitForProcessByImage(shell.image, shell.id, Clock::now() + timeout) != 0) {
        return {ShellRestartOutcome::Restarted, ERROR_SUCCESS};
    }
    if (::WaitForSingleObject(process.get(), 0) != WAIT_OBJECT_0) {
        if (!::TerminateProcess(process.get(), 1)) {
            return {ShellRestartOutcome::Failed, ::GetLastError()};
        }
        if (!WaitForEnd(process.get(), timeout)) {
            return {ShellRestartOutcome::Failed, WAIT_TIMEOUT};
        }
    }
    // Windows brings a shell that ended back by itself; a second one
    // started now would open a folder window instead.
    if (WaitForProcessByImage(shell.image, shell.id, Clock::now() + std::min(timeout, std::chrono::milliseconds(3'000))) != 0) {
        return {ShellRestartOutcome::RestartedDirectly, ERROR_SUCCESS};
    }
    std::wstring commandLine = L"\"" + shell.image + L"\"";
    const std::wstring folder = shell.image.substr(0, shell.image.find_last_of(L"\\/"));
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION started{};
    if (!::CreateProcessW(shell.image.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          folder.c_str(), &startup, &started)) {
        return {ShellRestartOutcome::Failed, ::GetLastError()};
    }
    ::CloseHandle(started.hThread);
    ::CloseHandle(started.hProcess);
    return {ShellRestartOutcome::RestartedDirectly, ERROR_SUCCESS};
}

} // namespace merovane
