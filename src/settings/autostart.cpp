#include "settings/autostart.h"

#include "core/error.h"
#include "core/handles.h"
#include "core/registry.h"
#include "shell/settings_file.h"

#include <windows.h>

namespace merovane {

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
    std::wstring commandLine(program);
    commandLine += L' ';
    commandLine += parameters;

    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION started{};
    // CreateProcessW may write into the command line, so it gets its own copy.
    if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS, nullptr,
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

void ApplyAutoStart(bool checked, std::wstring_view executablePath, std::wstring_view taskName,
                    std::wstring_view schtasks)
{
    CreateScheduledTask(false, taskName, schtasks);
    CreateAutoStart(checked, executablePath);
}

} // namespace merovane
