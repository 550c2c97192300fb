#include "base/options.h"

#include "base/ini_file.h"
#include "base/option_names.h"
#include "base/settings_file.h"

#include <utility>

namespace merovane {

namespace {

template <typename Choice, size_t N>
Choice LastOn(const IniFile& settings, const std::pair<std::wstring_view, Choice> (&keys)[N])
{
    Choice choice = Choice::None;
    for (const auto& [key, value] : keys) {
        if (ReadOption(settings, key)) {
            choice = value;
        }
    }
    return choice;
}

template <typename Choice, size_t N>
void WriteChoice(IniFile& settings, Choice choice, const std::pair<std::wstring_view, Choice> (&keys)[N])
{
    for (const auto& [key, value] : keys) {
        WriteOption(settings, key, choice == value);
    }
}

constexpr auto& kThemeKeys = option_names::kThemes;
constexpr auto& kIconSizeKeys = option_names::kIconSizes;
constexpr auto& kPolicyKeys = option_names::kNewIconPolicies;

} // namespace

Options ReadOptions(const IniFile& settings)
{
    Options options;
    options.theme = LastOn(settings, kThemeKeys);
    options.iconSize = LastOn(settings, kIconSizeKeys);
    options.newIconPolicy = LastOn(settings, kPolicyKeys);
    options.closeToTray = ReadOption(settings, option_key::CheckBoxToTray);
    options.startToTray = ReadOption(settings, option_key::CheckBoxAutostartToTray);
    options.colourTrayIcon = ReadOption(settings, option_key::CheckBoxColorTrayIcon);
    options.refreshList = ReadOption(settings, option_key::CheckBoxAutoUpdateList);
    if (const auto hotKey = ReadOptionInteger(settings, option_key::HotKeyShowEveryIcon);
        hotKey && *hotKey > 0 && *hotKey <= 0xFFFF) {
        options.showEveryIconHotKey = static_cast<std::uint16_t>(*hotKey);
    }
    options.checkForUpdatesAtStart = ReadOption(settings, option_key::CheckBoxAutoCheck);
    options.window.maximized = ReadWindowMaximized(settings);
    options.window.width = ReadOptionInteger(settings, option_key::Width);
    options.window.height = ReadOptionInteger(settings, option_key::Height);
    return options;
}

Options MergeChangedOptions(const Options& ours, const Options& base, const Options& disk)
{
    Options merged;
    auto take = [&](auto member) { merged.*member = ours.*member != base.*member ? ours.*member : disk.*member; };
    take(&Options::theme);
    take(&Options::iconSize);
    take(&Options::newIconPolicy);
    take(&Options::closeToTray);
    take(&Options::startToTray);
    take(&Options::colourTrayIcon);
    take(&Options::refreshList);
    take(&Options::showEveryIconHotKey);
    take(&Options::quickUpdate);
    take(&Options::forceUpdate);
    take(&Options::checkForUpdatesAtStart);
    // Key by key: an import that set only the size keeps it when the window
    // was merely maximised, and the other way round.
    auto takeWindow = [&](auto member) {
        merged.window.*member = ours.window.*member != base.window.*member ? ours.window.*member : disk.window.*member;
    };
    takeWindow(&WindowPlacement::maximized);
    takeWindow(&WindowPlacement::width);
    takeWindow(&WindowPlacement::height);
    return merged;
}

void CopyOptionGroups(Options& to, const Options& from, OptionGroup groups)
{
    if (Contains(groups, OptionGroup::MainWindow)) {
        to.theme = from.theme;
        to.iconSize = from.iconSize;
        to.window = from.window;
    }
    if (Contains(groups, OptionGroup::SettingsDialog)) {
        to.newIconPolicy = from.newIconPolicy;
        to.closeToTray = from.closeToTray;
        to.startToTray = from.startToTray;
        to.colourTrayIcon = from.colourTrayIcon;
        to.refreshList = from.refreshList;
        to.showEveryIconHotKey = from.showEveryIconHotKey;
    }
    if (Contains(groups, OptionGroup::UpdateFlags)) {
        to.quickUpdate = from.quickUpdate;
        to.forceUpdate = from.forceUpdate;
    }
    if (Contains(groups, OptionGroup::UpdateCheck)) {
        to.checkForUpdatesAtStart = from.checkForUpdatesAtStart;
    }
}

void WriteOptions(IniFile& settings, const Options& options, OptionGroup groups)
{
    if (Contains(groups, OptionGroup::UpdateFlags)) {
        WriteOption(settings, option_key::CheckBoxQuickUpdate, options.quickUpdate);
        WriteOption(settings, option_key::CheckBoxForceUpdate, options.forceUpdate);
    }
    if (Contains(groups, OptionGroup::MainWindow)) {
        WriteChoice(settings, options.theme, kThemeKeys);
        WriteChoice(settings, options.iconSize, kIconSizeKeys);
    }
    if (Contains(groups, OptionGroup::SettingsDialog)) {
        WriteOption(settings, option_key::CheckBoxColorTrayIcon, options.colourTrayIcon);
        WriteOption(settings, option_key::CheckBoxAutoUpdateList, options.refreshList);
        WriteChoice(settings, options.newIconPolicy, kPolicyKeys);
        WriteOption(settings, option_key::CheckBoxToTray, options.closeToTray);
        WriteOption(settings, option_key::CheckBoxAutostartToTray, options.startToTray);
    }
    if (Contains(groups, OptionGroup::MainWindow)) {
        const WindowPlacement& window = options.window;
        if (window.maximized) {
            settings.WriteString(kOptionSection, option_key::Window, kWindowMaximized);
        } else {
            settings.WriteString(kOptionSection, option_key::Window, kWindowNormal);
            if (window.height) {
                settings.WriteInteger(kOptionSection, option_key::Height, *window.height);
            }
            if (window.width) {
                settings.WriteInteger(kOptionSection, option_key::Width, *window.width);
            }
        }
    }
    if (Contains(groups, OptionGroup::UpdateCheck)) {
        WriteOption(settings, option_key::CheckBoxAutoCheck, options.checkForUpdatesAtStart);
    }
    // Newer than the keys above, so after them.
    if (Contains(groups, OptionGroup::SettingsDialog)) {
        settings.WriteInteger(kOptionSection, option_key::HotKeyShowEveryIcon, options.showEveryIconHotKey);
    }
}

} // namespace merovane
