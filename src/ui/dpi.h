#pragma once

// Sizes designed in 96-DPI units, in pixels for a monitor's DPI.

#include <windows.h>

namespace merovane::ui {

inline constexpr UINT kDesignDpi = 96;

// 96-DPI units to pixels at `dpi`.
[[nodiscard]] int ScaleToDpi(int units, UINT dpi) noexcept;
// Pixels at one DPI to pixels at another.
[[nodiscard]] int Rescale(int pixels, UINT fromDpi, UINT toDpi) noexcept;
// The DPI a window is shown at; 96 where the system does not say.
[[nodiscard]] UINT DpiOf(HWND window) noexcept;
// 96-DPI units to pixels for the monitor a window is on.
[[nodiscard]] int ScaleFor(HWND window, int units) noexcept;

} // namespace merovane::ui
