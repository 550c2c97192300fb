#include "base/settings_file.h"

#include "base/file_info.h"

#include <windows.h>
#include <shlobj.h>

namespace merovane {

namespace {

std::wstring WithTrailingBackslash(std::wstring_view folder)
{
    std::wstring result(folder);
    if (result.empty() || result.back() != L'\\') {
        result += L'\\';
    }
    return result;
}

std::wstring RoamingAppDataDirectory()
{
    wchar_t folder[MAX_PATH] = {};
    if (FAILED(::SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder))) {
        return {};
    }
    return folder;
}

// Each step goes to a shorter parent, so this ends at the root at the latest.
bool CreateFolderTree(const std::wstring& folder)
{
    if (folder.empty()) {
        return false;
    }
    if (::CreateDirectoryW(folder.c_str(), nullptr) || ::GetLastError() == ERROR_ALREADY_EXISTS) {
        return true;
    }
    if (::GetLastError() != ERROR_PATH_NOT_FOUND) {
        return false;
    }
    const size_t separator = folder.find_last_of(L"\\/");
    if (separator == std::wstring::npos) {
        return false;
    }
    std::wstring parent = folder.substr(0, separator);
    while (!parent.empty() && (parent.back() == L'\\' || parent.back() == L'/')) {
        parent.pop_back();
    }
    if (!CreateFolderTree(parent)) {
        return false;
    }
    return ::CreateDirectoryW(folder.c_str(), nullptr) || ::GetLastError() == ERROR_ALREADY_EXISTS;
}

} // namespace

std::wstring ExecutableDirectory()
{
    std::wstring path = OwnExecutablePath();
    path.resize(path.find_last_of(L'\\') + 1); // npos + 1 == 0
    return path;
}

bool PortableMode()
{
    static const bool portable = [] {
        const std::wstring marker = ExecutableDirectory() + L"portable.ini";
        const DWORD attributes = ::GetFileAttributesW(marker.c_str());
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    }();
    return portable;
}

std::wstring SettingsPathFor(bool portable, std::wstring_view exeDir, std::wstring_view appDataDir,
                             std::wstring_view companyName)
{
    if (portable) {
        return WithTrailingBackslash(exeDir) + L"Config\\Option.ini";
    }
    return WithTrailingBackslash(appDataDir) + WithTrailingBackslash(companyName) + std::wstring(kApplicationTitle) +
           L"\\Config\\Option.ini";
}

void CreateSettingsFolder(std::wstring_view settingsPath) noexcept
{
    try {
        const size_t separator = settingsPath.find_last_of(L"\\/");
        if (separator != std::wstring_view::npos) {
            CreateFolderTree(std::wstring(settingsPath.substr(0, separator)));
        }
    } catch (...) {
        // Out of memory for a path: the reads fall back to defaults.
    }
}

std::wstring PortablePath()
{
    std::wstring path = SettingsPathFor(PortableMode(), ExecutableDirectory(), RoamingAppDataDirectory(),
                                        GetCompanyName(OwnExecutablePath()));
    CreateSettingsFolder(path);
    return path;
}

IniFile LoadSettings(const std::wstring& path)
{
    IniFile settings = IniFile::Load(path);
    if (!settings.Faithful()) {
        ThrowWin32(ERROR_INVALID_DATA); // a rewrite would lose what did not decode
    }
    return settings;
}

IniFile ReadSettings(const std::wstring& path) noexcept
{
    try {
        return IniFile::Load(path);
    } catch (...) {
        return {};
    }
}

SettingsRead ReadSettingsAtStart(const std::wstring& path) noexcept
{
    try {
        try {
            IniFile settings = IniFile::Load(path);
            std::optional<Error> failure;
            if (!settings.Faithful()) {
                failure = Error(ERROR_INVALID_DATA);
            }
            return {std::move(settings), std::move(failure)};
        } catch (const Error& error) {
            return {IniFile(), error};
        }
    } catch (...) {
        return {IniFile(), Error(ERROR_NOT_ENOUGH_MEMORY)};
    }
}

void SaveSettings(const IniFile& settings, const std::wstring& path)
{
    settings.Save(path);
}

} // namespace merovane
