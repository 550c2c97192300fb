#pragma once

// Where the tests' notification-area entries live: the key and one entry's
// path below HKEY_CURRENT_USER (mapped onto a scratch key by the sandbox).

#include "core/icon_store.h"

#include <string>
#include <string_view>

namespace merovane::test {

inline const std::wstring kBase(kNotifyIconSettingsKey);

inline std::wstring Entry(std::wstring_view name)
{
    return kBase + L"\\" + std::wstring(name);
}

} // namespace merovane::test
