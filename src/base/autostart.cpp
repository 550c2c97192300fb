#include "base/autostart.h"

#include "base/error.h"
#include "base/handles.h"
#include "base/registry.h"
#include "base/settings_file.h"

#include <windows.h>

namespace merovane {

namespace {

// "X:\..." or a UNC path: nothing that the current folder completes.
bool IsFullPath(std::wstring_view path) noexcept
{
    if (path.size() >= 3 && path[1] == L':' && path[2] == L'\\') {
        const wchar_t drive = path[0];
        return (drive >= L'A' && drive <= L'Z') || (drive >= L'a' && drive <= L'z');
    }
    return path.size() >= 3 && path[0] == L'\\' && path[1] == L'\\' && path[2] != L'\\';
}

} // namespace

std::wstring AutoStartCommand(std::wstring_view executablePath)
{
    std::wstring command;
    command.reserve(executablePath.size() + 2);
    command += L'"';
    command += executablePath;
    command += L'"';
    return command;
}

bool IsAutoStartCommandFor(std::wstring_view runValue, std::wstring_view executablePath)
{
    if (executablePath.empty()) {
        return false;
    }
    return runValue == executablePath || runValue == AutoStartCommand(executablePath);
}

bool CheckAutoStart(std::wstring_view executablePath)
{
    RegistryAccessor registry(HKEY_CURRENT_USER, KEY_READ);
    if (!registry.OpenKey(kRunKey, true) || !registry.ValueExists(kApplicationTitle)) {
        return false;
    }
    try {
        return IsAutoStartCommandFor(registry.ReadString(kApplicationTitle), executablePath);
    } catch (const Error&) {
        // Not a string: nothing this program wrote, so not ours to show or replace.
        return false;
    }
}

void CreateAutoStart(bool enabled, std::wstring_view executablePath)
{
    RegistryAccessor registry(HKEY_CURRENT_USER, KEY_READ | KEY_WRITE);
    if (!registry.OpenKey(kRunKey, true)) {
        if (enabled) {
            ThrowWin32(ERROR_CANTOPEN);
        }
        return;
    }
    if (enabled) {
        registry.WriteString(kApplicationTitle, AutoStartCommand(executablePath));
    } else {
        registry.DeleteValue(kApplicationTitle);
    }
}

std::wstring SchtasksPath()
{
    std::wstring folder(MAX_PATH, L'\0');
    for (;;) {
        const UINT length = ::GetSystemDirectoryW(folder.data(), static_cast<UINT>(folder.size()));
        if (length == 0) {
            return {}; // starts nothing
        }
        if (length < folder.size()) {
            folder.resize(length);
            break;
        }
        folder.resize(length);
    }
    return folder + L"\\schtasks.exe";
}

void CreateScheduledTask(bool enabled, std::wstring_view taskName)
{
    CreateScheduledTask(enabled, taskName, SchtasksPath());
}

void CreateScheduledTask(bool enabled, std::wstring_view taskName, std::wstring_view program)
{
    if (enabled) {
        return;
    }
    std::wstring parameters = L"/delete /tn \"";
    parameters += taskName;
    parameters += L"\" /f";
    RunHiddenAndWait(program, parameters);
}

int RunHiddenAndWait(std::wstring_view program, std::wstring_view parameters)
{
    if (!IsFullPath(program)) {
        return -1;
    }
    const std::wstring application(program);
    std::wstring commandLine = L"\"" + application + L"\" ";
    commandLine += parameters;

    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION started{};
    // CreateProcessW may write into the command line, so it gets its own copy.
    if (!::CreateProcessW(application.c_str(), commandLine.data(), nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS, nullptr,
                          nullptr, &startup, &started)) {
        return -1;
    }
    const unique_handle process(started.hProcess);
    const unique_handle thread(started.hThread);

    ::WaitForSingleObject(process.get(), INFINITE);
    DWORD exitCode = 0;
    if (!::GetExitCodeProcess(process.get(), &exitCode)) {
        return -1;
    }
    return static_cast<int>(exitCode);
}

void ApplyAutoStart(bool checked, std::wstring_view executablePath, std::wstring_view taskName)
{
    ApplyAutoStart(checked, executablePath, taskName, SchtasksPath());
}

void ApplyAutoStart(bool checked, std::wstring_view executablePath, std::wstring_view taskName,
                    std::wstring_view schtasks)
{
    CreateScheduledTask(false, taskName, schtasks);
    CreateAutoStart(checked, executablePath);
}

} // namespace merovane
