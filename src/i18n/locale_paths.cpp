#include "i18n/locale_paths.h"

#include "i18n/ini_file.h"
#include "shell/settings_file.h"

namespace merovane {

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
    // An unreadable settings file means no language chosen, as a missing one does.
    return ReadSettings(settingsFile).ReadString(L"Language", L"Language", L"");
}

std::wstring LocalePaths::LanguageFile(std::wstring_view baseName) const
{
    return languageDirectory + std::wstring(baseName) + L".ini";
}

} // namespace merovane
