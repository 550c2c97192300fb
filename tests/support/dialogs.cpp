#include "support/dialogs.h"

#include <chrono>

namespace merovane::test {

namespace {

struct Search {
    const wchar_t* windowClass;
    DWORD process;
    HWND found;
};

BOOL CALLBACK FindOwnWindow(HWND window, LPARAM parameter)
{
    auto* search = reinterpret_cast<Search*>(parameter);
    DWORD process = 0;
    ::GetWindowThreadProcessId(window, &process);
    wchar_t name[64]{};
    ::GetClassNameW(window, name, 64);
    if (process == search->process && ::IsWindowVisible(window) && lstrcmpW(name, search->windowClass) == 0) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

HWND WaitForWindow(const wchar_t* windowClass, const std::atomic<bool>& stop, DWORD process = ::GetCurrentProcessId())
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!stop && std::chrono::steady_clock::now() < deadline) {
        Search search{windowClass, process, nullptr};
        ::EnumWindows(FindOwnWindow, reinterpret_cast<LPARAM>(&search));
        if (search.found != nullptr) {
            return search.found;
        }
        ::Sleep(20);
    }
    return nullptr;
}

std::wstring TextOf(HWND window)
{
    wchar_t text[1024]{};
    ::GetWindowTextW(window, text, 1024);
    return text;
}

bool WaitFor(const std::atomic<bool>& flag, DWORD timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!flag && std::chrono::steady_clock::now() < deadline) {
        ::Sleep(10);
    }
    return flag;
}

} // namespace

MessageBoxAnswer::MessageBoxAnswer(int id, DWORD processId) : MessageBoxAnswer(id, processId, {}) {}

MessageBoxAnswer::MessageBoxAnswer(int id, std::function<void()> meanwhile)
    : MessageBoxAnswer(id, ::GetCurrentProcessId(), std::move(meanwhile))
{
}

MessageBoxAnswer::MessageBoxAnswer(int id, DWORD processId, std::function<void()> meanwhile)
{
    worker_ = std::thread([this, id, processId, meanwhile = std::move(meanwhile)] {
        HWND box = WaitForWindow(L"#32770", stop_, processId);
        if (box == nullptr) {
            return;
        }
        if (meanwhile) {
            meanwhile();
        }
        title_ = TextOf(box);
        // The text is the box's static control; its id differs between systems.
        for (HWND child = ::GetWindow(box, GW_CHILD); child != nullptr; child = ::GetWindow(child, GW_HWNDNEXT)) {
            wchar_t name[32]{};
            ::GetClassNameW(child, name, 32);
            if (lstrcmpiW(name, L"Static") == 0 && !TextOf(child).empty()) {
                text_ = TextOf(child);
            }
        }
        ::PostMessageW(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(::GetDlgItem(box, id)));
        done_ = true;
    });
}

MessageBoxAnswer::~MessageBoxAnswer()
{
    stop_ = true;
    worker_.join();
}

bool MessageBoxAnswer::Answered(DWORD timeoutMs)
{
    return WaitFor(done_, timeoutMs);
}

WindowCloser::WindowCloser(std::wstring windowClass)
{
    worker_ = std::thread([this, windowClass = std::move(windowClass)] {
        if (HWND window = WaitForWindow(windowClass.c_str(), stop_)) {
            ::PostMessageW(window, WM_CLOSE, 0, 0);
            done_ = true;
        }
    });
}

WindowCloser::~WindowCloser()
{
    stop_ = true;
    worker_.join();
}

bool WindowCloser::Closed(DWORD timeoutMs)
{
    return WaitFor(done_, timeoutMs);
}

std::thread PressEscapeSoon()
{
    return std::thread([] {
        ::Sleep(300);
        INPUT keys[2]{};
        keys[0].type = keys[1].type = INPUT_KEYBOARD;
        keys[0].ki.wVk = keys[1].ki.wVk = VK_ESCAPE;
        keys[1].ki.dwFlags = KEYEVENTF_KEYUP;
        ::SendInput(2, keys, sizeof(INPUT));
    });
}

} // namespace merovane::test
