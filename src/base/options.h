#pragma once

// The program's options as types, and their place in the settings file. The
// program holds one Options; windows show it and report changes, and a save
// writes it back with the keys in the order they have always been written.
// Where each option lives in the file is said once, in base/option_fields.h.

#include <cstdint>
#include <optional>
#include <string>

namespace merovane {

class IniFile;

// Each has a "none" value: a settings file may tick no item of a group, and
// then no menu item or radio button is ticked either.
enum class ThemeChoice { None, System, Light, Dark };
enum class IconSize { None, Small, Large };
// ShowNew shows only entries that have no IsPromoted value yet (the state
// Explorer gives a new icon) and leaves every entry someone already decided.
enum class NewIconPolicy { None, LeaveToSystem, ShowAll, HideAll, ShowNew };

struct WindowPlacement {
    bool maximized = false;
    // The restored outer size; nullopt keeps the window's designed size.
    std::optional<std::int32_t> width;
    std::optional<std::int32_t> height;

    friend bool operator==(const WindowPlacement&, const WindowPlacement&) = default;
};

struct Options {
    ThemeChoice theme = ThemeChoice::None;
    IconSize iconSize = IconSize::None;
    NewIconPolicy newIconPolicy = NewIconPolicy::None;
    bool closeToTray = false;
    bool startToTray = false;
    bool colourTrayIcon = false;
    bool refreshList = false;      // the refresh timer applies the policy
    // The key that shows every icon for now, as the hot-key control gives it
    // (virtual key in the low byte, HOTKEYF_* in the high byte); 0 for none.
    std::uint16_t showEveryIconHotKey = 0;
    // The update dialog's options. Quick and Forced start every run as
    // designed; they are written but not read back.
    bool quickUpdate = true;
    bool forceUpdate = false;
    bool checkForUpdatesAtStart = true;
    WindowPlacement window;
    // The chosen language file's base name; "" for none and for a name that
    // is no plain file name (IsPlainLanguageName).
    std::wstring language;
    // Update mirrors entered by hand; "" leaves the built-in server.
    std::wstring primaryUpdateServer;
    std::wstring fallbackUpdateServer;

    friend bool operator==(const Options&, const Options&) = default;
};

// What a settings file says, defaults where it says nothing usable. Of the
// keys of one group the last one that is on wins.
Options ReadOptions(const IniFile& settings);

// Which parts of the options a save writes.
enum class OptionGroup : unsigned {
    MainWindow = 1,       // theme, icon size, window placement
    SettingsDialog = 2,   // policy, tray and list options
    UpdateFlags = 4,      // quick and forced update
    UpdateCheck = 8,      // check for updates at start
    Language = 16,        // the chosen language
    UpdateServers = 32,   // the mirrors, which only a hand edit changes
    All = 63,
};
constexpr OptionGroup operator|(OptionGroup a, OptionGroup b) noexcept
{
    return static_cast<OptionGroup>(static_cast<unsigned>(a) | static_cast<unsigned>(b));
}
constexpr bool Contains(OptionGroup set, OptionGroup group) noexcept
{
    return (static_cast<unsigned>(set) & static_cast<unsigned>(group)) != 0;
}

// What a save writes when the file may have changed since it was read (an
// import by the command line, a hand edit): each option the program changed
// since `base` (ours differs from it) as the program holds it, every other
// one as the file now says (`disk`). The window's state, width and height
// count as three options.
Options MergeChangedOptions(const Options& ours, const Options& base, const Options& disk);
// The options of the groups given, copied from `from`.
void CopyOptionGroups(Options& to, const Options& from, OptionGroup groups);

// Writes the groups asked for, keys in their settled order. A maximised window writes "Window" alone and leaves the stored size to
// restore to; a size it does not know is not written.
void WriteOptions(IniFile& settings, const Options& options, OptionGroup groups = OptionGroup::All);

} // namespace merovane
