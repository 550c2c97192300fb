#pragma once

// Answers the next message box or window that this process shows, from a
// thread of its own, while the code under test waits in the box's loop.

#include <windows.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>

namespace merovane::test {

class MessageBoxAnswer {
public:
    // Presses the button `id` (IDYES, IDNO, IDOK...) of the next message box
    // of this process, or of the process `processId`.
    explicit MessageBoxAnswer(int id, DWORD processId = ::GetCurrentProcessId());
    // Runs `meanwhile` on the answering thread once the box is up, then
    // presses `id`: for what a user or the system does while a box waits.
    MessageBoxAnswer(int id, std::function<void()> meanwhile);
    ~MessageBoxAnswer();
    MessageBoxAnswer(const MessageBoxAnswer&) = delete;
    MessageBoxAnswer& operator=(const MessageBoxAnswer&) = delete;

    // Waits for the answer to be given; false when no box appeared in time.
    bool Answered(DWORD timeoutMs = 10'000);
    // The box's title and text, once answered.
    [[nodiscard]] const std::wstring& Title() const noexcept { return title_; }
    [[nodiscard]] const std::wstring& Text() const noexcept { return text_; }

private:
    MessageBoxAnswer(int id, DWORD processId, std::function<void()> meanwhile);

    std::wstring title_;
    std::wstring text_;
    std::atomic<bool> done_{false};
    std::atomic<bool> stop_{false};
    std::thread worker_;
};

// Closes the next visible window of the given class that this process shows.
class WindowCloser {
public:
    explicit WindowCloser(std::wstring windowClass);
    ~WindowCloser();
    WindowCloser(const WindowCloser&) = delete;
    WindowCloser& operator=(const WindowCloser&) = delete;
    bool Closed(DWORD timeoutMs = 10'000);

private:
    std::atomic<bool> done_{false};
    std::atomic<bool> stop_{false};
    std::thread worker_;
};

// Presses Escape in 300 ms, to dismiss the menu that is about to open; the
// caller joins the thread.
std::thread PressEscapeSoon();

} // namespace merovane::test
