#pragma once

// A message-only window of the test's thread that collects what a worker posts
// to it, for tests of work that reports by message.

#include <windows.h>

#include <chrono>
#include <optional>

namespace merovane::test {

class MessageSink {
public:
    MessageSink()
    {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = ::DefWindowProcW;
        windowClass.hInstance = ::GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"MerovaneTestMessageSink";
        ::RegisterClassW(&windowClass); // fails harmlessly when already registered
        window_ = ::CreateWindowExW(0, windowClass.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                    windowClass.hInstance, nullptr);
    }
    ~MessageSink() { ::DestroyWindow(window_); }
    MessageSink(const MessageSink&) = delete;
    MessageSink& operator=(const MessageSink&) = delete;

    [[nodiscard]] HWND Handle() const noexcept { return window_; }

    // The first message numbered from `first` to `last` within `ms`.
    std::optional<MSG> Wait(UINT first, UINT last, DWORD ms) const
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        MSG msg;
        while (std::chrono::steady_clock::now() < deadline) {
            if (::PeekMessageW(&msg, window_, first, last, PM_REMOVE)) {
                return msg;
            }
            ::Sleep(5);
        }
        return std::nullopt;
    }

private:
    HWND window_ = nullptr;
};

} // namespace merovane::test
