#include "ui/layout.h"

#include "ui/dpi.h"

namespace merovane::ui {

namespace {

using Rects = std::vector<std::optional<RECT>>;

SIZE SizeOf(const RECT& rect)
{
    return SIZE{rect.right - rect.left, rect.bottom - rect.top};
}

// Places the visible children of `parent` inside `area`, then theirs in turn.
// `designed` is the parent's size at the designed window size, in units;
// `design` holds every item's rectangle at that size, or is null while it is
// being worked out (then units are pixels and each parent is at its design size).
void Place(std::span<const LayoutItem> items, int parent, RECT area, SIZE designed, UINT dpi, const Rects* design,
           Rects& placed)
{
    const auto scale = [&](int units) { return design != nullptr ? ScaleToDpi(units, dpi) : units; };
    const int inset = parent >= 0 ? scale(items[static_cast<size_t>(parent)].inset) : 0;
    RECT remaining{area.left + inset, area.top + inset, area.right - inset, area.bottom - inset};
    const SIZE size = SizeOf(area);
    int client = -1;
    for (size_t i = 0; i < items.size(); ++i) {
        const LayoutItem& item = items[i];
        if (item.parent != parent || !item.visible) {
            continue;
        }
        const Bounds& b = item.bounds;
        RECT rect{};
        switch (item.align) {
        case Align::Top:
            rect = {remaining.left, remaining.top, remaining.right, remaining.top + scale(b.height)};
            remaining.top = rect.bottom;
            break;
        case Align::Bottom:
            rect = {remaining.left, remaining.bottom - scale(b.height), remaining.right, remaining.bottom};
            remaining.bottom = rect.top;
            break;
        case Align::Left:
            rect = {remaining.left, remaining.top, remaining.left + scale(b.width), remaining.bottom};
            remaining.left = rect.right;
            break;
        case Align::Right:
            rect = {remaining.right - scale(b.width), remaining.top, remaining.right, remaining.bottom};
            remaining.right = rect.left;
            break;
        case Align::Client:
            client = static_cast<int>(i); // takes what the others leave
            continue;
        case Align::None: {
            int left = area.left + inset + scale(b.left);
            int top = area.top + inset + scale(b.top);
            int right = left + scale(b.width);
            int bottom = top + scale(b.height);
            if (item.anchors & AnchorRight) {
                right = area.left + size.cx - scale(designed.cx - b.left - b.width);
                if (!(item.anchors & AnchorLeft)) {
                    left = right - scale(b.width);
                }
            }
            if (item.anchors & AnchorBottom) {
                bottom = area.top + size.cy - scale(designed.cy - b.top - b.height);
                if (!(item.anchors & AnchorTop)) {
                    top = bottom - scale(b.height);
                }
            }
            rect = {left, top, right, bottom};
            break;
        }
        }
        placed[i] = rect;
    }
    if (client >= 0) {
        placed[static_cast<size_t>(client)] = remaining;
    }
    for (size_t i = 0; i < items.size(); ++i) {
        if (items[i].parent != parent || !placed[i]) {
            continue;
        }
        const SIZE own = SizeOf(*placed[i]);
        const SIZE ownDesigned = design != nullptr && (*design)[i] ? SizeOf(*(*design)[i]) : own;
        Place(items, static_cast<int>(i), RECT{0, 0, own.cx, own.cy}, ownDesigned, dpi, design, placed);
    }
}

} // namespace

std::vector<std::optional<RECT>> ArrangeLayout(std::span<const LayoutItem> items, SIZE client, SIZE designed,
                                               UINT dpi)
{
    // First at the designed size, in units, for each container's designed size.
    Rects design(items.size());
    Place(items, -1, RECT{0, 0, designed.cx, designed.cy}, designed, dpi, nullptr, design);
    Rects placed(items.size());
    Place(items, -1, RECT{0, 0, client.cx, client.cy}, designed, dpi, &design, placed);
    return placed;
}

} // namespace merovane::ui
