#pragma once

// One thread that sleeps on the handles of every watch in the program (the
// rules folder, the organisation's policy keys) and runs their callbacks. A
// thread costs its whole stack even while it only waits, so the watches
// share one instead of keeping one each.

#include <windows.h>

#include <vector>

namespace merovane {

class SharedWait {
public:
    // What a watch waits for now: a few handles, and how long before it
    // hears that none came.
    struct Wanted {
        std::vector<HANDLE> handles;
        DWORD timeoutMs = INFINITE;
    };

    // A watch. Its calls run on the shared thread, one at a time, never two
    // at once; they must be quick and must not throw.
    class Client {
    public:
        virtual ~Client() = default;
        // Once after Add and after every Signalled: what to wait for next.
        virtual Wanted Arm() noexcept = 0;
        // handles[index] was signalled, or -1: the time ran out.
        virtual void Signalled(int index) noexcept = 0;
    };

    // Starts the thread with the first client and returns once the client
    // is armed; Remove returns once the client's calls are over for good,
    // and ends the thread with the last. Neither may be called from a
    // client's own call. False when the thread could not start (the watch
    // then does without).
    static bool Add(Client& client);
    static void Remove(Client& client);
};

} // namespace merovane
