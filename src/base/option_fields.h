#pragma once

// Every option once: its key in the settings file, how the key is written,
// which save writes it and where Options holds it. Reading, writing, merging
// and copying all walk this table, so a new option is one line here (and a
// member of Options, which does not compile without it).

#include "base/ini_file.h"
#include "base/locale_paths.h"
#include "base/option_names.h"
#include "base/options.h"
#include "base/settings_file.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>

namespace merovane::option_fields {

// "1" / "0"; a missing key or one holding no integer keeps the default.
struct Flag {
    std::wstring_view key;

    void Read(const IniFile& settings, std::wstring_view section, bool& value) const
    {
        value = settings.ReadBool(section, key, value);
    }
    void Write(IniFile& settings, std::wstring_view section, bool value, const Options&) const
    {
        settings.WriteBool(section, key, value);
    }
};

// One key per value (option_names.h), in their order: a settings file may
// tick several, and then the last one that is on wins; none on keeps the
// default.
template <typename Enum>
struct Choice {
    std::span<const std::pair<std::wstring_view, Enum>> keys;

    void Read(const IniFile& settings, std::wstring_view section, Enum& value) const
    {
        for (const auto& [key, choice] : keys) {
            if (settings.ReadBool(section, key, false)) {
                value = choice;
            }
        }
    }
    void Write(IniFile& settings, std::wstring_view section, Enum value, const Options&) const
    {
        for (const auto& [key, choice] : keys) {
            settings.WriteBool(section, key, value == choice);
        }
    }
};

// A hot key as the hot-key control gives it; 0 (none) for anything outside
// 1..0xFFFF.
struct HotKey {
    std::wstring_view key;

    void Read(const IniFile& settings, std::wstring_view section, std::uint16_t& value) const
    {
        const std::optional<std::wstring> text = settings.ReadString(section, key);
        const std::optional<std::int32_t> number = text ? ParseIniInteger(*text) : std::nullopt;
        if (number && *number > 0 && *number <= 0xFFFF) {
            value = static_cast<std::uint16_t>(*number);
        }
    }
    void Write(IniFile& settings, std::wstring_view section, std::uint16_t value, const Options&) const
    {
        settings.WriteInteger(section, key, value);
    }
};

// "wsMaximized" exactly, case included, or "wsNormal".
struct WindowState {
    std::wstring_view key;

    void Read(const IniFile& settings, std::wstring_view section, bool& maximized) const
    {
        maximized = settings.ReadString(section, key, L"") == kWindowMaximized;
    }
    void Write(IniFile& settings, std::wstring_view section, bool maximized, const Options&) const
    {
        settings.WriteString(section, key, maximized ? kWindowMaximized : kWindowNormal);
    }
};

// The restored width or height. A maximised window leaves the stored size to
// restore to, and a size the window does not know is not written.
struct WindowSize {
    std::wstring_view key;

    void Read(const IniFile& settings, std::wstring_view section, std::optional<std::int32_t>& size) const
    {
        const std::optional<std::wstring> text = settings.ReadString(section, key);
        size = text ? ParseIniInteger(*text) : std::nullopt;
    }
    void Write(IniFile& settings, std::wstring_view section, const std::optional<std::int32_t>& size,
               const Options& options) const
    {
        if (size && !options.window.maximized) {
            settings.WriteInteger(section, key, *size);
        }
    }
};

// A text; "" is never written, so a file without the key stays without it.
// `accept` refuses values that read as "".
struct Text {
    std::wstring_view key;
    bool (*accept)(std::wstring_view) = nullptr;

    void Read(const IniFile& settings, std::wstring_view section, std::wstring& value) const
    {
        std::wstring text = settings.ReadString(section, key, L"");
        value = accept == nullptr || accept(text) ? std::move(text) : std::wstring();
    }
    void Write(IniFile& settings, std::wstring_view section, const std::wstring& value, const Options&) const
    {
        if (!value.empty()) {
            settings.WriteString(section, key, value);
        }
    }
};

template <typename Member, typename Format>
struct Field {
    std::wstring_view section;
    OptionGroup group;
    Member member; // where Options holds it: options -> reference
    Format format;
    // Quick and Forced start every run as designed: written, never read back.
    bool readBack = true;
};

template <typename Member, typename Format>
constexpr Field<Member, Format> MakeField(std::wstring_view section, OptionGroup group, Member member, Format format,
                                          bool readBack = true)
{
    return {section, group, member, format, readBack};
}

// In the order a save writes the keys: new keys come last.
inline constexpr auto kFields = std::make_tuple(
    MakeField(kOptionSection, OptionGroup::UpdateFlags, [](auto& o) -> auto& { return o.quickUpdate; },
              Flag{option_key::CheckBoxQuickUpdate}, false),
    MakeField(kOptionSection, OptionGroup::UpdateFlags, [](auto& o) -> auto& { return o.forceUpdate; },
              Flag{option_key::CheckBoxForceUpdate}, false),
    MakeField(kOptionSection, OptionGroup::MainWindow, [](auto& o) -> auto& { return o.theme; },
              Choice<ThemeChoice>{option_names::kThemes}),
    MakeField(kOptionSection, OptionGroup::MainWindow, [](auto& o) -> auto& { return o.iconSize; },
              Choice<IconSize>{option_names::kIconSizes}),
    MakeField(kOptionSection, OptionGroup::SettingsDialog, [](auto& o) -> auto& { return o.colourTrayIcon; },
              Flag{option_key::CheckBoxColorTrayIcon}),
    MakeField(kOptionSection, OptionGroup::SettingsDialog, [](auto& o) -> auto& { return o.refreshList; },
              Flag{option_key::CheckBoxAutoUpdateList}),
    MakeField(kOptionSection, OptionGroup::SettingsDialog, [](auto& o) -> auto& { return o.newIconPolicy; },
              Choice<NewIconPolicy>{option_names::kNewIconPolicies}),
    MakeField(kOptionSection, OptionGroup::SettingsDialog, [](auto& o) -> auto& { return o.closeToTray; },
              Flag{option_key::CheckBoxToTray}),
    MakeField(kOptionSection, OptionGroup::SettingsDialog, [](auto& o) -> auto& { return o.startToTray; },
              Flag{option_key::CheckBoxAutostartToTray}),
    MakeField(kOptionSection, OptionGroup::MainWindow, [](auto& o) -> auto& { return o.window.maximized; },
              WindowState{option_key::Window}),
    MakeField(kOptionSection, OptionGroup::MainWindow, [](auto& o) -> auto& { return o.window.height; },
              WindowSize{option_key::Height}),
    MakeField(kOptionSection, OptionGroup::MainWindow, [](auto& o) -> auto& { return o.window.width; },
              WindowSize{option_key::Width}),
    MakeField(kOptionSection, OptionGroup::UpdateCheck, [](auto& o) -> auto& { return o.checkForUpdatesAtStart; },
              Flag{option_key::CheckBoxAutoCheck}),
    MakeField(kOptionSection, OptionGroup::SettingsDialog, [](auto& o) -> auto& { return o.showEveryIconHotKey; },
              HotKey{option_key::HotKeyShowEveryIcon}),
    MakeField(kLanguageSection, OptionGroup::Language, [](auto& o) -> auto& { return o.language; },
              Text{language_key::Language, &IsPlainLanguageName}),
    MakeField(kUpdateSection, OptionGroup::UpdateServers, [](auto& o) -> auto& { return o.primaryUpdateServer; },
              Text{update_key::PrimaryServer}),
    MakeField(kUpdateSection, OptionGroup::UpdateServers, [](auto& o) -> auto& { return o.fallbackUpdateServer; },
              Text{update_key::FallbackServer}));

// Calls visit(field) for each row, in order.
template <typename Visit>
void ForEach(Visit&& visit)
{
    std::apply([&](const auto&... field) { (visit(field), ...); }, kFields);
}

namespace detail {
struct AnyValue {
    template <typename T>
    operator T() const; // only named in unevaluated checks
};
// The number of members of an aggregate: the longest list of values it can be
// brace-initialised from.
template <typename Aggregate, typename... Values>
constexpr std::size_t MemberCount()
{
    if constexpr (requires { Aggregate{Values{}..., AnyValue{}}; }) {
        return MemberCount<Aggregate, Values..., AnyValue>();
    } else {
        return sizeof...(Values);
    }
}
} // namespace detail

// A member of Options without its row would be left out of every save and
// merge; the window's placement has a row for each of its parts.
static_assert(std::tuple_size_v<decltype(kFields)> ==
                  detail::MemberCount<Options>() - 1 + detail::MemberCount<WindowPlacement>(),
              "every member of Options needs its row in option_fields::kFields");

} // namespace merovane::option_fields
