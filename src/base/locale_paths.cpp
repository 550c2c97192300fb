#include "base/locale_paths.h"

#include "base/error.h"
#include "base/ini_file.h"
#include "base/settings_file.h"

#include <windows.h>

#include <algorithm>
#include <array>

namespace merovane {

bool IsPlainLanguageName(std::wstring_view baseName)
{
    if (baseName.empty() || baseName.find(L"..") != std::wstring_view::npos) {
        return false;
    }
    constexpr std::wstring_view kForbidden = L"\\/:*?\"<>|";
    if (std::any_of(baseName.begin(), baseName.end(),
                    [&](wchar_t c) { return c < 32 || kForbidden.find(c) != std::wstring_view::npos; })) {
        return false;
    }
    // "CON.ini" and the like open the device, not a file.
    constexpr std::array<std::wstring_view, 4> kDevices = {L"CON", L"PRN", L"AUX", L"NUL"};
    constexpr std::array<std::wstring_view, 2> kNumberedDevices = {L"COM", L"LPT"};
    const std::wstring_view stem = baseName.substr(0, baseName.find(L'.'));
    if (std::any_of(kDevices.begin(), kDevices.end(), [&](std::wstring_view d) { return IniNamesEqual(stem, d); })) {
        return false;
    }
    return !(stem.size() == 4 && stem[3] >= L'1' && stem[3] <= L'9' &&
             std::any_of(kNumberedDevices.begin(), kNumberedDevices.end(),
                         [&](std::wstring_view d) { return IniNamesEqual(stem.substr(0, 3), d); }));
}

LocalePaths LocalePaths::ForProgram()
{
    LocalePaths paths;
    const std::wstring exeDir = ExecutableDirectory();
    paths.languageDirectory = exeDir + L"Language\\";
    paths.settingsFile = PortablePath();
    // One level above the executable's folder.
    std::wstring parent = exeDir;
    if (!parent.empty()) {
        parent.pop_back();
    }
    const size_t separator = parent.find_last_of(L"\\/");
    parent = separator == std::wstring::npos ? std::wstring() : parent.substr(0, separator + 1);
    paths.missingKeysLog = parent + std::wstring(kApplicationTitle) + L".log";
    return paths;
}

std::wstring LocalePaths::ActiveLanguage() const
{
    return IsPlainLanguageName(language) ? language : std::wstring();
}

std::wstring LocalePaths::LanguageFile(std::wstring_view baseName) const
{
    if (!IsPlainLanguageName(baseName)) {
        return {};
    }
    return languageDirectory + std::wstring(baseName) + L".ini";
}

IniFile ReadActiveLanguageFile(const LocalePaths& paths)
{
    const std::wstring file = paths.LanguageFile(paths.ActiveLanguage());
    const DWORD attributes = file.empty() ? INVALID_FILE_ATTRIBUTES : ::GetFileAttributesW(file.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return {};
    }
    try {
        return IniFile::Load(file);
    } catch (const Error&) {
        return {};
    }
}

} // namespace merovane
