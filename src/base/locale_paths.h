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

    // The language named in the settings file; "" for none and for a name
    // that IsPlainLanguageName refuses.
    [[nodiscard]] std::wstring ActiveLanguage() const;
    // languageDirectory + base name + ".ini"; "" for a refused name.
    [[nodiscard]] std::wstring LanguageFile(std::wstring_view baseName) const;
};

// Whether a language's base name names a file inside the language folder and
// nothing else: not empty, no folder separators, no "..", no drive or stream
// ":", no character file names can't hold, no device name.
bool IsPlainLanguageName(std::wstring_view baseName);

} // namespace merovane
