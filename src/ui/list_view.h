#pragma once

// A report-view list with optional check boxes. The rows live here, in display
// order, with texts for sub-items that have no column; the control is an
// owner-data list that asks for what it draws, so a thousand rows cost what
// ten do and a sort is a reorder of this vector.

#include "ui/component.h"
#include "ui/gdi.h"

#include <commctrl.h>

#include <any>
#include <functional>
#include <string>
#include <vector>

namespace merovane::ui {

struct ListRow {
    // An image index, kNoImage, or kImageOnDemand: ListView::onImageNeeded
    // names it when the row is drawn.
    static constexpr int kNoImage = -1;
    static constexpr int kImageOnDemand = -3;

    std::wstring caption;
    int image = kNoImage;
    std::vector<std::wstring> subItems;
    bool checked = false;
    // What the row stands for, for its owner; the list only keeps it.
    std::any data{};
};

class ListView : public Control {
public:
    ListView(Form& owner, const ComponentDef& def);
    ~ListView() override;

    [[nodiscard]] int ColumnCount() const noexcept { return static_cast<int>(columns_.size()); }
    [[nodiscard]] const std::wstring& ColumnCaption(int column) const { return columns_.at(column).caption; }
    void SetColumnCaption(int column, std::wstring_view caption);

    [[nodiscard]] int RowCount() const noexcept { return static_cast<int>(rows_.size()); }
    [[nodiscard]] const ListRow& Row(int row) const { return rows_.at(row); }

    // Appends a row; a checked row reports its check box like any change.
    int AddRow(ListRow row);
    void DeleteRow(int row);
    void Clear();
    // Changes the check box; a change runs onItemChecked.
    void SetChecked(int row, bool checked);
    // One sub-item's text (columns after the first); missing ones are added.
    void SetSubItem(int row, size_t index, std::wstring_view text);
    void SetCaption(int row, std::wstring_view caption);
    // The owner's data of a row, to change in place.
    [[nodiscard]] std::any& Data(int row) { return rows_.at(row).data; }

    [[nodiscard]] int Selected() const;
    void Select(int row);

    // Redrawing stops between the two; they nest.
    void BeginUpdate();
    void EndUpdate();

    // Stable sort of the rows by a three-way comparison. The selected and
    // the focused row stay so, and the selected row (while on screen, else
    // the top row) keeps its place on screen.
    void Sort(const std::function<int(const ListRow&, const ListRow&)>& compare);
    // The first row on screen, and scrolling so that `row` is.
    [[nodiscard]] int TopRow() const;
    void ScrollToTop(int row);
    // Sizes every column to fit its longest texts and its header, but no narrower than
    // `minimumWidth` (96-DPI units); the last column fills the rest. From then
    // on no column is made narrower than that, by the user's dragging either.
    void AutoSizeColumns(int minimumWidth = 0);
    // The narrowest a user may drag a column (96-DPI units), without sizing
    // the columns now.
    void SetMinimumColumnWidth(int minimumWidth) noexcept { minimumColumnWidth_ = minimumWidth; }

    LRESULT OnNotify(NMHDR& header, bool& handled) override;
    void ApplyStyle() override;
    void DpiChanged(UINT oldDpi, UINT newDpi) override;

    // Every change of a row's check box, by the user or by code.
    std::function<void(int row)> onItemChecked;
    // The image of a kImageOnDemand row about to be drawn; -1 for none yet.
    std::function<int(const ListRow& row)> onImageNeeded;
    // Redraws the rows on screen, for images that have arrived.
    void RedrawVisibleRows();
    std::function<void(WORD key, bool& handled)> onKeyDown;
    // A key pressed with Alt held (Alt+Up); it must not throw.
    std::function<void(WORD key, bool& handled)> onAltKeyDown;
    std::function<void(POINT screenPoint)> onContextMenu;
    // A row's state in words for screen readers ("shown"); none without it.
    std::function<std::wstring(int row)> describeRowState;

protected:
    void CreateWindowIn(HWND parent) override;

private:
    static LRESULT CALLBACK HeaderNotifications(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                                                UINT_PTR id, DWORD_PTR data) noexcept;
    LRESULT DrawHeader(NMCUSTOMDRAW& draw);
    // Keeps a column's new width at the minimum or above; true when the
    // header must not apply its change.
    bool KeepMinimumWidth(NMHEADERW& change);

    struct Column {
        std::wstring caption;
        int width;
    };
    // Tells the control the row count (once per batch) or redraws one row.
    void SyncCount();
    void RedrawRow(int row);
    LRESULT FillDisplayInfo(NMLVDISPINFOW& info);
    // A click or the space bar on a check box: toggled here, whatever the
    // control does with an owner-data list's boxes.
    void ToggleFromInput(int row) noexcept;

    std::vector<Column> columns_;
    std::vector<ListRow> rows_;
    void UpdateCheckImages();

    unique_himagelist checkImages_; // the row check boxes, drawn in the style
    int minimumColumnWidth_ = 0; // 96-DPI units
    int updateDepth_ = 0;
    bool countPending_ = false;
    bool settingCheck_ = false;
    // While AutoSizeColumns measures: per column, the fewest characters of a
    // text that is measured.
    bool sizing_ = false;
    std::vector<size_t> sizingLengths_;
};

} // namespace merovane::ui
