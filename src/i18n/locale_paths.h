#pragma once

// Where the language machinery finds its files. The program computes them from
// its own location and the settings file; tests point them at a folder of
// their own.

#include <string>
#include <string_view>

namespace merovane {

struct LocalePaths {
    std::wstring languageDirectory; // with a trailing backslash
    std::wstring settingsFile;
    std::wstring missingKeysLog;

    // The program's: "Language\" beside the executable, the settings file of
    // the current mode, and "Merovane.log" one folder above the executable's.
    static LocalePaths ForProgram();

    // The language named in the settings file ("" for none).
    [[nodiscard]] std::wstring ActiveLanguage() const;
    // languageDirectory + base name + ".ini".
    [[nodiscard]] std::wstring LanguageFile(std::wstring_view baseName) const;
};

} // namespace merovane
