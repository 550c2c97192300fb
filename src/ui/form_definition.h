#pragma once

// Windows described as data: one FormDef per window, listing its components in
// creation order with their kinds, built-in (Russian) texts and positions. The
// form layer creates the window from it; the translation engine, the language
// files and the settings file address texts by the names given here.

#include <cstdint>
#include <span>
#include <string_view>

namespace merovane::ui {

enum class Kind {
    Label,
    CheckBox,
    RadioButton,
    Button,
    SpeedButton, // flat button that shows a caption, no focus
    GroupBox,
    TabControl, // also used without tabs, as a framed panel
    ListView,
    StatusBar,
    ProgressBar,
    Image,
    PopupMenu, // never a window of its own; holds menu items
    MenuItem,
    TrayIcon,
    HotKey, // a key combination chosen by pressing it
};

// Sides a component keeps its distance to when its parent is resized.
enum Anchor : std::uint8_t {
    AnchorLeft = 1,
    AnchorTop = 2,
    AnchorRight = 4,
    AnchorBottom = 8,
    AnchorDefault = AnchorLeft | AnchorTop,
};

// Docking, applied in definition order among siblings: each docked component
// takes its edge of what the earlier ones left; Client takes the rest.
enum class Align : std::uint8_t { None, Top, Bottom, Left, Right, Client };

enum Flag : std::uint32_t {
    NoFlags = 0,
    Hidden = 1u << 0,        // created invisible
    Disabled = 1u << 1,      // created disabled
    Checked = 1u << 2,       // check box, radio button or menu item starts checked
    Bold = 1u << 3,          // bold font
    HandCursor = 1u << 4,    // hand cursor over the control
    Link = 1u << 5,          // label drawn as a link: blue, underlined, hand cursor
    RadioItem = 1u << 6,     // menu item in the radio group of its `group`
    AutoCheck = 1u << 7,     // menu item checks itself when clicked (radio: unchecks the group)
    DefaultButton = 1u << 8, // the window's default button (Enter)
    CenterText = 1u << 9,    // label text centred
    RightText = 1u << 10,    // label text right-aligned
    CheckBoxes = 1u << 11,   // list view rows carry check boxes
    RowSelect = 1u << 12,    // list view selects whole rows
    SingleSelect = 1u << 13, // list view allows one selected row
    Framed = 1u << 14,       // tab control without tabs drawn as a framed panel
    RightJustifyMenu = 1u << 15, // popup menu opens with its right edge at the point
};

// Position and size in 96-DPI units, relative to the parent's client area.
struct Bounds {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
};

struct ComponentDef {
    Kind kind;
    std::wstring_view name;
    // The containing component ("" for the window itself). Menu items name
    // their popup menu or their parent menu item.
    std::wstring_view parent = {};
    // Built-in Caption: the text of labels, buttons, check boxes, group boxes
    // and menu items ("-" is a menu separator); empty where none is shown.
    std::wstring_view caption = {};
    Bounds bounds = {};
    Align align = Align::None;
    std::uint8_t anchors = AnchorDefault;
    std::uint32_t flags = NoFlags;
    std::wstring_view hint = {}; // tooltip
    // Tab captions, list-view column captions or status-bar panels, one per
    // line ("\n" between them).
    std::wstring_view items = {};
    // Kind-specific number: timer interval in ms, list-view column width,
    // progress-bar maximum, radio group of a menu item.
    int value = 0;
    std::wstring_view shortcut = {}; // menu item shortcut, e.g. L"F1"
    std::wstring_view fontFace = {}; // overrides the window's font face
    int fontHeight = 0;              // overrides the window's font height, in pixels at 96 DPI
};

// A component's name with the class the code uses it as. Each window spells
// the names its code uses once, as constants beside its definition, and both
// the table and the code use those: a misspelt name does not compile.
template <typename T>
struct Named {
    std::wstring_view name;
};

enum class Border : std::uint8_t {
    Sizeable,    // normal resizable window
    Dialog,      // fixed dialog frame
    Single,      // fixed single frame with only the close box
};

struct FormDef {
    std::wstring_view name;      // component name, "Form1"
    std::wstring_view className; // window class, "TForm1"
    std::wstring_view caption;   // built-in caption
    int clientWidth = 0;         // 96-DPI units
    int clientHeight = 0;
    int minWidth = 0; // outer size, 96-DPI units
    int minHeight = 0;
    Border border = Border::Sizeable;
    bool appWindow = false;      // own taskbar button: WS_EX_APPWINDOW, owned by the desktop
    bool roundedCorners = false;
    std::wstring_view fontFace = L"Segoe UI";
    int fontHeight = -12; // pixels at 96 DPI; negative is the character height (9 pt = -12)
    std::span<const ComponentDef> components;
};

} // namespace merovane::ui
