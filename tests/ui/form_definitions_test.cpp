#include "base/error.h"
#include "main_window/main_window_definition.h"
#include "settings_dialog/settings_dialog_definition.h"
#include "about_window/about_window_definition.h"
#include "update_dialog/update_dialog_definition.h"
#include "support/language_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cwctype>
#include <set>
#include <string>
#include <vector>

namespace merovane {
namespace {

using ui::Align;
using ui::ComponentDef;
using ui::FormDef;
using ui::Kind;

// Component names are plain ASCII (checked below), so folding A-Z is the whole
// of the case-insensitive comparison that language-file keys get.
std::wstring Folded(std::wstring_view text)
{
    std::wstring folded(text);
    for (wchar_t& c : folded) {
        if (c >= L'A' && c <= L'Z') {
            c = static_cast<wchar_t>(c - L'A' + L'a');
        }
    }
    return folded;
}

const ComponentDef* Find(const FormDef& form, std::wstring_view name)
{
    if (name.empty()) {
        return nullptr;
    }
    for (const ComponentDef& component : form.components) {
        if (component.name == name) {
            return &component;
        }
    }
    return nullptr;
}

bool IsMenu(Kind kind)
{
    return kind == Kind::PopupMenu || kind == Kind::MenuItem;
}

bool HasWindow(Kind kind)
{
    return !IsMenu(kind) && kind != Kind::TrayIcon;
}

struct FormCase {
    const char* name;
    const FormDef& (*definition)();
};

const FormCase kForms[] = {
    {"Form1", MainWindowDefinition},
    {"Form8", AboutWindowDefinition},
    {"Form2", SettingsDialogDefinition},
    {"Form10", UpdateDialogDefinition},
};

void PrintTo(const FormCase& form, std::ostream* out)
{
    *out << form.name;
}

class FormDefinitionTest : public ::testing::TestWithParam<FormCase> {
protected:
    const FormDef& form = GetParam().definition();
};

TEST_P(FormDefinitionTest, NamesAreUsableInKeysAndUniqueIgnoringCase)
{
    EXPECT_EQ(ToUtf8(form.name), GetParam().name);
    EXPECT_EQ(form.className, L"T" + std::wstring(form.name));

    std::set<std::wstring> seen;
    for (const ComponentDef& component : form.components) {
        const std::string name = ToUtf8(component.name);
        EXPECT_FALSE(component.name.empty());
        // A "." or "=" would cut the language-file key in the wrong place.
        EXPECT_TRUE(std::all_of(component.name.begin(), component.name.end(),
                                [](wchar_t c) { return c < 0x80 && (std::iswalnum(c) || c == L'_'); }))
            << name;
        EXPECT_TRUE(seen.insert(Folded(component.name)).second) << name << " occurs twice";
    }
}

TEST_P(FormDefinitionTest, ParentsAreEarlierComponents)
{
    std::set<std::wstring_view> earlier;
    for (const ComponentDef& component : form.components) {
        if (!component.parent.empty()) {
            EXPECT_TRUE(earlier.contains(component.parent))
                << ToUtf8(component.name) << " in " << ToUtf8(component.parent);
        }
        earlier.insert(component.name);
    }
}

TEST_P(FormDefinitionTest, MenuItemsSitInMenusAndNothingElseDoes)
{
    for (const ComponentDef& component : form.components) {
        const ComponentDef* parent = Find(form, component.parent);
        const bool inMenu = parent != nullptr && IsMenu(parent->kind);
        EXPECT_EQ(inMenu, component.kind == Kind::MenuItem) << ToUtf8(component.name);
    }
}

TEST_P(FormDefinitionTest, RadioItemsCarryAGroup)
{
    for (const ComponentDef& component : form.components) {
        if ((component.flags & ui::RadioItem) != 0) {
            EXPECT_EQ(component.kind, Kind::MenuItem) << ToUtf8(component.name);
            EXPECT_NE(component.value, 0) << ToUtf8(component.name);
        }
    }
}

TEST_P(FormDefinitionTest, PlacedControlsLieInsideTheirParent)
{
    for (const ComponentDef& component : form.components) {
        if (!HasWindow(component.kind) || component.align != Align::None) {
            continue;
        }
        const ComponentDef* parent = Find(form, component.parent);
        const int width = parent != nullptr ? parent->bounds.width : form.clientWidth;
        const int height = parent != nullptr ? parent->bounds.height : form.clientHeight;
        const ui::Bounds& box = component.bounds;
        EXPECT_TRUE(box.width > 0 && box.height > 0 && box.left >= 0 && box.top >= 0 &&
                    box.left + box.width <= width && box.top + box.height <= height)
            << ToUtf8(component.name) << " at " << box.left << "," << box.top << " size " << box.width
            << "x" << box.height << " in " << width << "x" << height;
    }
}

INSTANTIATE_TEST_SUITE_P(Windows, FormDefinitionTest, ::testing::ValuesIn(kForms),
                         [](const auto& info) { return std::string(info.param.name); });

// The settings are read and the menus opened in this order; "-" stands for a
// separator whatever its name.
TEST(MainWindowMenus, KeepTheirOrder)
{
    struct MenuCase {
        std::wstring_view menu;
        std::vector<std::wstring_view> items;
    };
    const MenuCase cases[] = {
        {L"PopupMenu_General",
         {L"Name", L"Version", L"-", L"ShowMainFormTrayMenu", L"-", L"ThemeMenu", L"LanguageMenu", L"-",
          L"ViewMenu", L"RefreshListMenu", L"-", L"AlwaysShowAppGeneralMenu", L"AlwaysHideAppGeneralMenu", L"NoRuleGeneralMenu", L"-",
          L"DelOldIconMenu", L"DelNonExistentFilesMenu", L"ShowEveryIconMenu", L"RestartExplorerMenu", L"-", L"OptionMenu", L"-",
          L"CheckUpdateMenu", L"AboutMenu", L"-", L"CloseTrayMenu"}},
        {L"ThemeMenu", {L"ThemeAuto", L"ThemeLight", L"ThemeDark"}},
        {L"LanguageMenu", {}}, // filled from the language folder at run time
        {L"ViewMenu", {L"IconSmallMenu", L"IconBigMenu"}},
        {L"PopupMenuIcon",
         {L"OpenFolderMenu", L"-", L"MoveUpMenu", L"MoveDownMenu", L"-", L"AlwaysShowAppMenu", L"AlwaysHideAppMenu", L"NoRuleMenu", L"-", L"ShowAllMenu",
          L"HideAllMenu", L"-", L"DeleteIconMenu"}},
    };
    const auto joined = [](const std::vector<std::wstring_view>& names) {
        std::wstring text;
        for (const std::wstring_view name : names) {
            text += std::wstring(name) + L" ";
        }
        return ToUtf8(text);
    };
    const FormDef& form = MainWindowDefinition();
    for (const MenuCase& menu : cases) {
        std::vector<std::wstring_view> items;
        for (const ComponentDef& component : form.components) {
            if (component.parent == menu.menu) {
                items.push_back(component.caption == L"-" ? L"-" : component.name);
            }
        }
        EXPECT_EQ(joined(items), joined(menu.items)) << ToUtf8(menu.menu);
    }
}

// The translation engine's skip rule: empty, a separator, or a 32-bit integer.
bool IsLookedUp(std::wstring_view text)
{
    if (text.empty() || text == L"-") {
        return false;
    }
    std::wstring_view digits = text;
    if (digits.front() == L'-' || digits.front() == L'+') {
        digits.remove_prefix(1);
    }
    if (digits.empty() || digits.size() > 10 ||
        !std::all_of(digits.begin(), digits.end(), [](wchar_t c) { return c >= L'0' && c <= L'9'; })) {
        return true;
    }
    const long long value = std::stoll(std::wstring(text));
    return value < INT32_MIN || value > INT32_MAX;
}

// Texts the program sets itself, which the engine never looks up.
bool IsExcluded(const FormDef& form, const ComponentDef& component)
{
    if (component.kind == Kind::StatusBar || component.kind == Kind::TrayIcon) {
        return true;
    }
    const std::wstring key = std::wstring(form.name) + L"." + std::wstring(component.name);
    return key == L"Form1.Name" || key == L"Form1.Version" || key == L"Form8.LabelCopyright" ||
           key == L"Form10.LabelLocalVersion" || key == L"Form10.LabelServerVersion";
}

std::vector<std::wstring_view> Lines(std::wstring_view text)
{
    std::vector<std::wstring_view> lines;
    if (text.empty()) {
        return lines;
    }
    size_t start = 0;
    for (size_t end; (end = text.find(L'\n', start)) != std::wstring_view::npos; start = end + 1) {
        lines.push_back(text.substr(start, end - start));
    }
    lines.push_back(text.substr(start));
    return lines;
}

// The keys the engine looks up for a window's built-in texts.
std::vector<std::wstring> TranslationKeys(const FormDef& form)
{
    const std::wstring window(form.name);
    std::vector<std::wstring> keys;
    if (window != L"Form1") { // the main window composes its caption itself
        keys.push_back(window + L".Caption");
    }
    for (const ComponentDef& component : form.components) {
        if (IsExcluded(form, component)) {
            continue;
        }
        const std::wstring prefix = window + L"." + std::wstring(component.name);
        if (IsLookedUp(component.caption)) {
            keys.push_back(prefix + L".Caption");
        }
        if (IsLookedUp(component.hint)) {
            keys.push_back(prefix + L".Hint");
        }
        const std::vector<std::wstring_view> items = Lines(component.items);
        for (size_t i = 0; i < items.size(); ++i) {
            if (!IsLookedUp(items[i])) {
                continue;
            }
            if (component.kind == Kind::ListView) {
                keys.push_back(prefix + L".Columns[" + std::to_wstring(i) + L"].Caption");
            } else if (component.kind == Kind::TabControl) {
                keys.push_back(prefix + L".Tabs [" + std::to_wstring(i) + L"]");
            }
        }
    }
    return keys;
}

// A key the file lacks leaves a Russian text behind; a key that addresses
// nothing is deleted from the file by the start-up cleanup.
TEST(ShippedEnglishFile, TranslatesEveryTextOfEveryWindowAndNothingElse)
{
    const auto entries = test::ReadSection(test::ShippedEnglishFile(), L"Merovane");
    ASSERT_FALSE(entries.empty());

    std::set<std::wstring> inFile;
    for (const auto& [key, value] : entries) {
        EXPECT_TRUE(inFile.insert(Folded(key)).second) << ToUtf8(key) << " occurs twice";
        EXPECT_FALSE(value.empty()) << ToUtf8(key);
    }
    std::set<std::wstring> expected;
    for (const FormCase& form : kForms) {
        for (const std::wstring& key : TranslationKeys(form.definition())) {
            expected.insert(Folded(key));
            EXPECT_TRUE(inFile.contains(Folded(key))) << "missing: " << ToUtf8(key);
        }
    }
    for (const auto& [key, value] : entries) {
        EXPECT_TRUE(expected.contains(Folded(key))) << "addresses nothing: " << ToUtf8(key);
    }
}

// Without the mark the file reads in the ANSI code page and "≡" is lost.
TEST(ShippedEnglishFile, IsUtf8WithByteOrderMarkAndCrlfLines)
{
    const std::string bytes = test::ReadFileAsBytes(test::ShippedEnglishFile());
    EXPECT_TRUE(bytes.starts_with("\xEF\xBB\xBF"));
    size_t bareLineFeeds = 0;
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\n' && (i == 0 || bytes[i - 1] != '\r')) {
            ++bareLineFeeds;
        }
    }
    EXPECT_EQ(bareLineFeeds, 0u);
}

} // namespace
} // namespace merovane
