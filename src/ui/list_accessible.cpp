#include "ui/list_accessible.h"

#include "ui/com_ptr.h"

#include <commctrl.h>

#include <new>

namespace merovane::ui {

namespace {

bool IsRowChild(const VARIANT& child)
{
    return child.vt == VT_I4 && child.lVal != CHILDID_SELF;
}

// The system's object answers for the list itself; rows are answered here.
class ListAccessible final : public IAccessible {
public:
    ListAccessible(HWND list, com_ptr<IAccessible> standard, AccessibleRows rows)
        : list_(list), standard_(std::move(standard)), rows_(std::move(rows))
    {
    }

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override
    {
        if (object == nullptr) {
            return E_POINTER;
        }
        if (riid == IID_IUnknown || riid == IID_IDispatch || riid == __uuidof(IAccessible)) {
            *object = static_cast<IAccessible*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ::InterlockedIncrement(&references_); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const LONG left = ::InterlockedDecrement(&references_);
        if (left == 0) {
            delete this;
        }
        return static_cast<ULONG>(left);
    }

    // IDispatch: not offered, as the system's own objects do.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override
    {
        if (count == nullptr) {
            return E_POINTER;
        }
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override
    {
        return E_NOTIMPL;
    }

    // IAccessible
    HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) override { return standard_->get_accParent(parent); }
    HRESULT STDMETHODCALLTYPE get_accChildCount(long* count) override
    {
        if (count == nullptr) {
            return E_POINTER;
        }
        *count = Count();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** dispatch) override
    {
        if (dispatch == nullptr) {
            return E_POINTER;
        }
        *dispatch = nullptr;
        return Row(child) >= 0 ? S_FALSE : E_INVALIDARG; // rows are simple elements
    }
    HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* name) override
    {
        if (!IsRowChild(child)) {
            if (rows_.selfName.empty() || name == nullptr) {
                return standard_->get_accName(child, name);
            }
            *name = ::SysAllocStringLen(rows_.selfName.data(), static_cast<UINT>(rows_.selfName.size()));
            return *name != nullptr ? S_OK : E_OUTOFMEMORY;
        }
        return Text(Row(child), rows_.name, name);
    }
    HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* value) override
    {
        if (!IsRowChild(child)) {
            return standard_->get_accValue(child, value);
        }
        return Text(Row(child), rows_.stateText, value);
    }
    HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR* text) override
    {
        if (!IsRowChild(child)) {
            return standard_->get_accDescription(child, text);
        }
        if (text == nullptr) {
            return E_POINTER;
        }
        *text = nullptr;
        return Row(child) >= 0 ? S_FALSE : E_INVALIDARG;
    }
    HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* role) override
    {
        if (!IsRowChild(child)) {
            if (rows_.selfRole == 0 || role == nullptr) {
                return standard_->get_accRole(child, role);
            }
            role->vt = VT_I4;
            role->lVal = rows_.selfRole;
            return S_OK;
        }
        if (role == nullptr) {
            return E_POINTER;
        }
        if (Row(child) < 0) {
            return E_INVALIDARG;
        }
        role->vt = VT_I4;
        role->lVal = ROLE_SYSTEM_CHECKBUTTON;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* state) override
    {
        if (!IsRowChild(child)) {
            return standard_->get_accState(child, state);
        }
        if (state == nullptr) {
            return E_POINTER;
        }
        const int row = Row(child);
        if (row < 0) {
            return E_INVALIDARG;
        }
        const UINT item = ListView_GetItemState(list_, row, LVIS_SELECTED | LVIS_FOCUSED);
        long value = STATE_SYSTEM_FOCUSABLE | STATE_SYSTEM_SELECTABLE;
        if (rows_.checked(row)) {
            value |= STATE_SYSTEM_CHECKED;
        }
        if ((item & LVIS_SELECTED) != 0) {
            value |= STATE_SYSTEM_SELECTED;
        }
        if ((item & LVIS_FOCUSED) != 0 && ::GetFocus() == list_) {
            value |= STATE_SYSTEM_FOCUSED;
        }
        state->vt = VT_I4;
        state->lVal = value;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT child, BSTR* help) override
    {
        return IsRowChild(child) ? (help != nullptr ? (*help = nullptr, S_FALSE) : E_POINTER)
                                 : standard_->get_accHelp(child, help);
    }
    HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT child, long* topic) override
    {
        return IsRowChild(child) ? S_FALSE : standard_->get_accHelpTopic(file, child, topic);
    }
    HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT child, BSTR* shortcut) override
    {
        return IsRowChild(child) ? (shortcut != nullptr ? (*shortcut = nullptr, S_FALSE) : E_POINTER)
                                 : standard_->get_accKeyboardShortcut(child, shortcut);
    }
    HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* focus) override
    {
        if (focus == nullptr) {
            return E_POINTER;
        }
        if (::GetFocus() != list_) {
            focus->vt = VT_EMPTY;
            return S_FALSE;
        }
        const int row = ListView_GetNextItem(list_, -1, LVNI_FOCUSED);
        focus->vt = VT_I4;
        focus->lVal = row >= 0 ? row + 1 : CHILDID_SELF;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* selection) override
    {
        if (selection == nullptr) {
            return E_POINTER;
        }
        const int row = ListView_GetNextItem(list_, -1, LVNI_SELECTED);
        if (row < 0) {
            selection->vt = VT_EMPTY;
            return S_FALSE;
        }
        selection->vt = VT_I4;
        selection->lVal = row + 1;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* action) override
    {
        if (!IsRowChild(child)) {
            return standard_->get_accDefaultAction(child, action);
        }
        if (action == nullptr) {
            return E_POINTER;
        }
        const int row = Row(child);
        if (row < 0) {
            return E_INVALIDARG;
        }
        // The words the system uses for a check box's action.
        *action = ::SysAllocString(rows_.checked(row) ? L"Uncheck" : L"Check");
        return *action != nullptr ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT STDMETHODCALLTYPE accSelect(long flags, VARIANT child) override
    {
        if (!IsRowChild(child)) {
            return standard_->accSelect(flags, child);
        }
        const int row = Row(child);
        if (row < 0) {
            return E_INVALIDARG;
        }
        if ((flags & SELFLAG_TAKEFOCUS) != 0) {
            ::SetFocus(list_);
        }
        if ((flags & (SELFLAG_TAKESELECTION | SELFLAG_TAKEFOCUS)) != 0) {
            const UINT mask = ((flags & SELFLAG_TAKESELECTION) != 0 ? LVIS_SELECTED : 0) |
                              ((flags & SELFLAG_TAKEFOCUS) != 0 ? LVIS_FOCUSED : 0);
            ListView_SetItemState(list_, row, mask, mask);
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE accLocation(long* left, long* top, long* width, long* height, VARIANT child) override
    {
        if (!IsRowChild(child)) {
            return standard_->accLocation(left, top, width, height, child);
        }
        if (left == nullptr || top == nullptr || width == nullptr || height == nullptr) {
            return E_POINTER;
        }
        const int row = Row(child);
        RECT bounds{};
        if (row < 0 || !ListView_GetItemRect(list_, row, &bounds, LVIR_BOUNDS)) {
            return E_INVALIDARG;
        }
        ::MapWindowPoints(list_, nullptr, reinterpret_cast<POINT*>(&bounds), 2);
        *left = bounds.left;
        *top = bounds.top;
        *width = bounds.right - bounds.left;
        *height = bounds.bottom - bounds.top;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE accNavigate(long direction, VARIANT start, VARIANT* end) override
    {
        if (end == nullptr) {
            return E_POINTER;
        }
        const int count = Count();
        long target = 0;
        if (start.vt == VT_I4 && start.lVal == CHILDID_SELF) {
            if (direction == NAVDIR_FIRSTCHILD) {
                target = 1;
            } else if (direction == NAVDIR_LASTCHILD) {
                target = count;
            } else {
                return standard_->accNavigate(direction, start, end);
            }
        } else {
            const int row = Row(start);
            if (row < 0) {
                return E_INVALIDARG;
            }
            if (direction == NAVDIR_NEXT || direction == NAVDIR_DOWN) {
                target = row + 2;
            } else if (direction == NAVDIR_PREVIOUS || direction == NAVDIR_UP) {
                target = row;
            }
        }
        if (target < 1 || target > count) {
            end->vt = VT_EMPTY;
            return S_FALSE;
        }
        end->vt = VT_I4;
        end->lVal = target;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE accHitTest(long x, long y, VARIANT* child) override
    {
        if (child == nullptr) {
            return E_POINTER;
        }
        LVHITTESTINFO hit{};
        hit.pt = {x, y};
        ::ScreenToClient(list_, &hit.pt);
        const int row = ListView_HitTest(list_, &hit);
        if (row < 0) {
            return standard_->accHitTest(x, y, child);
        }
        child->vt = VT_I4;
        child->lVal = row + 1;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override
    {
        if (!IsRowChild(child)) {
            return standard_->accDoDefaultAction(child);
        }
        const int row = Row(child);
        if (row < 0) {
            return E_INVALIDARG;
        }
        rows_.toggle(row);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_accName(VARIANT, BSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_accValue(VARIANT, BSTR) override { return E_NOTIMPL; }

private:
    ~ListAccessible() = default;

    int Count() const { return rows_.count ? rows_.count() : 0; }

    // The row a child id names, -1 for none.
    int Row(const VARIANT& child) const
    {
        if (child.vt != VT_I4 || child.lVal < 1 || child.lVal > Count()) {
            return -1;
        }
        return child.lVal - 1;
    }

    static HRESULT Text(int row, const std::function<std::wstring(int)>& source, BSTR* text)
    {
        if (text == nullptr) {
            return E_POINTER;
        }
        *text = nullptr;
        if (row < 0) {
            return E_INVALIDARG;
        }
        const std::wstring value = source ? source(row) : std::wstring();
        if (value.empty()) {
            return S_FALSE;
        }
        *text = ::SysAllocStringLen(value.data(), static_cast<UINT>(value.size()));
        return *text != nullptr ? S_OK : E_OUTOFMEMORY;
    }

    LONG references_ = 1;
    HWND list_;
    com_ptr<IAccessible> standard_;
    AccessibleRows rows_;
};

} // namespace

LRESULT AnswerListAccessible(HWND list, WPARAM wParam, const AccessibleRows& rows)
{
    com_ptr<IAccessible> standard;
    if (FAILED(::CreateStdAccessibleObject(list, OBJID_CLIENT, __uuidof(IAccessible), standard.put_void()))) {
        return 0;
    }
    auto* object = new (std::nothrow) ListAccessible(list, std::move(standard), rows);
    if (object == nullptr) {
        return 0;
    }
    const LRESULT result = ::LresultFromObject(__uuidof(IAccessible), wParam, object);
    object->Release();
    return result > 0 ? result : 0;
}

} // namespace merovane::ui
