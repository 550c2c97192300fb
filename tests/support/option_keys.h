#pragma once

// Reads one yes/no key of section "Option" as a save left it: "1" is on, a
// missing key or one holding no integer is off.

#include "base/ini_file.h"
#include "base/settings_file.h"

#include <string_view>

namespace merovane {

inline bool ReadOption(const IniFile& settings, std::wstring_view key)
{
    return settings.ReadBool(kOptionSection, key, false);
}

} // namespace merovane
