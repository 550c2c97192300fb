#include "ui/application.h"

#include "ui/form.h"

#include <windows.h>

#include <algorithm>
#include <string>

namespace merovane::ui::application {

namespace {

std::vector<Form*>& FormList()
{
    static std::vector<Form*> forms;
    return forms;
}

bool g_terminated = false;

// Keyboard navigation (Tab, Enter, Escape) inside the program's windows.
bool PreTranslate(MSG& msg)
{
    HWND root = msg.hwnd != nullptr ? ::GetAncestor(msg.hwnd, GA_ROOT) : nullptr;
    if (root == nullptr) {
        return false;
    }
    for (Form* form : FormList()) {
        if (form->Handle() == root) {
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
            g_terminated = true;
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
    g_terminated = true;
    return static_cast<int>(msg.wParam);
}

void Terminate(int exitCode)
{
    g_terminated = true;
    ::PostQuitMessage(exitCode);
}

bool Terminated()
{
    return g_terminated;
}

void ShowError(std::wstring_view text)
{
    HWND owner = ::GetActiveWindow();
    const std::wstring message(text);
    ::MessageBoxW(owner, message.c_str(), L"Merovane", MB_OK | MB_ICONERROR | MB_TASKMODAL);
}

} // namespace merovane::ui::application
