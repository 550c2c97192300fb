#include "shell/startup.h"

#include "core/file_info.h"
#include "core/handles.h"
#include "shell/settings_file.h"

#include <winternl.h>

#include <cstring>

namespace merovane {

namespace {

// Held until the process ends; the system releases it then.
HANDLE g_instanceMutex = nullptr;

} // namespace

bool IsAnotherInstanceRunning()
{
    const std::wstring name(kApplicationTitle);
    unique_handle existing(::OpenMutexW(MUTEX_ALL_ACCESS, FALSE, name.c_str()));
    if (existing) {
        return true;
    }
    g_instanceMutex = ::CreateMutexW(nullptr, FALSE, name.c_str());
    return false;
}

bool IsWindows11Version(DWORD major, DWORD build)
{
    return major == 10 && build >= 22000;
}

bool IsWindows11()
{
    // GetVersionEx is subject to compatibility shims; RtlGetVersion reports
    // what the system is.
    using RtlGetVersionFunction = LONG(WINAPI*)(RTL_OSVERSIONINFOW*);
    HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    if (ntdll == nullptr) {
        return false;
    }
    auto* address = ::GetProcAddress(ntdll, "RtlGetVersion");
    if (address == nullptr) {
        return false;
    }
    RtlGetVersionFunction rtlGetVersion;
    static_assert(sizeof(rtlGetVersion) == sizeof(address));
    std::memcpy(&rtlGetVersion, &address, sizeof(address));
    RTL_OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof(info);
    if (rtlGetVersion(&info) != 0) {
        return false;
    }
    return IsWindows11Version(info.dwMajorVersion, info.dwBuildNumber);
}

std::wstring ArchitectureLabel()
{
    return sizeof(void*) == 8 ? L"(64-bit)" : L"(32-bit)";
}

std::wstring ProgramVersionText()
{
    return GetFileVersionText(OwnExecutablePath());
}

std::wstring MainWindowCaption(std::wstring_view designed, std::wstring_view version, std::wstring_view architecture,
                               bool portable)
{
    std::wstring caption(designed);
    caption += L' ';
    caption += version;
    caption += L' ';
    caption += architecture;
    if (portable) {
        caption += L" Portable";
    }
    return caption;
}

} // namespace merovane
