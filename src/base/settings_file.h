#pragma once

// The settings file Option.ini: where it lives, its keys and their defaults.
// Every access opens the file anew, so each one sees what the last save wrote,
// and a save re-reads the file first so keys written by another window survive.

#include "base/application_title.h"
#include "base/error.h"
#include "base/ini_file.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace merovane {

// Folder of the running executable, with trailing backslash.
std::wstring ExecutableDirectory();

// True when "portable.ini" lay beside the executable at the first call; later
// calls repeat that answer.
bool PortableMode();

// The settings file's full path. Portable: exeDir + "Config\Option.ini".
// Otherwise appData, company and title each followed by one backslash, then
// "Config\Option.ini"; an empty part leaves its backslash alone.
std::wstring SettingsPathFor(bool portable, std::wstring_view exeDir, std::wstring_view appDataDir,
                             std::wstring_view companyName);

// Creates the folder that holds the file, with every missing parent. Failure is
// ignored: reads then find no file and use the defaults.
void CreateSettingsFolder(std::wstring_view settingsPath) noexcept;

// The settings file of this program, its folder created.
std::wstring PortablePath();

// For read-modify-write: a missing file is empty; any other failure to read
// throws, so a save never wipes a file it merely failed to read. Bytes that do
// not decode cleanly (invalid UTF-8, a stray NUL) throw too: writing the text
// back would lose them.
IniFile LoadSettings(const std::wstring& path);
IniFile LoadSettings();
// For reads that fall back to defaults: any failure gives an empty file.
IniFile ReadSettings(const std::wstring& path) noexcept;
IniFile ReadSettings() noexcept;
// The start-up read. A file that exists but can't be read (locked by a backup
// or sync tool, a folder of that name, no access) gives an empty file and the
// reason, so the program can start with defaults and knows not to write its
// options over a file it never read. A file that does not decode cleanly
// gives what could be read, and the reason. A missing file is no failure.
struct SettingsRead {
    IniFile settings;
    std::optional<Error> failure;
};
SettingsRead ReadSettingsAtStart(const std::wstring& path) noexcept;
// Throws merovane::Error when the file cannot be written.
void SaveSettings(const IniFile& settings, const std::wstring& path);
void SaveSettings(const IniFile& settings);

inline constexpr std::wstring_view kOptionSection = L"Option";
inline constexpr std::wstring_view kLanguageSection = L"Language";

// Keys of section "Option", named after the controls whose state they store.
namespace option_key {
inline constexpr std::wstring_view CheckBoxQuickUpdate = L"CheckBoxQuickUpdate";
inline constexpr std::wstring_view CheckBoxForceUpdate = L"CheckBoxForceUpdate";
inline constexpr std::wstring_view ThemeAuto = L"ThemeAuto";
inline constexpr std::wstring_view ThemeLight = L"ThemeLight";
inline constexpr std::wstring_view ThemeDark = L"ThemeDark";
inline constexpr std::wstring_view IconSmallMenu = L"IconSmallMenu";
inline constexpr std::wstring_view IconBigMenu = L"IconBigMenu";
inline constexpr std::wstring_view CheckBoxColorTrayIcon = L"CheckBoxColorTrayIcon";
inline constexpr std::wstring_view CheckBoxAutoUpdateList = L"CheckBoxAutoUpdateList";
inline constexpr std::wstring_view RadioButtonSystem = L"RadioButtonSystem";
inline constexpr std::wstring_view RadioButtonViewNew = L"RadioButtonViewNew";
inline constexpr std::wstring_view RadioButtonHideNew = L"RadioButtonHideNew";
inline constexpr std::wstring_view RadioButtonViewNewOnly = L"RadioButtonViewNewOnly";
inline constexpr std::wstring_view CheckBoxToTray = L"CheckBoxToTray";
inline constexpr std::wstring_view CheckBoxAutostartToTray = L"CheckBoxAutostartToTray";
inline constexpr std::wstring_view Window = L"Window";
inline constexpr std::wstring_view Height = L"Height";
inline constexpr std::wstring_view Width = L"Width";
inline constexpr std::wstring_view CheckBoxAutoCheck = L"CheckBoxAutoCheck";
inline constexpr std::wstring_view HotKeyShowEveryIcon = L"HotKeyShowEveryIcon";
} // namespace option_key

// Key of section "Language": the base name of the chosen language file.
namespace language_key {
inline constexpr std::wstring_view Language = L"Language";
} // namespace language_key

// In the order the main window writes them (new keys are appended in this
// order), then the update dialog's key.
inline constexpr std::array<std::wstring_view, 20> kOptionKeys = {
    option_key::CheckBoxQuickUpdate, option_key::CheckBoxForceUpdate, option_key::ThemeAuto,
    option_key::ThemeLight, option_key::ThemeDark, option_key::IconSmallMenu,
    option_key::IconBigMenu, option_key::CheckBoxColorTrayIcon, option_key::CheckBoxAutoUpdateList,
    option_key::RadioButtonSystem, option_key::RadioButtonViewNew, option_key::RadioButtonHideNew,
    option_key::RadioButtonViewNewOnly, option_key::CheckBoxToTray, option_key::CheckBoxAutostartToTray, option_key::Window,
    option_key::Height, option_key::Width, option_key::CheckBoxAutoCheck, option_key::HotKeyShowEveryIcon,
};

// Values of key "Window".
inline constexpr std::wstring_view kWindowMaximized = L"wsMaximized";
inline constexpr std::wstring_view kWindowNormal = L"wsNormal";

// The default of a boolean key of section "Option": true for
// CheckBoxAutoCheck, false for the others.
bool OptionDefault(std::wstring_view key);
// A boolean key of section "Option", its default when missing or no integer.
bool ReadOption(const IniFile& settings, std::wstring_view key);
void WriteOption(IniFile& settings, std::wstring_view key, bool value);
// An integer key of section "Option" (Height, Width); their default is the
// window's current size, which only the caller knows.
std::optional<std::int32_t> ReadOptionInteger(const IniFile& settings, std::wstring_view key);
// True only for "wsMaximized" exactly, case included.
bool ReadWindowMaximized(const IniFile& settings);

// The chosen language's base name, "" when none or when it is no plain file
// name (IsPlainLanguageName).
std::wstring ActiveLanguageName(const IniFile& settings);
std::wstring ActiveLanguageName();
// ExecutableDirectory() + "Language\" + baseName + ".ini"; "" when baseName
// is no plain file name.
std::wstring LanguageFilePath(std::wstring_view baseName);

} // namespace merovane
