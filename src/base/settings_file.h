#pragma once

// The settings file Option.ini: where it lives, how it is read and written,
// its stored names. The running program reads and writes it only through its
// SettingsStore (base/settings_store.h).

#include "base/application_title.h"
#include "base/error.h"
#include "base/ini_file.h"

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
// For reads that fall back to defaults: any failure gives an empty file.
IniFile ReadSettings(const std::wstring& path) noexcept;
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

// Section "Update": mirrors entered by hand, each an http:// or https:// base
// URL such as "http://mirror.example.org/download/".
inline constexpr std::wstring_view kUpdateSection = L"Update";
namespace update_key {
inline constexpr std::wstring_view PrimaryServer = L"PrimaryServer";
inline constexpr std::wstring_view FallbackServer = L"FallbackServer";
} // namespace update_key

// Values of key "Window".
inline constexpr std::wstring_view kWindowMaximized = L"wsMaximized";
inline constexpr std::wstring_view kWindowNormal = L"wsNormal";

} // namespace merovane
