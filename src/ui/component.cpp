#include "ui/component.h"

#include "ui/com_ptr.h"
#include "ui/form.h"
#include "ui/gdi.h"
#include "ui/list_accessible.h"
#include "ui/style.h"

#include <commctrl.h>
#include <initguid.h>
#include <oleacc.h>
#include <uxtheme.h>

#include <cwchar>
#include <iterator>

namespace merovane::ui {

namespace {

bool Is(std::wstring_view property, std::wstring_view name)
{
    return ::CompareStringOrdinal(property.data(), static_cast<int>(property.size()), name.data(),
                                  static_cast<int>(name.size()), TRUE) == CSTR_EQUAL;
}

// Check boxes and radio buttons draw themselves, so the system sees push
// buttons; tell assistive technology what they are and whether they are on.
void AnnotateCheckState(HWND hwnd, Kind kind, bool checked)
{
    if (hwnd == nullptr) {
        return;
    }
    com_ptr<IAccPropServices> services;
    if (FAILED(::CoCreateInstance(CLSID_AccPropServices, nullptr, CLSCTX_INPROC_SERVER, IID_IAccPropServices,
                                  services.put_void()))) {
        return; // no COM on this thread, or no accessibility services
    }
    VARIANT value{};
    value.vt = VT_I4;
    value.lVal = kind == Kind::CheckBox ? ROLE_SYSTEM_CHECKBUTTON : ROLE_SYSTEM_RADIOBUTTON;
    services->SetHwndProp(hwnd, OBJID_CLIENT, CHILDID_SELF, PROPID_ACC_ROLE, value);
    value.lVal = STATE_SYSTEM_FOCUSABLE | (checked ? STATE_SYSTEM_CHECKED : 0);
    services->SetHwndProp(hwnd, OBJID_CLIENT, CHILDID_SELF, PROPID_ACC_STATE, value);
}

// The owner-drawn boxes answer BM_GETCHECK as native ones do.
LRESULT CALLBACK AnswerGetCheck(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                DWORD_PTR data) noexcept
{
    if (message == BM_GETCHECK) {
        return *reinterpret_cast<const bool*>(data) ? BST_CHECKED : BST_UNCHECKED;
    }
    if (message == WM_NCDESTROY) {
        ::RemoveWindowSubclass(hwnd, &AnswerGetCheck, 1);
    }
    return ::DefSubclassProc(hwnd, message, wParam, lParam);
}

} // namespace

Component::Component(Form& owner, const ComponentDef& def)
    : caption_(def.caption), hint_(def.hint), owner_(owner), def_(def), name_(def.name), kind_(def.kind)
{
    if (!def.parent.empty()) {
        parent_ = owner.FindComponent(def.parent);
    }
}

std::optional<std::wstring> Component::GetText(std::wstring_view property) const
{
    if (HasCaption() && Is(property, L"Caption")) {
        return caption_;
    }
    if (HasHint() && Is(property, L"Hint")) {
        return hint_;
    }
    return std::nullopt;
}

bool Component::SetText(std::wstring_view property, std::wstring_view value)
{
    if (HasCaption() && Is(property, L"Caption")) {
        caption_ = value;
        CaptionChanged();
        return true;
    }
    if (HasHint() && Is(property, L"Hint")) {
        hint_ = value;
        return true;
    }
    return false;
}

// Control

Control::Control(Form& owner, const ComponentDef& def) : Component(owner, def) {}

Control::~Control()
{
    if (hwnd_ != nullptr && ::IsWindow(hwnd_)) {
        ::DestroyWindow(hwnd_);
    }
}

HWND Control::CreateChild(HWND parent, const wchar_t* windowClass, DWORD style, DWORD exStyle, std::wstring_view text)
{
    style |= WS_CHILD | WS_CLIPSIBLINGS;
    if (Visible()) {
        style |= WS_VISIBLE;
    }
    if (!Enabled()) {
        style |= WS_DISABLED;
    }
    const std::wstring title(text);
    // A control id of its own: keyboard navigation reports by id.
    id_ = static_cast<int>(Owner().NextCommandId());
    hwnd_ = ::CreateWindowExW(exStyle, windowClass, title.c_str(), style, 0, 0, 0, 0, parent,
                              reinterpret_cast<HMENU>(static_cast<INT_PTR>(id_)), ::GetModuleHandleW(nullptr),
                              nullptr);
    if (hwnd_ != nullptr) {
        ApplyFont();
    }
    return hwnd_;
}

void Control::ApplyFont()
{
    if (hwnd_ != nullptr) {
        ::SendMessageW(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(Owner().FontFor(Definition())), TRUE);
    }
}

void Control::CaptionChanged()
{
    if (hwnd_ != nullptr) {
        ::SetWindowTextW(hwnd_, caption_.c_str());
    }
}

// Label

void Label::CreateWindowIn(HWND parent)
{
    DWORD style = SS_NOPREFIX | SS_NOTIFY;
    const auto flags = Definition().flags;
    style |= (flags & CenterText) ? SS_CENTER : (flags & RightText) ? SS_RIGHT : SS_LEFT;
    CreateChild(parent, WC_STATICW, style, 0, caption_);
}

void Label::OnCommand(WORD code)
{
    if (code == STN_CLICKED && onClick) {
        onClick();
    }
}

// Button

void Button::CreateWindowIn(HWND parent)
{
    // Buttons of every kind draw themselves, in the window's style.
    CreateChild(parent, WC_BUTTONW, WS_TABSTOP | BS_OWNERDRAW, 0, caption_);
}

void Button::OnCommand(WORD code)
{
    if (code == BN_CLICKED) {
        Click();
    }
}

bool Button::DrawItem(const DRAWITEMSTRUCT& item)
{
    DrawButtonControl(item, Kind::Button, false, false, Owner().CurrentPalette());
    return true;
}

void Button::Click()
{
    if (onClick) {
        onClick();
    }
}

// SpeedButton

SpeedButton::~SpeedButton()
{
    if (hwnd_ != nullptr) {
        ::RemoveWindowSubclass(hwnd_, &SpeedButton::PressWithoutFocus, 1);
    }
}

void SpeedButton::CreateWindowIn(HWND parent)
{
    CreateChild(parent, WC_BUTTONW, BS_OWNERDRAW, 0, caption_);
    ::SetWindowSubclass(hwnd_, &SpeedButton::PressWithoutFocus, 1, reinterpret_cast<DWORD_PTR>(this));
}

// The button control focuses itself when the mouse presses it, and keeps the
// focus after its click (a menu, say) is over: keys meant for the list went to
// the button. A speed button is pressed, released and clicked here instead,
// and the focus stays where it was.
LRESULT CALLBACK SpeedButton::PressWithoutFocus(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                                DWORD_PTR data) noexcept
{
    auto* self = reinterpret_cast<SpeedButton*>(data);
    // It shows a symbol; screen readers say its hint instead.
    if (message == WM_GETOBJECT && static_cast<LONG>(lParam) == OBJID_CLIENT && !self->hint_.empty()) {
        if (const LRESULT answer = AnswerListAccessible(hwnd, wParam, {.selfName = self->hint_, .selfRole = ROLE_SYSTEM_PUSHBUTTON}); answer != 0) {
            return answer;
        }
    }
    const auto inside = [&] {
        RECT client;
        ::GetClientRect(hwnd, &client);
        const POINT point{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
        return ::PtInRect(&client, point) != FALSE;
    };
    switch (message) {
    case WM_LBUTTONDOWN:
        self->pressed_ = true;
        ::SetCapture(hwnd);
        ::SendMessageW(hwnd, BM_SETSTATE, TRUE, 0);
        return 0;
    case WM_MOUSEMOVE:
        if (self->pressed_) {
            ::SendMessageW(hwnd, BM_SETSTATE, inside() ? TRUE : FALSE, 0);
        }
        break;
    case WM_LBUTTONUP:
        if (self->pressed_) {
            self->pressed_ = false;
            const bool click = inside();
            ::SendMessageW(hwnd, BM_SETSTATE, FALSE, 0);
            ::ReleaseCapture();
            if (click) {
                ::SendMessageW(::GetParent(hwnd), WM_COMMAND, MAKEWPARAM(::GetDlgCtrlID(hwnd), BN_CLICKED),
                               reinterpret_cast<LPARAM>(hwnd));
            }
            return 0;
        }
        break;
    case WM_CAPTURECHANGED:
        if (self->pressed_ && reinterpret_cast<HWND>(lParam) != hwnd) {
            self->pressed_ = false;
            ::SendMessageW(hwnd, BM_SETSTATE, FALSE, 0);
        }
        break;
    case WM_NCDESTROY:
        ::RemoveWindowSubclass(hwnd, &SpeedButton::PressWithoutFocus, 1);
        break;
    default:
        break;
    }
    return ::DefSubclassProc(hwnd, message, wParam, lParam);
}

void SpeedButton::OnCommand(WORD code)
{
    if (code == BN_CLICKED) {
        Click();
    }
}

void SpeedButton::Click()
{
    if (onClick) {
        onClick();
    }
}

bool SpeedButton::DrawItem(const DRAWITEMSTRUCT& item)
{
    DrawButtonControl(item, Kind::SpeedButton, false, down_, Owner().CurrentPalette());
    return true;
}

void SpeedButton::SetDown(bool down)
{
    down_ = down;
    if (hwnd_ != nullptr) {
        ::InvalidateRect(hwnd_, nullptr, TRUE);
    }
}

// CheckBox

CheckBox::CheckBox(Form& owner, const ComponentDef& def) : Control(owner, def), checked_((def.flags & Flag::Checked) != 0) {}

void CheckBox::CreateWindowIn(HWND parent)
{
    CreateChild(parent, WC_BUTTONW, BS_OWNERDRAW | WS_TABSTOP, 0, caption_);
    ::SetWindowSubclass(hwnd_, &AnswerGetCheck, 1, reinterpret_cast<DWORD_PTR>(&checked_));
    AnnotateCheckState(hwnd_, Kind::CheckBox, checked_);
}

bool CheckBox::DrawItem(const DRAWITEMSTRUCT& item)
{
    DrawButtonControl(item, Kind::CheckBox, checked_, false, Owner().CurrentPalette());
    return true;
}

void CheckBox::SetChecked(bool checked)
{
    if (checked_ == checked) {
        return;
    }
    checked_ = checked;
    if (hwnd_ != nullptr) {
        ::InvalidateRect(hwnd_, nullptr, TRUE);
        AnnotateCheckState(hwnd_, Kind::CheckBox, checked_);
    }
    if (onClick) {
        onClick();
    }
}

// Owner-drawn buttons report the second click of a double click as
// BN_DOUBLECLICKED; a native check box counts it as a click like the first.
void CheckBox::OnCommand(WORD code)
{
    if (code == BN_CLICKED || code == BN_DOUBLECLICKED) {
        SetChecked(!checked_);
    }
}

// RadioButton

RadioButton::RadioButton(Form& owner, const ComponentDef& def)
    : Control(owner, def), checked_((def.flags & Flag::Checked) != 0)
{
}

void RadioButton::CreateWindowIn(HWND parent)
{
    CreateChild(parent, WC_BUTTONW, BS_OWNERDRAW | WS_TABSTOP, 0, caption_);
    ::SetWindowSubclass(hwnd_, &AnswerGetCheck, 1, reinterpret_cast<DWORD_PTR>(&checked_));
    AnnotateCheckState(hwnd_, Kind::RadioButton, checked_);
}

bool RadioButton::DrawItem(const DRAWITEMSTRUCT& item)
{
    DrawButtonControl(item, Kind::RadioButton, checked_, false, Owner().CurrentPalette());
    return true;
}

void RadioButton::ShowState()
{
    if (hwnd_ != nullptr) {
        ::InvalidateRect(hwnd_, nullptr, TRUE);
        AnnotateCheckState(hwnd_, Kind::RadioButton, checked_);
    }
}

void RadioButton::SetChecked(bool checked)
{
    if (checked_ == checked) {
        return;
    }
    checked_ = checked;
    ShowState();
    if (!checked) {
        return;
    }
    for (const auto& component : Owner().Components()) {
        auto* sibling = dynamic_cast<RadioButton*>(component.get());
        if (sibling != nullptr && sibling != this && sibling->Parent() == Parent() && sibling->checked_) {
            sibling->checked_ = false;
            sibling->ShowState();
        }
    }
    if (onClick) {
        onClick();
    }
}

void RadioButton::OnCommand(WORD code)
{
    if (code == BN_CLICKED || code == BN_DOUBLECLICKED) {
        SetChecked(true);
    }
}

// StatusBar

void StatusBar::CreateWindowIn(HWND parent)
{
    CreateChild(parent, STATUSCLASSNAMEW, SBARS_SIZEGRIP, 0, text_);
    ::SetWindowSubclass(hwnd_, &StatusBar::StyledPaint, 1, reinterpret_cast<DWORD_PTR>(this));
}

void StatusBar::SetStatusText(std::wstring_view text)
{
    text_ = text;
    if (hwnd_ != nullptr) {
        ::SendMessageW(hwnd_, SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(text_.c_str()));
    }
}

// In a style's colours the bar paints itself; the text stays the control's
// own, for SB_GETTEXT and screen readers.
LRESULT CALLBACK StatusBar::StyledPaint(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                        DWORD_PTR data) noexcept
{
    auto* self = reinterpret_cast<StatusBar*>(data);
    const Palette& palette = self->Owner().CurrentPalette();
    if (palette.custom && message == WM_ERASEBKGND) {
        return 1;
    }
    if (palette.custom && message == WM_PAINT) {
        PaintDC paint(hwnd);
        HDC dc = paint.get();
        RECT rect;
        ::GetClientRect(hwnd, &rect);
        ::SetDCBrushColor(dc, palette.window);
        ::FillRect(dc, &rect, static_cast<HBRUSH>(::GetStockObject(DC_BRUSH)));
        RECT line{rect.left, rect.top, rect.right, rect.top + 1};
        ::SetDCBrushColor(dc, palette.border);
        ::FillRect(dc, &line, static_cast<HBRUSH>(::GetStockObject(DC_BRUSH)));
        SelectedObject font(dc, reinterpret_cast<HFONT>(::SendMessageW(hwnd, WM_GETFONT, 0, 0)));
        RECT text = rect;
        text.left += self->Owner().Scale(4);
        ::SetBkMode(dc, TRANSPARENT);
        ::SetTextColor(dc, palette.text);
        ::DrawTextW(dc, self->text_.c_str(), static_cast<int>(self->text_.size()), &text,
                    DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
        return 0;
    }
    if (message == WM_NCDESTROY) {
        ::RemoveWindowSubclass(hwnd, &StatusBar::StyledPaint, 1);
    }
    return ::DefSubclassProc(hwnd, message, wParam, lParam);
}

void StatusBar::ApplyStyle()
{
    ::InvalidateRect(hwnd_, nullptr, TRUE);
}

// HotKey

WORD HotKey::Value() const noexcept
{
    return hwnd_ != nullptr ? LOWORD(::SendMessageW(hwnd_, HKM_GETHOTKEY, 0, 0)) : 0;
}

void HotKey::SetValue(WORD value)
{
    if (hwnd_ != nullptr) {
        ::SendMessageW(hwnd_, HKM_SETHOTKEY, value, 0);
    }
}

void HotKey::OnCommand(WORD code)
{
    if (code == EN_CHANGE && onChange) {
        onChange();
    }
}

void HotKey::CreateWindowIn(HWND parent)
{
    CreateChild(parent, HOTKEY_CLASSW, WS_TABSTOP, WS_EX_CLIENTEDGE);
}

std::wstring HotKeyText(WORD value)
{
    const BYTE key = LOBYTE(value);
    const BYTE flags = HIBYTE(value);
    if (key == 0) {
        return {};
    }
    std::wstring text;
    if ((flags & HOTKEYF_CONTROL) != 0) {
        text += L"Ctrl+";
    }
    if ((flags & HOTKEYF_ALT) != 0) {
        text += L"Alt+";
    }
    if ((flags & HOTKEYF_SHIFT) != 0) {
        text += L"Shift+";
    }
    LONG scan = static_cast<LONG>(::MapVirtualKeyW(key, MAPVK_VK_TO_VSC)) << 16;
    if ((flags & HOTKEYF_EXT) != 0) {
        scan |= 1L << 24;
    }
    wchar_t name[64] = {};
    if (scan != 0 && ::GetKeyNameTextW(scan, name, static_cast<int>(std::size(name))) > 0) {
        return text + name;
    }
    wchar_t code[8];
    ::swprintf(code, std::size(code), L"0x%02X", key);
    return text + code;
}

// ProgressBar

void ProgressBar::CreateWindowIn(HWND parent)
{
    if (Definition().value > 0) {
        maximum_ = Definition().value;
    }
    CreateChild(parent, PROGRESS_CLASSW, PBS_SMOOTH);
    ::SendMessageW(hwnd_, PBM_SETRANGE32, 0, maximum_);
    ::SendMessageW(hwnd_, PBM_SETPOS, position_, 0);
}

void ProgressBar::ApplyStyle()
{
    const Palette& palette = Owner().CurrentPalette();
    if (palette.custom) {
        ::SetWindowTheme(hwnd_, L"", L"");
        ::SendMessageW(hwnd_, PBM_SETBKCOLOR, 0, static_cast<LPARAM>(palette.face));
        ::SendMessageW(hwnd_, PBM_SETBARCOLOR, 0, static_cast<LPARAM>(palette.accent));
    } else {
        ::SetWindowTheme(hwnd_, nullptr, nullptr);
        ::SendMessageW(hwnd_, PBM_SETBKCOLOR, 0, static_cast<LPARAM>(CLR_DEFAULT));
        ::SendMessageW(hwnd_, PBM_SETBARCOLOR, 0, static_cast<LPARAM>(CLR_DEFAULT));
    }
}

void ProgressBar::SetPosition(int position)
{
    position_ = position;
    if (hwnd_ != nullptr) {
        ::SendMessageW(hwnd_, PBM_SETPOS, position, 0);
    }
}

void ProgressBar::SetMaximum(int maximum)
{
    maximum_ = maximum;
    if (hwnd_ != nullptr) {
        ::SendMessageW(hwnd_, PBM_SETRANGE32, 0, maximum);
    }
}

// Image

void Image::CreateWindowIn(HWND parent)
{
    CreateChild(parent, WC_STATICW, SS_ICON | SS_CENTERIMAGE | SS_REALSIZECONTROL);
    if (icon_) {
        ::SendMessageW(hwnd_, STM_SETICON, reinterpret_cast<WPARAM>(icon_.get()), 0);
    }
}

void Image::SetIcon(HICON icon)
{
    if (icon != icon_.get()) {
        icon_.reset(icon);
    }
    if (hwnd_ != nullptr) {
        ::SendMessageW(hwnd_, STM_SETICON, reinterpret_cast<WPARAM>(icon), 0);
    }
}

} // namespace merovane::ui
