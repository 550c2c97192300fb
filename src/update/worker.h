#pragma once

// What a background check or download shares with the window that started
// it, and how the owner lets it go: cancel, wait a moment, and otherwise leave
// the thread to end by its own timeouts. Closing WinHTTP handles does not wake
// a blocked call everywhere (Wine), and nobody should wait for the network.

#include "update/version_query.h"

#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace merovane {

struct WorkerState {
    std::mutex mutex;
    HWND window = nullptr; // whom to tell; nullptr once cancelled
    QueryCancel cancel;
    std::condition_variable ended;
    bool finished = false;
};

// The owner no longer wants the result: nothing is posted any more, and the
// thread's requests are closed.
inline void CancelWorker(WorkerState& state) noexcept
{
    {
        std::lock_guard lock(state.mutex);
        state.window = nullptr;
    }
    state.cancel.Cancel();
}

// Called by the thread as its last step, with the state's lock held or not.
inline void MarkWorkerFinished(WorkerState& state) noexcept
{
    state.finished = true;
    state.ended.notify_all();
}

// Cancels, then joins a thread that ends within a moment and detaches one
// that does not: it holds nothing but the shared state and posts nothing.
inline void EndWorker(WorkerState& state, std::thread& thread) noexcept
{
    CancelWorker(state);
    bool finished = false;
    {
        std::unique_lock lock(state.mutex);
        finished = state.ended.wait_for(lock, std::chrono::milliseconds(200), [&state] { return state.finished; });
    }
    if (finished) {
        thread.join();
    } else {
        thread.detach();
    }
}

} // namespace merovane
