#include "ui/component.h"

#include "ui/form.h"
#include "ui/gdi.h"
#include "ui/style.h"

#include <string>

namespace merovane::ui {

namespace {

constexpr wchar_t kContainerClass[] = L"MerovaneContainer";

// Group boxes and panels: real parents of their controls. They pass control
// notifications on to the window, which reflects them to the controls.
LRESULT CALLBACK ContainerProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) noexcept
{
    switch (message) {
    case WM_COMMAND:
    case WM_NOTIFY:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_DRAWITEM:
    case WM_MEASUREITEM:
        return ::SendMessageW(::GetAncestor(hwnd, GA_ROOT), message, wParam, lParam);
    case WM_SETFONT:
        ::SetWindowLongPtrW(hwnd, 0, static_cast<LONG_PTR>(wParam));
        if (LOWORD(lParam)) {
            ::InvalidateRect(hwnd, nullptr, TRUE);
        }
        return 0;
    case WM_GETFONT:
        return ::GetWindowLongPtrW(hwnd, 0);
    case WM_SETTEXT: {
        const LRESULT result = ::DefWindowProcW(hwnd, message, wParam, lParam);
        ::InvalidateRect(hwnd, nullptr, TRUE);
        return result;
    }
    case WM_ERASEBKGND: {
        RECT rect;
        ::GetClientRect(hwnd, &rect);
        const auto* container = reinterpret_cast<const Container*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        ::FillRect(reinterpret_cast<HDC>(wParam), &rect,
                   container != nullptr ? container->Owner().BackgroundBrush() : ::GetSysColorBrush(COLOR_BTNFACE));
        return 1;
    }
    case WM_PAINT: {
        PaintDC paint(hwnd);
        HDC dc = paint.get();
        RECT rect;
        ::GetClientRect(hwnd, &rect);
        const auto* container = reinterpret_cast<const Container*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        if (container != nullptr) {
            SelectedObject font(dc, reinterpret_cast<HFONT>(::GetWindowLongPtrW(hwnd, 0)));
            const Palette& palette = container->Owner().CurrentPalette();
            const COLORREF back = palette.custom ? palette.window : ::GetSysColor(COLOR_BTNFACE);
            const COLORREF line = palette.custom ? palette.border : ::GetSysColor(COLOR_BTNSHADOW);
            ::SetDCBrushColor(dc, line);
            HBRUSH lineBrush = static_cast<HBRUSH>(::GetStockObject(DC_BRUSH));
            if (container->GetKind() == Kind::GroupBox) {
                TEXTMETRICW metrics{};
                ::GetTextMetricsW(dc, &metrics);
                RECT frame = rect;
                frame.top += metrics.tmHeight / 2;
                if (palette.custom) {
                    ::FrameRect(dc, &frame, lineBrush);
                } else {
                    ::DrawEdge(dc, &frame, EDGE_ETCHED, BF_RECT);
                }
                const std::wstring caption = container->Caption();
                if (!caption.empty()) {
                    RECT text{metrics.tmAveCharWidth, 0, rect.right - metrics.tmAveCharWidth, metrics.tmHeight};
                    ::SetBkColor(dc, back);
                    ::SetTextColor(dc, palette.custom ? palette.text : ::GetSysColor(COLOR_BTNTEXT));
                    ::SetBkMode(dc, OPAQUE);
                    ::DrawTextW(dc, (L" " + caption + L" ").c_str(), -1, &text,
                                DT_LEFT | DT_SINGLELINE | DT_NOPREFIX);
                }
            } else if (container->Definition().flags & Framed) {
                ::FrameRect(dc, &rect, lineBrush);
            }
        }
        return 0;
    }
    default:
        return ::DefWindowProcW(hwnd, message, wParam, lParam);
    }
}

void RegisterContainerClass()
{
    HINSTANCE instance = ::GetModuleHandleW(nullptr);
    WNDCLASSEXW info{};
    if (!::GetClassInfoExW(instance, kContainerClass, &info)) {
        WNDCLASSEXW container{};
        container.cbSize = sizeof(container);
        container.lpfnWndProc = ContainerProc;
        container.cbWndExtra = sizeof(LONG_PTR);
        container.hInstance = instance;
        container.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
        container.lpszClassName = kContainerClass;
        ::RegisterClassExW(&container);
    }
}

} // namespace

int Container::Inset() const noexcept
{
    return GetKind() == Kind::TabControl && (Definition().flags & Framed) ? 2 : 0;
}

void Container::CreateWindowIn(HWND parent)
{
    RegisterContainerClass();
    CreateChild(parent, kContainerClass, WS_CLIPCHILDREN, WS_EX_CONTROLPARENT, caption_);
    // The class's window procedure paints from the component.
    ::SetWindowLongPtrW(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    ::InvalidateRect(hwnd_, nullptr, TRUE);
}

TabControl::TabControl(Form& owner, const ComponentDef& def) : Container(owner, def)
{
    std::wstring_view items = def.items;
    while (!items.empty()) {
        const size_t end = items.find(L'\n');
        tabs_.emplace_back(items.substr(0, end));
        items = end == std::wstring_view::npos ? std::wstring_view() : items.substr(end + 1);
    }
}

void TabControl::SetTabs(std::vector<std::wstring> tabs)
{
    tabs_ = std::move(tabs);
    if (hwnd_ != nullptr) {
        ::InvalidateRect(hwnd_, nullptr, TRUE);
    }
}

} // namespace merovane::ui
