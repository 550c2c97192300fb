#pragma once

// Letter case as file systems and the registry see it: ordinal comparison
// with the system's upper-case table, the same in every language.

#include <string>
#include <string_view>

namespace merovane {

// True when the texts are equal ignoring case (CompareStringOrdinal).
bool EqualIgnoringCase(std::wstring_view a, std::wstring_view b) noexcept;

// The text in capitals, mapped with the invariant locale.
std::wstring UpperInvariant(std::wstring_view text);

} // namespace merovane
