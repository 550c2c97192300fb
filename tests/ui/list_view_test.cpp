#include "ui/application.h"
#include "ui/component.h"
#include "ui/form.h"
#include "ui/list_view.h"

#include <gtest/gtest.h>

#include <commctrl.h>

#include <string>

namespace merovane::ui {
namespace {

constexpr ComponentDef kComponents[] = {
    {.kind = Kind::ListView, .name = L"List", .bounds = {8, 8, 380, 200}, .flags = CheckBoxes | RowSelect,
     .items = L"Name\nCompany\nPath"},
};
constexpr FormDef kForm{.name = L"ListViewTest",
                        .className = L"TListViewTest",
                        .caption = L"Test",
                        .clientWidth = 400,
                        .clientHeight = 220,
                        .components = kComponents};

class ListViewTest : public ::testing::Test {
protected:
    ListViewTest() : list((form.Create(), form.Get<ListView>(L"List"))) {}

    int Width(int column) const { return ListView_GetColumnWidth(list.Handle(), column); }
    std::wstring Shown(int row, int column) const
    {
        wchar_t text[128]{};
        ListView_GetItemText(list.Handle(), row, column, text, 128);
        return text;
    }

    Form form{kForm};
    ListView& list;
};

// Only the longest texts are measured: wherever the longest stands among
// many short ones, a column is as wide as for that text alone, and every
// cell still shows its text afterwards.
TEST_F(ListViewTest, ColumnsFitTheirLongestTextsWhereverTheyStand)
{
    const std::wstring name(40, L'W');
    const std::wstring company = L"A company with a rather long name";
    list.AddRow({name, -1, {company, L"p"}, false});
    list.AutoSizeColumns();
    const int nameAlone = Width(0);
    const int companyAlone = Width(1);
    ASSERT_GT(nameAlone, list.Owner().Scale(40));

    list.Clear();
    for (int row = 0; row < 60; ++row) {
        list.AddRow({row == 45 ? name : L"row " + std::to_wstring(row), -1,
                     {row == 7 ? company : L"c", L"p"}, false});
    }
    list.AutoSizeColumns();
    EXPECT_EQ(Width(0), nameAlone);
    EXPECT_EQ(Width(1), companyAlone);
    EXPECT_EQ(Shown(10, 0), L"row 10");
    EXPECT_EQ(Shown(10, 1), L"c");
}

// A sort keeps the selected and the focused row, and the selected row its
// place on screen.
TEST_F(ListViewTest, ASortKeepsTheSelectedRowWhereItIsOnScreen)
{
    for (int row = 0; row < 100; ++row) {
        list.AddRow({std::to_wstring(1000 + row), -1, {}, false});
    }
    list.Select(60);
    list.ScrollToTop(55);
    ASSERT_EQ(list.TopRow(), 55);
    list.Sort([](const ListRow& a, const ListRow& b) { return b.caption.compare(a.caption); }); // reversed
    ASSERT_EQ(list.Selected(), 39);
    EXPECT_EQ(list.Row(39).caption, L"1060");
    EXPECT_EQ(ListView_GetNextItem(list.Handle(), -1, LVNI_FOCUSED), 39);
    EXPECT_EQ(list.Selected() - list.TopRow(), 5);
}

} // namespace
} // namespace merovane::ui
