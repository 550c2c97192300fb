#pragma once

// Where the language machinery finds its files, and which language is
// chosen. The program computes them from its own location and its options;
// tests point them at a folder of their own.

#include <string>
#include <string_view>

namespace merovane {

class IniFile;

struct LocalePaths {
    std::wstring languageDirectory; // with a trailing backslash
    std::wstring settingsFile;
    std::wstring missingKeysLog;
    // The chosen language's base name, as the options hold it.
    std::wstring language;

    // The program's: "Language\" beside the executable, the settings file of
    // the current mode, and "Merovane.log" one folder above the executable's.
    static LocalePaths ForProgram();

    // The chosen language; "" for none and for a name that
    // IsPlainLanguageName refuses.
    [[nodiscard]] std::wstring ActiveLanguage() const;
    // languageDirectory + base name + ".ini"; "" for a refused name.
    [[nodiscard]] std::wstring LanguageFile(std::wstring_view baseName) const;
};

// The chosen language's file, read whole: the one place that opens it for
// what it names. Empty when no language is chosen or its file is missing or
// can't be read; then the other sources answer.
IniFile ReadActiveLanguageFile(const LocalePaths& paths);

// Whether a language's base name names a file inside the language folder and
// nothing else: not empty, no folder separators, no "..", no drive or stream
// ":", no character file names can't hold, no device name.
bool IsPlainLanguageName(std::wstring_view baseName);

} // namespace merovane
