#include "base/shared_wait.h"

#include "base/handles.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

namespace merovane {

namespace {

class WaitThread {
public:
    bool Add(SharedWait::Client& client)
    {
        const std::lock_guard calls(calls_);
        if (!wake_) {
            wake_.reset(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
            if (!wake_) {
                return false;
            }
        }
        {
            const std::lock_guard lock(mutex_);
            adding_.push_back(&client);
        }
        if (!thread_.joinable()) {
            try {
                thread_ = std::thread([this] { Run(); });
            } catch (const std::system_error&) {
                const std::lock_guard lock(mutex_);
                adding_.clear();
                return false;
            }
        }
        ::SetEvent(wake_.get());
        // Armed before Add returns: a change made right after it is seen.
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return adding_.empty() && arming_ == 0; });
        return true;
    }

    void Remove(SharedWait::Client& client)
    {
        const std::lock_guard calls(calls_);
        if (!thread_.joinable()) {
            return;
        }
        bool last = false;
        {
            std::unique_lock lock(mutex_);
            removing_.push_back(&client);
            ::SetEvent(wake_.get());
            changed_.wait(lock, [this] { return removing_.empty(); });
            last = clients_ == 0 && adding_.empty();
            stopping_ = last;
        }
        if (last) {
            ::SetEvent(wake_.get());
            thread_.join();
            const std::lock_guard lock(mutex_);
            stopping_ = false;
        }
    }

private:
    struct Watched {
        SharedWait::Client* client;
        SharedWait::Wanted wanted;
        ULONGLONG deadline = 0; // GetTickCount64; 0: none
    };

    static void Arm(Watched& watched)
    {
        watched.wanted = watched.client->Arm();
        watched.deadline =
            watched.wanted.timeoutMs == INFINITE ? 0 : ::GetTickCount64() + watched.wanted.timeoutMs;
    }

    // Takes in the clients added and drops those removed; false when the
    // thread is to end.
    bool TakeChanges(std::vector<Watched>& watched)
    {
        std::vector<SharedWait::Client*> added;
        bool stop = false;
        {
            const std::lock_guard lock(mutex_);
            for (SharedWait::Client* client : removing_) {
                watched.erase(std::remove_if(watched.begin(), watched.end(),
                                             [client](const Watched& w) { return w.client == client; }),
                              watched.end());
            }
            removing_.clear();
            added.swap(adding_);
            arming_ = added.size();
            clients_ = watched.size() + added.size();
            stop = stopping_;
        }
        changed_.notify_all();
        if (!added.empty()) {
            for (SharedWait::Client* client : added) {
                watched.push_back({client, {}, 0});
                Arm(watched.back());
            }
            {
                const std::lock_guard lock(mutex_);
                arming_ = 0;
            }
            changed_.notify_all();
        }
        return !stop;
    }

    void Run() noexcept
    {
        std::vector<Watched> watched;
        std::vector<HANDLE> handles;
        std::vector<std::pair<size_t, int>> owners; // watched index, its handle's index
        while (TakeChanges(watched)) {
            handles.assign(1, wake_.get());
            owners.assign(1, {0, 0});
            ULONGLONG soonest = 0;
            for (size_t index = 0; index < watched.size(); ++index) {
                const Watched& w = watched[index];
                for (size_t handle = 0; handle < w.wanted.handles.size() && handles.size() < MAXIMUM_WAIT_OBJECTS;
                     ++handle) {
                    handles.push_back(w.wanted.handles[handle]);
                    owners.emplace_back(index, static_cast<int>(handle));
                }
                if (w.deadline != 0 && (soonest == 0 || w.deadline < soonest)) {
                    soonest = w.deadline;
                }
            }
            const ULONGLONG now = ::GetTickCount64();
            const DWORD timeout = soonest == 0   ? INFINITE
                                  : soonest > now ? static_cast<DWORD>(std::min<ULONGLONG>(soonest - now, 0x7FFFFFFF))
                                                  : 0;
            const DWORD woken =
                ::WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE, timeout);
            if (woken > WAIT_OBJECT_0 && woken < WAIT_OBJECT_0 + handles.size()) {
                Watched& w = watched[owners[woken - WAIT_OBJECT_0].first];
                w.client->Signalled(owners[woken - WAIT_OBJECT_0].second);
                Arm(w);
            } else if (woken == WAIT_TIMEOUT) {
                const ULONGLONG late = ::GetTickCount64();
                for (Watched& w : watched) {
                    if (w.deadline != 0 && w.deadline <= late) {
                        w.client->Signalled(-1);
                        Arm(w);
                    }
                }
            } else if (woken == WAIT_FAILED) {
                // A watch's handle went bad: rather than spin, sleep until
                // clients come or go.
                ::WaitForSingleObject(wake_.get(), INFINITE);
            }
        }
    }

    std::mutex calls_; // one Add or Remove at a time
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<SharedWait::Client*> adding_;   // guarded by mutex_
    std::vector<SharedWait::Client*> removing_; // guarded by mutex_
    size_t clients_ = 0;                        // guarded by mutex_
    size_t arming_ = 0;                         // guarded by mutex_
    bool stopping_ = false;                     // guarded by mutex_
    unique_handle wake_;
    std::thread thread_;
};

// Never destroyed: a watch that outlives main must still find it, and the
// process's end takes the thread.
WaitThread& TheWaitThread()
{
    static WaitThread* const thread = new WaitThread;
    return *thread;
}

} // namespace

bool SharedWait::Add(Client& client)
{
    return TheWaitThread().Add(client);
}

void SharedWait::Remove(Client& client)
{
    TheWaitThread().Remove(client);
}

} // namespace merovane
