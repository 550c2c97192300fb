#include "about_window/about_window_definition.h"

namespace merovane {

namespace {

using namespace ui;
using namespace about_window;

// The body is not docked: it comes first so that the tab order ends on the
// button, and keeps its size by its anchors instead.
static constexpr ui::ComponentDef kComponents[] = {
    {.kind = Kind::TabControl, .name = L"TabControlBody", .bounds = {0, 0, 334, 126},
     .anchors = AnchorLeft | AnchorTop | AnchorRight | AnchorBottom, .flags = Framed},
    // Version and copyright come from the executable when the window is
    // created and shown.
    {.kind = Kind::Label, .name = kLabelVersion.name, .parent = L"TabControlBody",
     .bounds = {0, 12, 334, 20}, .flags = CenterText},
    {.kind = Kind::Label, .name = kLabelCopyright.name, .parent = L"TabControlBody",
     .bounds = {0, 32, 334, 17}, .flags = CenterText},
    // The link labels open a messenger link, "mailto:" links to the two
    // addresses shown, and the web site; the targets live with the window.
    {.kind = Kind::Label, .name = kLabelTelegram.name, .parent = L"TabControlBody",
     .caption = L"Telegram", .bounds = {0, 49, 334, 17}, .flags = Link | CenterText},
    {.kind = Kind::Label, .name = kLabelGMail.name, .parent = L"TabControlBody",
     .caption = L"merovane@example.com", .bounds = {0, 66, 334, 17}, .flags = Link | CenterText},
    {.kind = Kind::Label, .name = kLabelYaMail.name, .parent = L"TabControlBody",
     .caption = L"merovane.support@example.org", .bounds = {0, 83, 334, 17},
     .flags = Link | CenterText},
    {.kind = Kind::Label, .name = kLabelMainWebSite.name, .parent = L"TabControlBody",
     .caption = L"Сайт основной", .bounds = {0, 100, 334, 17}, .flags = Link | CenterText},
    {.kind = Kind::Image, .name = kImage1.name, .parent = L"TabControlBody", .bounds = {8, 8, 32, 32}},
    {.kind = Kind::TabControl, .name = L"TabControlButtons", .bounds = {0, 126, 334, 35},
     .align = Align::Bottom, .flags = Framed},
    {.kind = Kind::Button, .name = kButton1.name, .parent = L"TabControlButtons", .caption = L"Ok",
     .bounds = {0, 0, 334, 35}, .align = Align::Client, .flags = Bold},
};

} // namespace

const ui::FormDef& AboutWindowDefinition()
{
    static constexpr ui::FormDef kForm{
        .name = L"Form8",
        .className = L"TForm8",
        .caption = L"О программе",
        .clientWidth = 334,
        .clientHeight = 161,
        .minWidth = 350,
        .minHeight = 200,
        .border = ui::Border::Single,
        .appWindow = true,
        .roundedCorners = true,
        .fontFace = L"Tahoma",
        .fontHeight = -11, // 8 pt
        .components = kComponents,
    };
    return kForm;
}

} // namespace merovane
