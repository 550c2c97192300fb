#include "core/display_names.h"

#include "core/builtin_guid_names.h"
#include "base/registry.h"
#include "base/ini_file.h"

#include <windows.h>

namespace merovane {

std::wstring BuiltinGuidName(std::wstring_view guid)
{
    for (const GuidName& row : BuiltinGuidNames()) {
        if (row.guid == guid) {
            return std::wstring(row.name);
        }
    }
    return {};
}

std::wstring GetDisplayNameFromRegistry(std::wstring_view guid)
{
    if (guid.empty()) {
        return {};
    }
    // Reading only: machine-wide classes refuse a standard user anything more.
    RegistryAccessor registry(HKEY_CLASSES_ROOT, KEY_READ);
    const std::wstring base = L"CLSID\\" + std::wstring(guid);
    for (const std::wstring& path : {base, base + L"\\LocalizedString", base + L"\\SystemResources"}) {
        if (registry.OpenKey(L"\\" + path, false)) {
            std::wstring name = registry.ReadString(L"");
            registry.CloseKey();
            if (!name.empty()) {
                return name;
            }
        }
    }
    return {};
}

std::wstring DisplayNameForIconGuid(std::wstring_view guid, const IniFile& language)
{
    if (guid.empty()) {
        return {}; // a "=Text" line in the language file names no entry
    }
    std::wstring name = language.ReadString(L"GUID", guid, L"");
    if (name.empty()) {
        name = BuiltinGuidName(guid);
    }
    if (name.empty()) {
        name = GetDisplayNameFromRegistry(guid);
    }
    return name;
}

} // namespace merovane
