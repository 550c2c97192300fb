#include "ui/list_view.h"

#include "ui/list_accessible.h"

#include "ui/application.h"
#include "base/error.h"
#include "ui/dpi.h"
#include "ui/form.h"
#include "ui/gdi.h"
#include "ui/style.h"

#include <commctrl.h>
#include <uxtheme.h>

#include <algorithm>

namespace merovane::ui {

ListView::ListView(Form& owner, const ComponentDef& def) : Control(owner, def)
{
    const int width = def.value > 0 ? def.value : 100;
    std::wstring_view items = def.items;
    while (!items.empty()) {
        const size_t end = items.find(L'\n');
        columns_.push_back({std::wstring(items.substr(0, end)), width});
        items = end == std::wstring_view::npos ? std::wstring_view() : items.substr(end + 1);
    }
}

ListView::~ListView()
{
    // The list keeps using a set it holds: it lets go before the set goes.
    if (checkImages_ && hwnd_ != nullptr) {
        ListView_SetImageList(hwnd_, nullptr, LVSIL_STATE);
    }
}

void ListView::UpdateCheckImages()
{
    if ((Definition().flags & CheckBoxes) == 0) {
        return;
    }
    // Drawn like the window's own check boxes, so a dark list has no white
    // boxes in it; state 1 is the empty box, state 2 the ticked one.
    const Palette& palette = Owner().CurrentPalette();
    const int size = ::GetSystemMetricsForDpi(SM_CXSMICON, Owner().Dpi());
    unique_himagelist images(ImageList_Create(size, size, ILC_COLOR32, 2, 0));
    {
        const WindowDC screen(nullptr);
        const unique_hdc dc(::CreateCompatibleDC(screen.get()));
        for (const bool checked : {false, true}) {
            const unique_hbitmap bitmap(::CreateCompatibleBitmap(screen.get(), size, size));
            {
                const SelectedObject drawn(dc.get(), bitmap.get());
                RECT all{0, 0, size, size};
                ::SetDCBrushColor(dc.get(), palette.custom ? palette.listBack : ::GetSysColor(COLOR_WINDOW));
                ::FillRect(dc.get(), &all, static_cast<HBRUSH>(::GetStockObject(DC_BRUSH)));
                const int box = size * 13 / 16;
                const RECT glyph{(size - box) / 2, (size - box) / 2, (size - box) / 2 + box, (size - box) / 2 + box};
                DrawCheckGlyph(dc.get(), glyph, Kind::CheckBox, checked, false, palette, hwnd_);
            }
            ImageList_Add(images.get(), bitmap.get(), nullptr); // copies the bitmap, no longer selected
        }
    }
    // Replaced sets of ours are freed here; the one the list made is left to it.
    ListView_SetImageList(hwnd_, images.get(), LVSIL_STATE);
    checkImages_ = std::move(images);
}

void ListView::CreateWindowIn(HWND parent)
{
    const auto flags = Definition().flags;
    DWORD style = LVS_REPORT | LVS_OWNERDATA | LVS_SHOWSELALWAYS | WS_TABSTOP | WS_BORDER;
    if (flags & SingleSelect) {
        style |= LVS_SINGLESEL;
    }
    CreateChild(parent, WC_LISTVIEWW, style);
    DWORD exStyle = LVS_EX_DOUBLEBUFFER | LVS_EX_LABELTIP;
    if (flags & CheckBoxes) {
        exStyle |= LVS_EX_CHECKBOXES;
    }
    if (flags & RowSelect) {
        exStyle |= LVS_EX_FULLROWSELECT;
    }
    ListView_SetExtendedListViewStyle(hwnd_, exStyle);
    for (int i = 0; i < ColumnCount(); ++i) {
        LVCOLUMNW column{};
        column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
        column.pszText = columns_[i].caption.data();
        column.cx = Owner().Scale(columns_[i].width);
        column.iSubItem = i;
        ListView_InsertColumn(hwnd_, i, &column);
    }
    if (flags & CheckBoxes) {
        // The boxes' states are the rows', asked for when drawn.
        ListView_SetCallbackMask(hwnd_, LVIS_STATEIMAGEMASK);
    }
    ListView_SetItemCountEx(hwnd_, RowCount(), 0);
    // The header's drawing notifications go to the list, not to the window;
    // clicks and keys on the check boxes are seen here first.
    ::SetWindowSubclass(hwnd_, &ListView::HeaderNotifications, 1, reinterpret_cast<DWORD_PTR>(this));
}

LRESULT CALLBACK ListView::HeaderNotifications(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                               DWORD_PTR data) noexcept
{
    auto* self = reinterpret_cast<ListView*>(data);
    if ((message == WM_LBUTTONDOWN || message == WM_LBUTTONDBLCLK) && (self->Definition().flags & CheckBoxes) != 0) {
        LVHITTESTINFO hit{};
        hit.pt = {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
        const int row = ListView_HitTest(hwnd, &hit);
        if (row >= 0 && (hit.flags & LVHT_ONITEMSTATEICON) != 0) {
            self->ToggleFromInput(row);
            self->settingCheck_ = true; // the control's own toggle, if it makes one, is not a second change
            const LRESULT result = ::DefSubclassProc(hwnd, message, wParam, lParam);
            self->settingCheck_ = false;
            return result;
        }
    } else if (message == WM_GETOBJECT && static_cast<LONG>(lParam) == OBJID_CLIENT &&
               (self->Definition().flags & CheckBoxes) != 0) {
        // A window that is going away answers nothing more.
        const auto alive = [hwnd] { return ::IsWindow(hwnd) != FALSE; };
        const AccessibleRows rows{
            .count = [self, alive] { return alive() ? self->RowCount() : 0; },
            .name = [self](int row) { return self->Row(row).caption; },
            .checked = [self](int row) { return self->Row(row).checked; },
            .stateText = [self](int row) {
                return self->describeRowState ? self->describeRowState(row) : std::wstring();
            },
            .toggle = [self](int row) {
                application::ShowingErrors([&] { self->SetChecked(row, !self->Row(row).checked); });
            },
        };
        if (const LRESULT answer = AnswerListAccessible(hwnd, wParam, rows); answer != 0) {
            return answer;
        }
    } else if (message == WM_CONTEXTMENU && lParam == -1 && self->onContextMenu) {
        // Shift+F10 or the menu key: the menu opens under the focused row.
        POINT point{};
        RECT bounds{};
        const int row = ListView_GetNextItem(hwnd, -1, LVNI_FOCUSED);
        if (row >= 0 && ListView_GetItemRect(hwnd, row, &bounds, LVIR_LABEL)) {
            point = {bounds.left, bounds.bottom};
        }
        ::ClientToScreen(hwnd, &point);
        try {
            self->onContextMenu(point);
        } catch (...) {
            // The menu's own handlers report their errors; nothing leaves here.
        }
        return 0;
    } else if (message == WM_SYSKEYDOWN && self->onAltKeyDown) {
        bool handled = false;
        self->onAltKeyDown(static_cast<WORD>(wParam), handled);
        if (handled) {
            return 0;
        }
    } else if (message == WM_KEYDOWN && wParam == VK_SPACE && (self->Definition().flags & CheckBoxes) != 0) {
        const int row = ListView_GetNextItem(hwnd, -1, LVNI_FOCUSED);
        if (row >= 0) {
            self->ToggleFromInput(row);
            self->settingCheck_ = true;
            const LRESULT result = ::DefSubclassProc(hwnd, message, wParam, lParam);
            self->settingCheck_ = false;
            return result;
        }
    } else if (message == LVM_SETITEMSTATE && lParam != 0 && (self->Definition().flags & CheckBoxes) != 0) {
        // The boxes of an owner-data list are the rows': a program (or an
        // accessibility tool) that ticks one through the control ticks the row.
        const auto& item = *reinterpret_cast<const LVITEMW*>(lParam);
        const UINT box = (item.state & LVIS_STATEIMAGEMASK) >> 12;
        if ((item.stateMask & LVIS_STATEIMAGEMASK) != 0 && (box == 1 || box == 2)) {
            const int row = static_cast<int>(wParam);
            application::ShowingErrors([&] {
                for (int i = row < 0 ? 0 : row; i < self->RowCount() && (row < 0 || i == row); ++i) {
                    self->SetChecked(i, box == 2);
                }
            });
        }
    }
    if (message == WM_NOTIFY) {
        auto* header = reinterpret_cast<NMHDR*>(lParam);
        if (header->hwndFrom == ListView_GetHeader(hwnd)) {
            switch (header->code) {
            case NM_CUSTOMDRAW:
                if (self->Owner().CurrentPalette().custom) {
                    return self->DrawHeader(*reinterpret_cast<NMCUSTOMDRAW*>(lParam));
                }
                break;
            case HDN_ITEMCHANGINGW:
            case HDN_ITEMCHANGINGA:
            case HDN_TRACKW:
            case HDN_TRACKA:
                // The width is where both structures' items start alike.
                if (self->KeepMinimumWidth(*reinterpret_cast<NMHEADERW*>(lParam))) {
                    return TRUE;
                }
                break;
            default:
                break;
            }
        }
    } else if (message == WM_NCDESTROY) {
        ::RemoveWindowSubclass(hwnd, &ListView::HeaderNotifications, 1);
    }
    return ::DefSubclassProc(hwnd, message, wParam, lParam);
}

bool ListView::KeepMinimumWidth(NMHEADERW& change)
{
    const int minimum = Owner().Scale(minimumColumnWidth_);
    if (change.pitem == nullptr || (change.pitem->mask & HDI_WIDTH) == 0 || change.pitem->cxy >= minimum) {
        return false;
    }
    // Some headers take the corrected width from the notification; where one
    // does not, its change is refused and the column set to the minimum.
    change.pitem->cxy = minimum;
    const bool changing = change.hdr.code == HDN_ITEMCHANGINGW || change.hdr.code == HDN_ITEMCHANGINGA;
    if (!changing) {
        return false; // a refused track would end the drag
    }
    if (ListView_GetColumnWidth(hwnd_, change.iItem) != minimum) {
        ListView_SetColumnWidth(hwnd_, change.iItem, minimum);
    }
    return true;
}

LRESULT ListView::DrawHeader(NMCUSTOMDRAW& draw)
{
    const Palette& palette = Owner().CurrentPalette();
    switch (draw.dwDrawStage) {
    case CDDS_PREPAINT: {
        // The space right of the last column too.
        RECT all;
        ::GetClientRect(draw.hdr.hwndFrom, &all);
        ::SetDCBrushColor(draw.hdc, palette.face);
        ::FillRect(draw.hdc, &all, static_cast<HBRUSH>(::GetStockObject(DC_BRUSH)));
        return CDRF_NOTIFYITEMDRAW;
    }
    case CDDS_ITEMPREPAINT: {
        RECT rect = draw.rc;
        ::SetDCBrushColor(draw.hdc, (draw.uItemState & CDIS_SELECTED) ? palette.facePressed : palette.face);
        ::FillRect(draw.hdc, &rect, static_cast<HBRUSH>(::GetStockObject(DC_BRUSH)));
        RECT divider{rect.right - 1, rect.top + 2, rect.right, rect.bottom - 2};
        ::SetDCBrushColor(draw.hdc, palette.border);
        ::FillRect(draw.hdc, &divider, static_cast<HBRUSH>(::GetStockObject(DC_BRUSH)));
        const int column = static_cast<int>(draw.dwItemSpec);
        if (column >= 0 && column < ColumnCount()) {
            RECT text = rect;
            text.left += Owner().Scale(6);
            text.right -= Owner().Scale(4);
            const SelectedObject font(draw.hdc, reinterpret_cast<HFONT>(::SendMessageW(hwnd_, WM_GETFONT, 0, 0)));
            ::SetBkMode(draw.hdc, TRANSPARENT);
            ::SetTextColor(draw.hdc, palette.text);
            ::DrawTextW(draw.hdc, columns_[column].caption.c_str(), -1, &text,
                        DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_END_ELLIPSIS | DT_NOPREFIX);
        }
        return CDRF_SKIPDEFAULT;
    }
    default:
        return CDRF_DODEFAULT;
    }
}

void ListView::ApplyStyle()
{
    const Palette& palette = Owner().CurrentPalette();
    const COLORREF back = palette.custom ? palette.listBack : ::GetSysColor(COLOR_WINDOW);
    const COLORREF text = palette.custom ? palette.text : ::GetSysColor(COLOR_WINDOWTEXT);
    ListView_SetBkColor(hwnd_, back);
    ListView_SetTextBkColor(hwnd_, back);
    ListView_SetTextColor(hwnd_, text);
    // Dark scroll bars and header where the system has them.
    ::SetWindowTheme(hwnd_, palette.dark ? L"DarkMode_Explorer" : L"Explorer", nullptr);
    ::SetWindowTheme(ListView_GetHeader(hwnd_), palette.dark ? L"DarkMode_ItemsView" : L"ItemsView", nullptr);
    ::InvalidateRect(ListView_GetHeader(hwnd_), nullptr, TRUE);
    UpdateCheckImages();
}

void ListView::DpiChanged(UINT oldDpi, UINT newDpi)
{
    if (oldDpi == 0 || oldDpi == newDpi) {
        return;
    }
    for (int column = 0; column < ColumnCount(); ++column) {
        const int width = ListView_GetColumnWidth(hwnd_, column);
        ListView_SetColumnWidth(hwnd_, column, Rescale(width, oldDpi, newDpi));
    }
}

void ListView::SetColumnCaption(int column, std::wstring_view caption)
{
    columns_.at(column).caption = caption;
    if (hwnd_ != nullptr) {
        LVCOLUMNW info{};
        info.mask = LVCF_TEXT;
        info.pszText = columns_[column].caption.data();
        ListView_SetColumn(hwnd_, column, &info);
    }
}

void ListView::SyncCount()
{
    if (hwnd_ == nullptr) {
        return;
    }
    if (updateDepth_ > 0) {
        countPending_ = true; // told once, when the batch ends
        return;
    }
    countPending_ = false;
    ListView_SetItemCountEx(hwnd_, RowCount(), LVSICF_NOSCROLL);
    ::InvalidateRect(hwnd_, nullptr, FALSE);
}

void ListView::RedrawRow(int row)
{
    if (hwnd_ != nullptr && updateDepth_ == 0) {
        ListView_RedrawItems(hwnd_, row, row);
    }
}

void ListView::RedrawVisibleRows()
{
    if (hwnd_ == nullptr || RowCount() == 0) {
        return;
    }
    const int top = ListView_GetTopIndex(hwnd_);
    const int last = std::min(RowCount() - 1, top + ListView_GetCountPerPage(hwnd_));
    ListView_RedrawItems(hwnd_, top, last);
}

LRESULT ListView::FillDisplayInfo(NMLVDISPINFOW& info)
{
    LVITEMW& item = info.item;
    if (item.iItem < 0 || item.iItem >= RowCount()) {
        return 0;
    }
    const ListRow& row = rows_[static_cast<size_t>(item.iItem)];
    if ((item.mask & LVIF_TEXT) != 0 && item.pszText != nullptr && item.cchTextMax > 0) {
        const std::wstring* text = nullptr;
        if (item.iSubItem == 0) {
            text = &row.caption;
        } else if (static_cast<size_t>(item.iSubItem - 1) < row.subItems.size()) {
            text = &row.subItems[static_cast<size_t>(item.iSubItem - 1)];
        }
        size_t length = text == nullptr ? 0 : std::min(text->size(), static_cast<size_t>(item.cchTextMax - 1));
        if (sizing_ && text != nullptr && static_cast<size_t>(item.iSubItem) < sizingLengths_.size() &&
            text->size() < sizingLengths_[static_cast<size_t>(item.iSubItem)]) {
            length = 0;
        }
        if (length > 0) {
            std::copy_n(text->data(), length, item.pszText);
        }
        item.pszText[length] = L'\0';
    }
    if ((item.mask & LVIF_IMAGE) != 0) {
        int image = row.image;
        if (image == ListRow::kImageOnDemand) {
            image = onImageNeeded ? onImageNeeded(row) : ListRow::kNoImage;
        }
        item.iImage = image >= 0 ? image : I_IMAGENONE;
    }
    if ((item.mask & LVIF_STATE) != 0 && (Definition().flags & CheckBoxes) != 0) {
        item.state = (item.state & ~LVIS_STATEIMAGEMASK) | INDEXTOSTATEIMAGEMASK(row.checked ? 2 : 1);
        item.stateMask |= LVIS_STATEIMAGEMASK;
    }
    return 0;
}

void ListView::ToggleFromInput(int row) noexcept
{
    if (row >= 0 && row < RowCount()) {
        application::ShowingErrors([&] { SetChecked(row, !rows_[static_cast<size_t>(row)].checked); });
    }
}

int ListView::AddRow(ListRow row)
{
    const bool checked = row.checked;
    row.checked = false;
    rows_.push_back(std::move(row));
    const int index = RowCount() - 1;
    SyncCount();
    if (checked) {
        SetChecked(index, true);
    }
    return index;
}

void ListView::DeleteRow(int row)
{
    // The control keeps the selection by position: it moves with the rows.
    const int selected = Selected();
    rows_.erase(rows_.begin() + row);
    SyncCount();
    if (selected >= 0) {
        Select(selected == row ? -1 : selected > row ? selected - 1 : selected);
    }
}

void ListView::Clear()
{
    rows_.clear();
    if (hwnd_ != nullptr) {
        ListView_SetItemState(hwnd_, -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
    }
    SyncCount();
}

void ListView::SetChecked(int row, bool checked)
{
    if (rows_.at(row).checked == checked) {
        return;
    }
    rows_[row].checked = checked;
    RedrawRow(row);
    if (onItemChecked) {
        onItemChecked(row);
    }
}

void ListView::SetSubItem(int row, size_t index, std::wstring_view text)
{
    ListRow& data = rows_.at(row);
    if (data.subItems.size() <= index) {
        data.subItems.resize(index + 1);
    }
    data.subItems[index] = text;
    RedrawRow(row);
}

void ListView::SetCaption(int row, std::wstring_view caption)
{
    rows_.at(row).caption = caption;
    RedrawRow(row);
}

int ListView::Selected() const
{
    return hwnd_ == nullptr ? -1 : ListView_GetNextItem(hwnd_, -1, LVNI_SELECTED);
}

void ListView::Select(int row)
{
    if (hwnd_ == nullptr) {
        return;
    }
    ListView_SetItemState(hwnd_, -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
    if (row >= 0) {
        ListView_SetItemState(hwnd_, row, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
        ListView_EnsureVisible(hwnd_, row, FALSE);
    }
}

void ListView::BeginUpdate()
{
    if (updateDepth_++ == 0 && hwnd_ != nullptr) {
        ::SendMessageW(hwnd_, WM_SETREDRAW, FALSE, 0);
    }
}

void ListView::EndUpdate()
{
    if (updateDepth_ > 0 && --updateDepth_ == 0 && hwnd_ != nullptr) {
        if (countPending_) {
            SyncCount();
        }
        ::SendMessageW(hwnd_, WM_SETREDRAW, TRUE, 0);
        ::RedrawWindow(hwnd_, nullptr, nullptr, RDW_ERASE | RDW_FRAME | RDW_INVALIDATE | RDW_ALLCHILDREN);
    }
}

void ListView::Sort(const std::function<int(const ListRow&, const ListRow&)>& compare)
{
    // The selected and the focused row stay so; the row the view is anchored
    // on (the selected one while on screen, else the top one) keeps its place
    // on screen, so the rows don't jump under the pointer.
    const int selected = Selected();
    const int focused = hwnd_ == nullptr ? -1 : ListView_GetNextItem(hwnd_, -1, LVNI_FOCUSED);
    const int top = hwnd_ == nullptr ? 0 : ListView_GetTopIndex(hwnd_);
    const int perPage = hwnd_ == nullptr ? 0 : ListView_GetCountPerPage(hwnd_);
    const int anchor = selected >= top && selected < top + perPage ? selected : top;
    std::vector<size_t> order(rows_.size());
    for (size_t i = 0; i < order.size(); ++i) {
        order[i] = i;
    }
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return compare(rows_[a], rows_[b]) < 0; });
    std::vector<ListRow> sorted;
    sorted.reserve(rows_.size());
    int newSelected = -1;
    int newFocused = -1;
    int newAnchor = -1;
    for (size_t i = 0; i < order.size(); ++i) {
        const int from = static_cast<int>(order[i]);
        newSelected = from == selected ? static_cast<int>(i) : newSelected;
        newFocused = from == focused ? static_cast<int>(i) : newFocused;
        newAnchor = from == anchor ? static_cast<int>(i) : newAnchor;
        sorted.push_back(std::move(rows_[order[i]]));
    }
    rows_ = std::move(sorted);
    if (hwnd_ == nullptr) {
        return;
    }
    BeginUpdate();
    ListView_SetItemState(hwnd_, -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
    if (newSelected >= 0) {
        ListView_SetItemState(hwnd_, newSelected, LVIS_SELECTED, LVIS_SELECTED);
    }
    if (newFocused >= 0) {
        ListView_SetItemState(hwnd_, newFocused, LVIS_FOCUSED, LVIS_FOCUSED);
    }
    if (newAnchor >= 0) {
        ScrollToTop(std::max(0, newAnchor - (anchor - top)));
    }
    EndUpdate();
}

int ListView::TopRow() const
{
    return hwnd_ == nullptr ? 0 : ListView_GetTopIndex(hwnd_);
}

void ListView::ScrollToTop(int row)
{
    if (hwnd_ == nullptr || RowCount() == 0) {
        return;
    }
    RECT bounds{};
    ListView_GetItemRect(hwnd_, 0, &bounds, LVIR_BOUNDS);
    const int height = bounds.bottom - bounds.top;
    const int rows = std::clamp(row, 0, RowCount() - 1) - ListView_GetTopIndex(hwnd_);
    if (height > 0 && rows != 0) {
        ListView_Scroll(hwnd_, 0, rows * height);
    }
}

void ListView::AutoSizeColumns(int minimumWidth)
{
    minimumColumnWidth_ = minimumWidth;
    if (hwnd_ == nullptr) {
        return;
    }
    // Only the longest texts by characters can be the widest: while the
    // control measures, the others answer "" and cost next to nothing.
    constexpr size_t kMeasured = 12;
    sizingLengths_.assign(static_cast<size_t>(ColumnCount()), 0);
    std::vector<size_t> lengths(rows_.size());
    for (size_t column = 0; column < sizingLengths_.size() && rows_.size() > kMeasured; ++column) {
        for (size_t row = 0; row < rows_.size(); ++row) {
            const std::wstring* text = column == 0 ? &rows_[row].caption
                                       : column - 1 < rows_[row].subItems.size() ? &rows_[row].subItems[column - 1]
                                                                                 : nullptr;
            lengths[row] = text == nullptr ? 0 : text->size();
        }
        std::nth_element(lengths.begin(), lengths.begin() + (kMeasured - 1), lengths.end(), std::greater<>());
        sizingLengths_[column] = lengths[kMeasured - 1];
    }
    sizing_ = true;
    // Column by column: the last one fills what the others leave, so each has
    // its final width before the next is sized.
    const int minimum = Owner().Scale(minimumWidth);
    for (int column = 0; column < ColumnCount(); ++column) {
        ListView_SetColumnWidth(hwnd_, column, LVSCW_AUTOSIZE_USEHEADER);
        if (ListView_GetColumnWidth(hwnd_, column) < minimum) {
            ListView_SetColumnWidth(hwnd_, column, minimum);
        }
    }
    sizing_ = false;
}

LRESULT ListView::OnNotify(NMHDR& header, bool& handled)
{
    handled = false;
    switch (header.code) {
    case LVN_ITEMCHANGED: {
        const auto& change = reinterpret_cast<const NMLISTVIEW&>(header);
        if (settingCheck_ || change.iItem < 0 || change.iItem >= RowCount() || (change.uChanged & LVIF_STATE) == 0 ||
            ((change.uNewState ^ change.uOldState) & LVIS_STATEIMAGEMASK) == 0) {
            return 0;
        }
        // State image 2 is the ticked box, 1 the empty one.
        const bool checked = ((change.uNewState & LVIS_STATEIMAGEMASK) >> 12) == 2;
        if (rows_[change.iItem].checked != checked) {
            rows_[change.iItem].checked = checked;
            if (onItemChecked) {
                onItemChecked(change.iItem);
            }
        }
        return 0;
    }
    case LVN_GETDISPINFOW:
        handled = true;
        return FillDisplayInfo(reinterpret_cast<NMLVDISPINFOW&>(header));
    case LVN_KEYDOWN: {
        const auto& key = reinterpret_cast<const NMLVKEYDOWN&>(header);
        if (onKeyDown) {
            bool keyHandled = false;
            onKeyDown(key.wVKey, keyHandled);
            handled = keyHandled;
        }
        return 0;
    }
    case NM_RCLICK: {
        if (onContextMenu) {
            POINT point{};
            ::GetCursorPos(&point);
            onContextMenu(point);
            handled = true;
        }
        return 0;
    }
    default:
        return 0;
    }
}

} // namespace merovane::ui
