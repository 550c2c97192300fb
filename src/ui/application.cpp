#include "ui/application.h"

#include "base/application_title.h"

#include "ui/form.h"
#include "ui/screen.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>
#include <utility>

namespace merovane::ui::application {

namespace {

std::vector<Form*>& FormList()
{
    static std::vector<Form*> forms;
    return forms;
}

// Keyboard navigation (Tab, Enter, Escape) inside the program's windows.
bool PreTranslate(MSG& msg)
{
    HWND root = msg.hwnd != nullptr ? ::GetAncestor(msg.hwnd, GA_ROOT) : nullptr;
    if (root == nullptr) {
        return false;
    }
    for (Form* form : FormList()) {
        if (form->Handle() == root) {
            if (msg.message == WM_KEYDOWN && (::GetKeyState(VK_CONTROL) & 0x8000) == 0 &&
                (::GetKeyState(VK_MENU) & 0x8000) == 0 && (::GetKeyState(VK_SHIFT) & 0x8000) == 0 &&
                form->HandleShortcut(static_cast<UINT>(msg.wParam))) {
                return true;
            }
            return ::IsDialogMessageW(root, &msg) != FALSE;
        }
    }
    return false;
}

} // namespace

const std::vector<Form*>& Forms()
{
    return FormList();
}

void Register(Form& form)
{
    FormList().push_back(&form);
}

void Unregister(Form& form)
{
    std::erase(FormList(), &form);
}

void ProcessMessages()
{
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            ::PostQuitMessage(static_cast<int>(msg.wParam));
            return;
        }
        if (!PreTranslate(msg)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }
}

int Run()
{
    MSG msg;
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (!PreTranslate(msg)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }
    return static_cast<int>(msg.wParam);
}

void Terminate(int exitCode)
{
    ::PostQuitMessage(exitCode);
}

namespace {

Style g_style = Style::System;

// Popup menus follow the app's dark mode only through two unnamed exports of
// uxtheme (Windows 10 1903 and later); elsewhere the menus keep their look.
void SetMenuMode(Style style)
{
    HMODULE uxtheme = ::GetModuleHandleW(L"uxtheme.dll");
    if (uxtheme == nullptr) {
        return;
    }
    auto* setMode = ::GetProcAddress(uxtheme, MAKEINTRESOURCEA(135));
    auto* flush = ::GetProcAddress(uxtheme, MAKEINTRESOURCEA(136));
    if (setMode == nullptr || flush == nullptr) {
        return;
    }
    using SetPreferredAppMode = int(WINAPI*)(int);
    using FlushMenuThemes = void(WINAPI*)();
    SetPreferredAppMode setModeFunction;
    FlushMenuThemes flushFunction;
    std::memcpy(&setModeFunction, &setMode, sizeof(setMode));
    std::memcpy(&flushFunction, &flush, sizeof(flush));
    constexpr int kDefault = 0;
    constexpr int kForceDark = 2;
    constexpr int kForceLight = 3;
    setModeFunction(style == Style::Dark ? kForceDark : style == Style::Light ? kForceLight : kDefault);
    flushFunction();
}

} // namespace

void SetStyle(Style style)
{
    g_style = style;
    SetMenuMode(style);
    for (Form* form : FormList()) {
        form->ApplyStyle(style);
    }
}

Style CurrentStyle()
{
    return g_style;
}

namespace {

std::atomic<bool> g_errorBoxOpen{false};

} // namespace

void ShowError(std::wstring_view text)
{
    // One box at a time: the box's own message loop goes on delivering the
    // program's messages, and an error met there is not stacked on top.
    if (g_errorBoxOpen.exchange(true)) {
        return;
    }
    HWND owner = ::GetActiveWindow();
    const std::wstring message(text);
    const std::wstring title(kApplicationTitle);
    ::MessageBoxW(owner, message.c_str(), title.c_str(), MB_OK | MB_ICONERROR | MB_TASKMODAL);
    g_errorBoxOpen = false;
}

namespace {

thread_local HHOOK g_centreHook = nullptr;

LRESULT CALLBACK CentreOnActivate(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_ACTIVATE) {
        CentreOnWorkArea(reinterpret_cast<HWND>(wParam));
        HHOOK hook = std::exchange(g_centreHook, nullptr);
        ::UnhookWindowsHookEx(hook);
        return 0;
    }
    return ::CallNextHookEx(g_centreHook, code, wParam, lParam);
}

} // namespace

int MessageBoxOnScreenCentre(HWND owner, std::wstring_view text, std::wstring_view title, UINT flags)
{
    g_centreHook = ::SetWindowsHookExW(WH_CBT, CentreOnActivate, nullptr, ::GetCurrentThreadId());
    const std::wstring message(text);
    const std::wstring caption(title);
    const int result = ::MessageBoxW(owner, message.c_str(), caption.c_str(), flags);
    if (g_centreHook != nullptr) {
        ::UnhookWindowsHookEx(std::exchange(g_centreHook, nullptr));
    }
    return result;
}

} // namespace merovane::ui::application
