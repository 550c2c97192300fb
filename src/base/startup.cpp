#include "base/startup.h"

#include "base/file_info.h"
#include "base/handles.h"
#include "base/settings_file.h"

#include <winternl.h>

#include <cstring>

namespace merovane {

namespace {

// Held until the process ends; the system releases it then.
HANDLE g_instanceMutex = nullptr;

constexpr wchar_t kMainWindowProperty[] = L"Merovane.MainWindow";

} // namespace

bool IsAnotherInstanceRunning()
{
    const std::wstring name(kApplicationTitle);
    // Existence is all that is asked, so the least access: an elevated copy's
    // mutex grants a normal start no more than that.
    unique_handle existing(::OpenMutexW(SYNCHRONIZE, FALSE, name.c_str()));
    if (existing || ::GetLastError() == ERROR_ACCESS_DENIED) {
        return true;
    }
    unique_handle created(::CreateMutexW(nullptr, FALSE, name.c_str()));
    const DWORD error = ::GetLastError();
    if (!created) {
        return error == ERROR_ACCESS_DENIED;
    }
    if (error == ERROR_ALREADY_EXISTS) {
        return true; // the other copy made it between the two calls
    }
    g_instanceMutex = created.release();
    return false;
}

UINT ActivationMessage()
{
    static const UINT message = ::RegisterWindowMessageW(L"Merovane.ShowMainWindow");
    return message;
}

void MarkAsMainWindow(HWND window)
{
    ::SetPropW(window, kMainWindowProperty, reinterpret_cast<HANDLE>(static_cast<INT_PTR>(1)));
}

bool ActivateRunningInstance(WPARAM wParam, LPARAM lParam)
{
    HWND found = nullptr;
    HWND candidate = nullptr;
    while ((candidate = ::FindWindowExW(nullptr, candidate, L"TForm1", nullptr)) != nullptr) {
        if (::GetPropW(candidate, kMainWindowProperty) != nullptr) {
            found = candidate;
            break;
        }
    }
    if (found == nullptr) {
        return false;
    }
    DWORD process = 0;
    ::GetWindowThreadProcessId(found, &process);
    ::AllowSetForegroundWindow(process);
    return ::PostMessageW(found, ActivationMessage(), wParam, lParam) != FALSE;
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
