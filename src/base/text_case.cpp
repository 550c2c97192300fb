#include "base/text_case.h"

#include <windows.h>

#include <climits>

namespace merovane {

bool EqualIgnoringCase(std::wstring_view a, std::wstring_view b) noexcept
{
    if (a.size() != b.size()) {
        return false;
    }
    if (a.empty()) {
        return true;
    }
    if (a.size() > INT_MAX) {
        return false;
    }
    return ::CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()), TRUE) ==
           CSTR_EQUAL;
}

std::wstring UpperInvariant(std::wstring_view text)
{
    std::wstring result(text);
    if (!result.empty() && result.size() <= INT_MAX) {
        ::LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, text.data(), static_cast<int>(text.size()),
                        result.data(), static_cast<int>(result.size()), nullptr, nullptr, 0);
    }
    return result;
}

} // namespace merovane
