#pragma once

// Readable names for notification-area entries that identify their icon by a
// GUID: from the active language file, the built-in table, or the GUID's
// class registration.

#include <string>
#include <string_view>

namespace merovane {

class IniFile;

// The name for an icon GUID, "" when no source knows it or the GUID is empty.
// `language` is the active language file (ReadActiveLanguageFile; empty when
// none), read once for a load that names many entries.
std::wstring DisplayNameForIconGuid(std::wstring_view guid, const IniFile& language);

// The built-in name of a GUID: exact, case-sensitive match; "" when unknown.
std::wstring BuiltinGuidName(std::wstring_view guid);

// Default value of CLSID\<guid>, then of its LocalizedString and
// SystemResources subkeys, under HKEY_CLASSES_ROOT, opened for reading only;
// "" when none has one.
// An empty GUID is not looked up: "CLSID\" alone is the parent key, whose own
// default value is no class name.
std::wstring GetDisplayNameFromRegistry(std::wstring_view guid);

} // namespace merovane
