#pragma once

#include <string_view>

namespace merovane {

// The program's fixed identifier: the mutex name, the settings folder, the
// translation section of language files, the missing-keys log, the Run value
// and the first tooltip of the notification-area icon.
inline constexpr std::wstring_view kApplicationTitle = L"Merovane";

} // namespace merovane
