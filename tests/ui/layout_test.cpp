#include "ui/layout.h"

#include <gtest/gtest.h>

#include <array>
#include <optional>
#include <vector>

namespace merovane::ui {
namespace {

using Expected = std::vector<std::optional<std::array<LONG, 4>>>;

Expected Flatten(const std::vector<std::optional<RECT>>& rects)
{
    Expected flat;
    for (const auto& rect : rects) {
        flat.push_back(rect ? std::optional(std::array<LONG, 4>{rect->left, rect->top, rect->right, rect->bottom})
                            : std::nullopt);
    }
    return flat;
}

struct Case {
    UINT dpi;
    SIZE client;
    Expected expected; // left, top, right, bottom inside the parent
};

void Check(std::span<const LayoutItem> items, SIZE designed, std::span<const Case> cases)
{
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.dpi << " dpi, " << c.client.cx << "x" << c.client.cy);
        EXPECT_EQ(Flatten(ArrangeLayout(items, c.client, designed, c.dpi)), c.expected);
    }
}

TEST(Layout, DockedItemsTakeTheirEdgeInDefinitionOrder)
{
    // Designed at 400 x 300. The left one comes first, so it runs the full
    // height and the top one starts right of it.
    const LayoutItem items[] = {
        {.bounds = {0, 0, 100, 0}, .align = Align::Left},
        {.bounds = {0, 0, 0, 30}, .align = Align::Top, .inset = 2},
        {.bounds = {0, 0, 0, 20}, .align = Align::Bottom},
        {.bounds = {0, 0, 50, 0}, .align = Align::Right},
        {.bounds = {0, 0, 0, 0}, .align = Align::Client},
        {.bounds = {0, 0, 0, 40}, .align = Align::Top, .visible = false}, // takes nothing
        // In the client panel (250 x 250 as designed): 10 from its right and bottom edges.
        {.bounds = {180, 220, 60, 20}, .anchors = AnchorRight | AnchorBottom, .parent = 4},
        // In the top panel, past its inset.
        {.bounds = {4, 4, 20, 20}, .parent = 1},
        // In the hidden panel: nowhere.
        {.bounds = {0, 0, 10, 10}, .parent = 5},
    };
    const Case cases[] = {
        {96,
         {400, 300},
         {{{0, 0, 100, 300}},
          {{100, 0, 400, 30}},
          {{100, 280, 400, 300}},
          {{350, 30, 400, 280}},
          {{100, 30, 350, 280}},
          std::nullopt,
          {{180, 220, 240, 240}},
          {{6, 6, 26, 26}},
          std::nullopt}},
        {96,
         {500, 400},
         {{{0, 0, 100, 400}},
          {{100, 0, 500, 30}},
          {{100, 380, 500, 400}},
          {{450, 30, 500, 380}},
          {{100, 30, 450, 380}},
          std::nullopt,
          {{280, 320, 340, 340}},
          {{6, 6, 26, 26}},
          std::nullopt}},
        {144,
         {600, 450},
         {{{0, 0, 150, 450}},
          {{150, 0, 600, 45}},
          {{150, 420, 600, 450}},
          {{525, 45, 600, 420}},
          {{150, 45, 525, 420}},
          std::nullopt,
          {{270, 330, 360, 360}},
          {{9, 9, 39, 39}},
          std::nullopt}},
        {144,
         {900, 600},
         {{{0, 0, 150, 600}},
          {{150, 0, 900, 45}},
          {{150, 570, 900, 600}},
          {{825, 45, 900, 570}},
          {{150, 45, 825, 570}},
          std::nullopt,
          {{570, 480, 660, 510}},
          {{9, 9, 39, 39}},
          std::nullopt}},
    };
    Check(items, SIZE{400, 300}, cases);
}

TEST(Layout, AnchoredItemsKeepTheirDistanceToTheEdgesTheyAreAnchoredTo)
{
    // Designed at 200 x 100; every far-edge distance is 10 units.
    const LayoutItem items[] = {
        {.bounds = {10, 10, 50, 20}},                                                   // left and top
        {.bounds = {140, 10, 50, 20}, .anchors = AnchorRight | AnchorTop},              // right
        {.bounds = {10, 40, 180, 20}, .anchors = AnchorLeft | AnchorRight | AnchorTop}, // stretches
        {.bounds = {10, 70, 50, 20}, .anchors = AnchorLeft | AnchorBottom},             // bottom
        {.bounds = {70, 64, 120, 26}, .anchors = AnchorLeft | AnchorTop | AnchorRight | AnchorBottom},
    };
    const Case cases[] = {
        {96,
         {200, 100},
         {{{10, 10, 60, 30}}, {{140, 10, 190, 30}}, {{10, 40, 190, 60}}, {{10, 70, 60, 90}}, {{70, 64, 190, 90}}}},
        {96,
         {300, 150},
         {{{10, 10, 60, 30}}, {{240, 10, 290, 30}}, {{10, 40, 290, 60}}, {{10, 120, 60, 140}}, {{70, 64, 290, 140}}}},
        {144,
         {300, 150},
         {{{15, 15, 90, 45}}, {{210, 15, 285, 45}}, {{15, 60, 285, 90}}, {{15, 105, 90, 135}}, {{105, 96, 285, 135}}}},
        {144,
         {450, 225},
         {{{15, 15, 90, 45}}, {{360, 15, 435, 45}}, {{15, 60, 435, 90}}, {{15, 180, 90, 210}}, {{105, 96, 435, 210}}}},
    };
    Check(items, SIZE{200, 100}, cases);
}

} // namespace
} // namespace merovane::ui
