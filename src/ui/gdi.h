#pragma once

// Owners for the drawing resources whose release needs more than the handle
// (base/handles.h has the plain ones: fonts, brushes, pens, bitmaps, memory
// device contexts): image lists, themes, a window's device context, a paint
// cycle, and an object selected into a device context for a while.

#include "base/handles.h"

#include <windows.h>
#include <commctrl.h>
#include <uxtheme.h>

namespace merovane::ui {

using unique_himagelist = unique_any<HIMAGELIST, &::ImageList_Destroy>;
using unique_htheme = unique_any<HTHEME, &::CloseThemeData>;

// The device context of a window (of the screen for nullptr), from GetDC.
class WindowDC {
public:
    explicit WindowDC(HWND window) noexcept : window_(window), dc_(::GetDC(window)) {}
    ~WindowDC()
    {
        if (dc_ != nullptr) {
            ::ReleaseDC(window_, dc_);
        }
    }
    WindowDC(const WindowDC&) = delete;
    WindowDC& operator=(const WindowDC&) = delete;

    [[nodiscard]] HDC get() const noexcept { return dc_; }

private:
    HWND window_;
    HDC dc_;
};

// One WM_PAINT: BeginPaint now, EndPaint at the end of the scope.
class PaintDC {
public:
    explicit PaintDC(HWND window) noexcept : window_(window), dc_(::BeginPaint(window, &paint_)) {}
    ~PaintDC() { ::EndPaint(window_, &paint_); }
    PaintDC(const PaintDC&) = delete;
    PaintDC& operator=(const PaintDC&) = delete;

    [[nodiscard]] HDC get() const noexcept { return dc_; }

private:
    HWND window_;
    PAINTSTRUCT paint_{};
    HDC dc_;
};

// Selects an object into a device context and puts back the one it replaced
// at the end of the scope. A null object selects nothing.
class SelectedObject {
public:
    SelectedObject(HDC dc, HGDIOBJ object) noexcept
        : dc_(dc), previous_(object != nullptr ? ::SelectObject(dc, object) : nullptr)
    {
    }
    ~SelectedObject()
    {
        if (previous_ != nullptr && previous_ != HGDI_ERROR) {
            ::SelectObject(dc_, previous_);
        }
    }
    SelectedObject(const SelectedObject&) = delete;
    SelectedObject& operator=(const SelectedObject&) = delete;

private:
    HDC dc_;
    HGDIOBJ previous_;
};

} // namespace merovane::ui
