#include "ui/form.h"

#include "ui/application.h"
#include "ui/dpi.h"
#include "ui/layout.h"
#include "ui/list_view.h"
#include "ui/menu.h"
#include "ui/screen.h"
#include "ui/tray_icon.h"

#include "base/error.h"
#include "base/text_case.h"

#include <commctrl.h>
#include <dwmapi.h>

#include <algorithm>

namespace merovane::ui {

namespace {

// What a window procedure returns for a message whose handler failed: the
// error has been shown and the message counts as handled. Default processing
// would carry out what the handler did not decide: WM_CLOSE would destroy a
// window whose modal loop or program goes on, SC_MINIMIZE would minimise a
// window that hides to the tray.
LRESULT ResultAfterFailure(HWND hwnd, UINT message)
{
    switch (message) {
    case WM_NCCREATE:
        return FALSE; // the window is not made
    case WM_CREATE:
        return -1;
    case WM_QUERYENDSESSION:
        return TRUE; // the failure does not hold up the end of the session
    case WM_PAINT:
        ::ValidateRect(hwnd, nullptr); // or it comes back at once, and fails again
        return 0;
    default:
        return 0;
    }
}

void RegisterFormClass(const std::wstring& formClass, WNDPROC formProc)
{
    HINSTANCE instance = ::GetModuleHandleW(nullptr);
    WNDCLASSEXW info{};
    if (!::GetClassInfoExW(instance, formClass.c_str(), &info)) {
        WNDCLASSEXW form{};
        form.cbSize = sizeof(form);
        form.lpfnWndProc = formProc;
        form.hInstance = instance;
        form.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
        form.hbrBackground = ::GetSysColorBrush(COLOR_BTNFACE);
        form.hIcon = ::LoadIconW(instance, L"MAINICON");
        form.lpszClassName = formClass.c_str();
        if (!::RegisterClassExW(&form)) {
            ThrowLastError();
        }
    }
}

DWORD StyleOf(Border border)
{
    switch (border) {
    case Border::Dialog:
    case Border::Single:
        return WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
    case Border::Sizeable:
    default:
        return WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
    }
}

} // namespace

Form::Form(const FormDef& def) : def_(def), name_(def.name), caption_(def.caption)
{
    application::Register(*this);
}

Form::~Form()
{
    application::Unregister(*this);
    components_.clear();
    if (hwnd_ != nullptr) {
        ::SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
        ::DestroyWindow(hwnd_);
    }
}

void Form::Create(HWND owner)
{
    const std::wstring className(def_.className);
    RegisterFormClass(className, &Form::WindowProc);
    DWORD exStyle = WS_EX_CONTROLPARENT;
    if (def_.border == Border::Dialog) {
        exStyle |= WS_EX_DLGMODALFRAME;
    }
    if (def_.appWindow) {
        exStyle |= WS_EX_APPWINDOW;
        owner = nullptr; // owned by the desktop: a taskbar button of its own
    }
    hwnd_ = ::CreateWindowExW(exStyle, className.c_str(), caption_.c_str(), StyleOf(def_.border), CW_USEDEFAULT,
                              CW_USEDEFAULT, 100, 100, owner, nullptr, ::GetModuleHandleW(nullptr), this);
    if (hwnd_ == nullptr) {
        ThrowLastError();
    }
    dpi_ = DpiOf(hwnd_);
    if (def_.roundedCorners) {
        const DWORD round = 2; // DWMWCP_ROUND; older systems ignore the attribute
        ::DwmSetWindowAttribute(hwnd_, 33 /* DWMWA_WINDOW_CORNER_PREFERENCE */, &round, sizeof(round));
    }

    // Designed client size, centred on the work area of its monitor.
    RECT rect{0, 0, Scale(def_.clientWidth), Scale(def_.clientHeight)};
    ::AdjustWindowRectExForDpi(&rect, StyleOf(def_.border), FALSE, exStyle, dpi_);
    const int width = std::max<int>(rect.right - rect.left, Scale(def_.minWidth));
    const int height = std::max<int>(rect.bottom - rect.top, Scale(def_.minHeight));
    ::SetWindowPos(hwnd_, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    CentreOnWorkArea(hwnd_);
    CreateComponents();
    Layout();
    // A window made after a style was chosen wears it too.
    ApplyStyle(application::CurrentStyle());
}

void Form::CreateComponents()
{
    for (const ComponentDef& def : def_.components) {
        std::unique_ptr<Component> component;
        switch (def.kind) {
        case Kind::Label:
            component = std::make_unique<Label>(*this, def);
            break;
        case Kind::CheckBox:
            component = std::make_unique<CheckBox>(*this, def);
            break;
        case Kind::RadioButton:
            component = std::make_unique<RadioButton>(*this, def);
            break;
        case Kind::Button:
            component = std::make_unique<Button>(*this, def);
            break;
        case Kind::SpeedButton:
            component = std::make_unique<SpeedButton>(*this, def);
            break;
        case Kind::GroupBox:
            component = std::make_unique<Container>(*this, def);
            break;
        case Kind::TabControl:
            component = std::make_unique<TabControl>(*this, def);
            break;
        case Kind::ListView:
            component = std::make_unique<ListView>(*this, def);
            break;
        case Kind::StatusBar:
            component = std::make_unique<StatusBar>(*this, def);
            break;
        case Kind::ProgressBar:
            component = std::make_unique<ProgressBar>(*this, def);
            break;
        case Kind::Image:
            component = std::make_unique<Image>(*this, def);
            break;
        case Kind::PopupMenu:
            component = std::make_unique<PopupMenu>(*this, def);
            break;
        case Kind::MenuItem:
            component = std::make_unique<MenuItem>(*this, def, NextCommandId());
            break;
        case Kind::TrayIcon:
            component = std::make_unique<TrayIcon>(*this, def);
            break;
        case Kind::HotKey:
            component = std::make_unique<HotKey>(*this, def);
            break;
        }
        Component* parent = component->Parent();
        if (auto* item = dynamic_cast<MenuItem*>(component.get())) {
            if (auto* menu = dynamic_cast<PopupMenu*>(parent)) {
                menu->Attach(item);
            } else if (auto* parentItem = dynamic_cast<MenuItem*>(parent)) {
                parentItem->Attach(item);
            }
        }
        if (auto* control = dynamic_cast<Control*>(component.get())) {
            auto* container = dynamic_cast<Container*>(parent);
            control->CreateWindowIn(container != nullptr ? container->Handle() : hwnd_);
        }
        components_.push_back(std::move(component));
    }
}

std::wstring Form::Message(std::wstring_view item) const
{
    const Component* text = FindComponent(item);
    return text != nullptr ? text->Caption() : std::wstring();
}

Component* Form::FindComponent(std::wstring_view name) const
{
    if (name.empty()) {
        return nullptr;
    }
    for (const auto& component : components_) {
        if (EqualIgnoringCase(component->Name(), name)) {
            return component.get();
        }
    }
    return nullptr;
}

bool Form::HandleShortcut(UINT virtualKey)
{
    if (virtualKey < VK_F1 || virtualKey > VK_F12) {
        return false;
    }
    const std::wstring key = L"F" + std::to_wstring(virtualKey - VK_F1 + 1);
    for (const auto& component : components_) {
        auto* item = dynamic_cast<MenuItem*>(component.get());
        if (item != nullptr && item->Enabled() && EqualIgnoringCase(item->Shortcut(), key)) {
            item->Click();
            return true;
        }
    }
    return false;
}

Control* Form::ControlFromHandle(HWND hwnd) const
{
    if (hwnd == nullptr) {
        return nullptr;
    }
    for (const auto& component : components_) {
        if (auto* control = dynamic_cast<Control*>(component.get()); control != nullptr && control->Handle() == hwnd) {
            return control;
        }
    }
    return nullptr;
}

void Form::SetCaption(std::wstring_view caption)
{
    caption_ = caption;
    if (hwnd_ != nullptr) {
        ::SetWindowTextW(hwnd_, caption_.c_str());
    }
}

void Form::Show()
{
    if (hwnd_ != nullptr) {
        ::ShowWindow(hwnd_, SW_SHOW);
        ::SetForegroundWindow(hwnd_);
    }
}

void Form::Hide()
{
    if (hwnd_ != nullptr) {
        ::ShowWindow(hwnd_, SW_HIDE);
    }
}

bool Form::Visible() const
{
    return hwnd_ != nullptr && ::IsWindowVisible(hwnd_);
}

int Form::ShowModal()
{
    if (hwnd_ == nullptr || modal_) {
        return 0;
    }
    // Every other window of the program waits while this one is open.
    std::vector<HWND> disabled;
    for (Form* form : application::Forms()) {
        if (form != this && form->hwnd_ != nullptr && ::IsWindowEnabled(form->hwnd_)) {
            ::EnableWindow(form->hwnd_, FALSE);
            disabled.push_back(form->hwnd_);
        }
    }
    modal_ = true;
    modalResult_ = 0;
    Show();
    MSG msg;
    while (modal_) {
        const BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
        if (got <= 0) {
            ::PostQuitMessage(got == 0 ? static_cast<int>(msg.wParam) : 1);
            break;
        }
        if (!::IsDialogMessageW(hwnd_, &msg)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }
    modal_ = false;
    for (HWND window : disabled) {
        ::EnableWindow(window, TRUE);
    }
    Hide();
    return modalResult_;
}

void Form::Close()
{
    if (hwnd_ != nullptr) {
        ::SendMessageW(hwnd_, WM_CLOSE, 0, 0);
    }
}

HBRUSH Form::BackgroundBrush() const
{
    return brush_ ? brush_.get() : ::GetSysColorBrush(COLOR_BTNFACE);
}

void Form::ApplyStyle(Style style)
{
    style_ = style;
    const Palette& palette = PaletteFor(style);
    brush_.reset(palette.custom ? ::CreateSolidBrush(palette.window) : nullptr);
    if (hwnd_ == nullptr) {
        return;
    }
    // The caption bar follows; systems before Windows 11 ignore the request.
    const BOOL dark = palette.dark ? TRUE : FALSE;
    ::DwmSetWindowAttribute(hwnd_, 20 /* DWMWA_USE_IMMERSIVE_DARK_MODE */, &dark, sizeof(dark));
    for (const auto& component : components_) {
        if (auto* control = dynamic_cast<Control*>(component.get()); control != nullptr && control->Handle()) {
            control->ApplyStyle();
        }
    }
    ::RedrawWindow(hwnd_, nullptr, nullptr, RDW_ERASE | RDW_FRAME | RDW_INVALIDATE | RDW_ALLCHILDREN);
}

int Form::Scale(int units) const
{
    return ScaleToDpi(units, dpi_);
}

HFONT Form::FontFor(const ComponentDef& def)
{
    return fonts_.Get(def.fontFace.empty() ? def_.fontFace : def.fontFace,
                      def.fontHeight != 0 ? def.fontHeight : def_.fontHeight, (def.flags & Bold) != 0,
                      (def.flags & Link) != 0, dpi_);
}

void Form::Layout()
{
    if (hwnd_ == nullptr) {
        return;
    }
    std::vector<Control*> controls;
    std::vector<LayoutItem> items;
    const auto indexOf = [&](const Component* component) {
        const auto found = std::find(controls.begin(), controls.end(), component);
        return found != controls.end() ? static_cast<int>(found - controls.begin()) : -1;
    };
    for (const auto& component : components_) {
        auto* control = dynamic_cast<Control*>(component.get());
        if (control == nullptr) {
            continue;
        }
        const auto* container = dynamic_cast<const Container*>(control);
        const int parent = indexOf(control->Parent());
        controls.push_back(control);
        items.push_back(LayoutItem{.bounds = control->DesignBounds(),
                                   .align = control->Definition().align,
                                   .anchors = control->Definition().anchors,
                                   .parent = parent,
                                   .inset = container != nullptr ? container->Inset() : 0,
                                   // one whose parent is no control has no place
                                   .visible = control->Visible() && (parent >= 0 || control->Parent() == nullptr)});
    }
    RECT client;
    ::GetClientRect(hwnd_, &client);
    const auto placed = ArrangeLayout(items, SIZE{client.right, client.bottom},
                                      SIZE{def_.clientWidth, def_.clientHeight}, dpi_);
    for (size_t i = 0; i < controls.size(); ++i) {
        if (const auto& rect = placed[i]) {
            ::SetWindowPos(controls[i]->Handle(), nullptr, rect->left, rect->top, rect->right - rect->left,
                           rect->bottom - rect->top, SWP_NOZORDER | SWP_NOACTIVATE);
        }
    }
}

void Form::ApplyDpi(UINT dpi)
{
    const UINT old = dpi_;
    dpi_ = dpi;
    fonts_.Clear();
    for (const auto& component : components_) {
        if (auto* control = dynamic_cast<Control*>(component.get())) {
            control->ApplyFont();
            if (control->Handle() != nullptr) {
                control->DpiChanged(old, dpi);
                control->ApplyStyle(); // images drawn for the old size
            }
        }
    }
}

bool Form::HandleMessage(UINT, WPARAM, LPARAM, LRESULT&)
{
    return false;
}

LRESULT CALLBACK Form::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) noexcept
{
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
        auto* form = static_cast<Form*>(create->lpCreateParams);
        form->hwnd_ = hwnd;
        ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(form));
    }
    auto* form = reinterpret_cast<Form*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (form == nullptr) {
        return ::DefWindowProcW(hwnd, message, wParam, lParam);
    }
    LRESULT result = 0;
    bool handled = false;
    application::ShowingErrors([&] {
        result = form->Dispatch(message, wParam, lParam);
        handled = true;
    });
    if (handled) {
        return result;
    }
    if (message == WM_NCDESTROY) {
        form->hwnd_ = nullptr;
    }
    return ResultAfterFailure(hwnd, message);
}

LRESULT Form::Dispatch(UINT message, WPARAM wParam, LPARAM lParam)
{
    HWND self = hwnd_;
    LRESULT result = 0;
    for (const auto& component : components_) {
        if (component->HandleFormMessage(message, wParam, lParam, result)) {
            return result;
        }
    }
    if (HandleMessage(message, wParam, lParam, result)) {
        return result;
    }
    switch (message) {
    case WM_COMMAND:
        if (Control* control = ControlFromHandle(reinterpret_cast<HWND>(lParam))) {
            control->OnCommand(HIWORD(wParam));
            return 0;
        }
        if (lParam == 0) {
            // Enter and Escape, as the dialog keyboard handling reports them:
            // the default button's id, or IDCANCEL.
            const int id = LOWORD(wParam);
            for (const auto& component : components_) {
                if (auto* control = dynamic_cast<Control*>(component.get());
                    control != nullptr && control->ControlId() == id && control->Enabled()) {
                    control->OnCommand(BN_CLICKED);
                    return 0;
                }
            }
            if (id == IDCANCEL && def_.border != Border::Sizeable) {
                Close();
                return 0;
            }
        }
        break;
    case DM_GETDEFID:
        for (const auto& component : components_) {
            if (auto* button = dynamic_cast<Button*>(component.get());
                button != nullptr && (button->Definition().flags & DefaultButton) != 0 && button->Visible()) {
                return MAKELRESULT(button->ControlId(), DC_HASDEFID);
            }
        }
        return 0;
    case WM_NOTIFY: {
        auto* header = reinterpret_cast<NMHDR*>(lParam);
        if (Control* control = ControlFromHandle(header->hwndFrom)) {
            bool notifyHandled = false;
            const LRESULT notifyResult = control->OnNotify(*header, notifyHandled);
            if (notifyHandled) {
                return notifyResult;
            }
        }
        break;
    }
    case WM_SETCURSOR:
        if (LOWORD(lParam) == HTCLIENT) {
            if (Control* control = ControlFromHandle(reinterpret_cast<HWND>(wParam));
                control != nullptr && (control->Definition().flags & (HandCursor | Link)) != 0) {
                ::SetCursor(::LoadCursorW(nullptr, IDC_HAND));
                return TRUE;
            }
        }
        break;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX: {
        const Palette& palette = CurrentPalette();
        const Control* control = ControlFromHandle(reinterpret_cast<HWND>(lParam));
        const bool link = control != nullptr && (control->Definition().flags & Link) != 0;
        if (!palette.custom && !link) {
            break;
        }
        auto dc = reinterpret_cast<HDC>(wParam);
        ::SetTextColor(dc, link ? (palette.custom ? palette.link : RGB(0, 102, 204))
                                : palette.text);
        ::SetBkColor(dc, palette.custom ? palette.window : ::GetSysColor(COLOR_BTNFACE));
        return reinterpret_cast<LRESULT>(BackgroundBrush());
    }
    case WM_DRAWITEM: {
        const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
        if (Control* control = ControlFromHandle(item->hwndItem); control != nullptr && control->DrawItem(*item)) {
            return TRUE;
        }
        break;
    }
    case WM_ERASEBKGND: {
        RECT rect;
        ::GetClientRect(hwnd_, &rect);
        ::FillRect(reinterpret_cast<HDC>(wParam), &rect, BackgroundBrush());
        return 1;
    }
    case WM_SIZE:
        Layout();
        return 0;
    case WM_GETMINMAXINFO: {
        auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
        info->ptMinTrackSize.x = std::max<LONG>(info->ptMinTrackSize.x, Scale(def_.minWidth));
        info->ptMinTrackSize.y = std::max<LONG>(info->ptMinTrackSize.y, Scale(def_.minHeight));
        return 0;
    }
    case WM_DPICHANGED: {
        ApplyDpi(HIWORD(wParam));
        const auto* suggested = reinterpret_cast<const RECT*>(lParam);
        ::SetWindowPos(hwnd_, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                       suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
        Layout();
        return 0;
    }
    case WM_SHOWWINDOW:
        if (wParam != FALSE && lParam == 0 && onShow) {
            onShow();
        }
        break;
    case WM_CLOSE: {
        bool allow = true;
        if (onClose) {
            onClose(allow);
        }
        if (allow) {
            if (modal_) {
                modal_ = false;
                if (modalResult_ == 0) {
                    modalResult_ = IDCANCEL;
                }
                ::PostMessageW(hwnd_, WM_NULL, 0, 0);
            }
            Hide();
        }
        return 0;
    }
    case WM_NCDESTROY:
        hwnd_ = nullptr;
        break;
    default:
        break;
    }
    return ::DefWindowProcW(self, message, wParam, lParam);
}

} // namespace merovane::ui
