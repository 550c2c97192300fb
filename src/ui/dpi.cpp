#include "ui/dpi.h"

namespace merovane::ui {

int ScaleToDpi(int units, UINT dpi) noexcept
{
    return Rescale(units, kDesignDpi, dpi);
}

int Rescale(int pixels, UINT fromDpi, UINT toDpi) noexcept
{
    return ::MulDiv(pixels, static_cast<int>(toDpi), static_cast<int>(fromDpi));
}

UINT DpiOf(HWND window) noexcept
{
    const UINT dpi = ::GetDpiForWindow(window);
    return dpi != 0 ? dpi : kDesignDpi;
}

int ScaleFor(HWND window, int units) noexcept
{
    return ScaleToDpi(units, DpiOf(window));
}

} // namespace merovane::ui
