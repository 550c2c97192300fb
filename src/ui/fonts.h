#pragma once

// The fonts of one window: made once for each face, height and style at the
// window's DPI, shared by its controls, deleted when the DPI changes or the
// window goes.

#include "base/handles.h"

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

namespace merovane::ui {

class FontCache {
public:
    // `height` is in pixels at 96 DPI; negative is the character height.
    [[nodiscard]] HFONT Get(std::wstring_view face, int height, bool bold, bool underline, UINT dpi);
    // Before a change of DPI. The controls must be given new fonts at once.
    void Clear() noexcept { fonts_.clear(); }

private:
    struct Entry {
        std::wstring face;
        int height;
        bool bold;
        bool underline;
        UINT dpi;
        unique_hfont font;
    };
    std::vector<Entry> fonts_;
};

} // namespace merovane::ui
