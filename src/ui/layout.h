#pragma once

// Where a window's controls go, worked out without any window: docking and
// anchors from the design in 96-DPI units. The form describes its controls
// here and moves each to the rectangle it gets back.

#include "ui/form_definition.h"

#include <windows.h>

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace merovane::ui {

struct LayoutItem {
    Bounds bounds;                        // 96-DPI units inside the parent's client area
    Align align = Align::None;
    std::uint8_t anchors = AnchorDefault; // for Align::None
    int parent = -1;                      // index of the containing item, earlier in the list; -1: the window
    int inset = 0;                        // offset of this item's children inside it, 96-DPI units
    bool visible = true;
};

// Each item's rectangle in pixels inside its parent's client area, for a
// window whose client area measures `client` pixels, designed at `designed`
// 96-DPI units and shown at `dpi`.
//
// Among siblings, docked items take their edge of what the earlier ones left,
// in list order, and the Client one takes the rest. The others keep their
// design bounds; anchored to the right or bottom they keep the distance to
// that edge of the parent that they had at the designed size (left and right
// or top and bottom: they stretch). Hidden items, and whatever lies in them,
// get no rectangle.
[[nodiscard]] std::vector<std::optional<RECT>> ArrangeLayout(std::span<const LayoutItem> items, SIZE client,
                                                             SIZE designed, UINT dpi);

} // namespace merovane::ui
