#pragma once

// The options chosen from a group, each choice under its name: the settings
// key that stores it and the menu item or radio button that shows it.
// Reading, writing and the windows all go through these tables.

#include "base/options.h"
#include "base/settings_file.h"

#include <string_view>
#include <utility>

namespace merovane::option_names {

inline constexpr std::pair<std::wstring_view, ThemeChoice> kThemes[] = {
    {option_key::ThemeAuto, ThemeChoice::System},
    {option_key::ThemeLight, ThemeChoice::Light},
    {option_key::ThemeDark, ThemeChoice::Dark},
};
inline constexpr std::pair<std::wstring_view, IconSize> kIconSizes[] = {
    {option_key::IconSmallMenu, IconSize::Small},
    {option_key::IconBigMenu, IconSize::Large},
};
inline constexpr std::pair<std::wstring_view, NewIconPolicy> kNewIconPolicies[] = {
    {option_key::RadioButtonSystem, NewIconPolicy::LeaveToSystem},
    {option_key::RadioButtonViewNew, NewIconPolicy::ShowAll},
    {option_key::RadioButtonHideNew, NewIconPolicy::HideAll},
    {option_key::RadioButtonViewNewOnly, NewIconPolicy::ShowNew},
};

} // namespace merovane::option_names
