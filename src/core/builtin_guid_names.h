#pragma once

// Names of system notification-area icons that identify themselves by a GUID
// only. They are built-in texts: a language file renames them through its
// GUID section, never through the translation engine.

#include <span>
#include <string_view>

namespace merovane {

struct GuidName {
    std::wstring_view guid; // with braces, upper case; matched exactly
    std::wstring_view name;
};

// The 62 built-in names of system notification-area icons, in table order.
std::span<const GuidName> BuiltinGuidNames();

} // namespace merovane
