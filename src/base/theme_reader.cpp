#include "base/theme_reader.h"

#include "base/registry.h"

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string_view>

namespace merovane {

namespace {

constexpr std::wstring_view kPersonalizeKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Themes\\Personalize\\";

std::optional<std::uint32_t> ReadPreference(std::wstring_view name)
{
    RegistryAccessor registry(HKEY_CURRENT_USER, KEY_READ);
    if (!registry.OpenKey(kPersonalizeKey, false)) {
        return std::nullopt;
    }
    return registry.TryReadInteger(name);
}

} // namespace

bool IsAppsDarkTheme()
{
    return ReadPreference(L"AppsUseLightTheme") == 0u;
}

bool IsSystemLightTheme()
{
    return ReadPreference(L"SystemUsesLightTheme") == 1u;
}

} // namespace merovane
