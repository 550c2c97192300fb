#pragma once

// The taskbar's hidden-icons chevron: the program only reads and writes the
// value; Explorer picks it up on its own.

#include <cstdint>
#include <string_view>

namespace merovane {

inline constexpr std::wstring_view kTrayNotifyKey =
    L"Software\\Classes\\Local Settings\\Software\\Microsoft\\Windows\\CurrentVersion\\TrayNotify";
inline constexpr std::wstring_view kChevronValue = L"SystemTrayChevronVisibility";

// 1 = shown, 0 = hidden. A missing key or value reads as 1. A value that is
// not a REG_DWORD reads as -1, which the dialog treats like any other number
// but 0 and 1: the box stays as it is and the value is not replaced until the
// user clicks. Reports no error.
std::int32_t GetChevronVisibility();

// Writes the value as a REG_DWORD, creating the key. When the key can't be
// created or opened, does nothing; a write that fails after that throws
// merovane::Error.
void SetChevronVisibility(bool visible);

} // namespace merovane
