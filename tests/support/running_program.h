#pragma once

// A real program process started by a test, as a user or another program
// starts it, and the program's main window found among the desktop's.

#include "base/handles.h"
#include "support/sandbox.h"

#include <windows.h>

#include <chrono>
#include <string>
#include <string_view>

namespace merovane::test {

// A top-level window of the process with the class name given (visible ones
// only, unless asked otherwise), or nullptr.
inline HWND FindTopWindow(DWORD processId, std::wstring_view className, bool visibleOnly = true)
{
    struct Search {
        DWORD process;
        std::wstring className;
        bool visibleOnly;
        HWND found;
    } search{processId, std::wstring(className), visibleOnly, nullptr};
    ::EnumWindows(
        [](HWND window, LPARAM parameter) -> BOOL {
            auto* s = reinterpret_cast<Search*>(parameter);
            DWORD process = 0;
            ::GetWindowThreadProcessId(window, &process);
            wchar_t name[64]{};
            ::GetClassNameW(window, name, 64);
            if (process == s->process && (!s->visibleOnly || ::IsWindowVisible(window)) && s->className == name) {
                s->found = window;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// The main window (class TForm1) of the process, once it is visible.
inline HWND FindMainWindow(DWORD processId)
{
    return FindTopWindow(processId, L"TForm1");
}

// The visible main window of a program started from `path`, or nullptr.
inline HWND MainWindowOfProgramAt(const std::wstring& path)
{
    struct Search {
        const std::wstring* path;
        HWND found;
    } search{&path, nullptr};
    ::EnumWindows(
        [](HWND candidate, LPARAM parameter) -> BOOL {
            auto* s = reinterpret_cast<Search*>(parameter);
            DWORD id = 0;
            ::GetWindowThreadProcessId(candidate, &id);
            if (FindMainWindow(id) != candidate) {
                return TRUE;
            }
            const unique_handle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id));
            wchar_t image[MAX_PATH * 2]{};
            DWORD size = MAX_PATH * 2;
            if (process && ::QueryFullProcessImageNameW(process.get(), 0, image, &size) &&
                lstrcmpiW(image, s->path->c_str()) == 0) {
                s->found = candidate;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// Asks a program to end as Windows' Restart Manager and the installer do.
inline void CloseAsAnInstallerDoes(HWND window)
{
    ::SendMessageTimeoutW(window, WM_QUERYENDSESSION, 0, ENDSESSION_CLOSEAPP, SMTO_ABORTIFHUNG, 5000, nullptr);
    ::SendMessageTimeoutW(window, WM_ENDSESSION, TRUE, ENDSESSION_CLOSEAPP, SMTO_ABORTIFHUNG, 5000, nullptr);
}

class RunningProgram {
public:
    // The program built with the tests.
    static std::wstring Path() { return (TestBinaryDir().parent_path() / L"bin" / L"Merovane.exe").wstring(); }

    explicit RunningProgram(const std::wstring& path = Path(), const std::wstring& arguments = {})
    {
        std::wstring command = L"\"" + path + L"\"" + (arguments.empty() ? L"" : L" " + arguments);
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION info{};
        if (::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
            process_.reset(info.hProcess);
            ::CloseHandle(info.hThread);
            id_ = info.dwProcessId;
        }
    }

    // Takes over a process started elsewhere.
    explicit RunningProgram(DWORD processId)
        : process_(::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE, FALSE,
                                 processId)),
          id_(processId)
    {
    }

    RunningProgram(const RunningProgram&) = delete;
    RunningProgram& operator=(const RunningProgram&) = delete;

    [[nodiscard]] bool Started() const { return static_cast<bool>(process_); }
    [[nodiscard]] DWORD Id() const noexcept { return id_; }

    // The program's main window once it is visible, or nullptr.
    HWND WaitForMainWindow(std::chrono::seconds timeout) const
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < deadline) {
            if (HWND found = FindMainWindow(id_)) {
                return found;
            }
            if (::WaitForSingleObject(process_.get(), 100) == WAIT_OBJECT_0) {
                return nullptr;
            }
        }
        return nullptr;
    }

    // The exit code, or STILL_ACTIVE when it did not end in time.
    DWORD WaitForExit(DWORD timeoutMs) const
    {
        ::WaitForSingleObject(process_.get(), timeoutMs);
        DWORD code = STILL_ACTIVE;
        ::GetExitCodeProcess(process_.get(), &code);
        return code;
    }

    ~RunningProgram()
    {
        if (process_ && WaitForExit(0) == STILL_ACTIVE) {
            ::TerminateProcess(process_.get(), 1);
        }
    }

private:
    unique_handle process_;
    DWORD id_ = 0;
};

} // namespace merovane::test
