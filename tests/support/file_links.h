#pragma once

// Links for the tests of code that must never follow one. Windows makes them
// with CreateSymbolicLinkW. Wine 8 reports success there without making
// anything, and can't set a junction's reparse point, but it shows a Unix
// symbolic link as a reparse point (a folder link) or as the file it points at
// (a file link): under Wine /bin/ln makes them.

#include <windows.h>

#include <chrono>
#include <string>
#include <thread>

namespace merovane::test {

namespace detail {

// The Unix path of a Windows path under Wine; empty elsewhere.
inline std::string UnixPath(const std::wstring& path)
{
    using Function = char*(CDECL*)(LPCWSTR);
    const FARPROC address = ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name");
    if (address == nullptr) {
        return {};
    }
    const auto function = reinterpret_cast<Function>(reinterpret_cast<void*>(address));
    char* unix = function(path.c_str());
    if (unix == nullptr) {
        return {};
    }
    std::string result(unix);
    ::HeapFree(::GetProcessHeap(), 0, unix);
    return result;
}

// Runs a Unix program under Wine and waits until `done` holds: Wine can't
// wait for a Unix process.
template <typename Done>
inline bool RunUnix(const std::wstring& program, std::string commandLine, Done done)
{
    std::wstring wide(commandLine.begin(), commandLine.end());
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!::CreateProcessW(program.c_str(), wide.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &info)) {
        return false;
    }
    ::CloseHandle(info.hThread);
    ::CloseHandle(info.hProcess);
    for (int wait = 0; wait < 100; ++wait) {
        if (done()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return done();
}

inline bool Exists(const std::wstring& path)
{
    return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

} // namespace detail

// Makes `link` point at `target` (a folder or a file). False when this system
// can make no such link. Paths without blanks.
inline bool MakeLink(const std::wstring& link, const std::wstring& target, bool folder)
{
    const DWORD flags = (folder ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0) | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE;
    if (::CreateSymbolicLinkW(link.c_str(), target.c_str(), flags) && detail::Exists(link)) {
        return true;
    }
    const std::string from = detail::UnixPath(target);
    const std::string to = detail::UnixPath(link);
    if (from.empty() || to.empty()) {
        return false;
    }
    return detail::RunUnix(L"Z:\\bin\\ln", "ln -s " + from + " " + to, [&] { return detail::Exists(link); });
}

// Removes a link that the code under test left (Wine can't unlink a folder
// link through Windows calls).
inline void RemoveLink(const std::wstring& link)
{
    if (::RemoveDirectoryW(link.c_str()) || ::DeleteFileW(link.c_str()) || !detail::Exists(link)) {
        return;
    }
    const std::string path = detail::UnixPath(link);
    if (!path.empty()) {
        detail::RunUnix(L"Z:\\bin\\rm", "rm -f " + path, [&] { return !detail::Exists(link); });
    }
}

} // namespace merovane::test
