#pragma once
// One thread that runs small tasks one at a time, oldest first, from a bounded queue.
// Producers never wait: a full queue or a stopped worker drops the task.
#include <chrono>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <optional>

#include "base/annotated_mutex.h"
#include "base/detachable_thread.h"

namespace sv {
namespace training {

class CallbackWorker {
public:
    using Task = std::function<void()>;

    // A task is dropped while more than `maxWaiting` already wait.
    explicit CallbackWorker(size_t maxWaiting);
    ~CallbackWorker();
    CallbackWorker(const CallbackWorker&) = delete;
    CallbackWorker& operator=(const CallbackWorker&) = delete;

    // Starts the thread; `threadBegin` and `threadEnd` run on it first and last (COM set-up).
    // Does nothing while started.
    void Start(std::function<void()> threadBegin, std::function<void()> threadEnd) SV_EXCLUDES(stateMutex_);

    // Queues a task; false when it was dropped.
    bool Post(Task task) SV_EXCLUDES(stateMutex_);

    // Stops accepting, discards what still waits and joins the thread. Called from a task on
    // the worker itself it cannot join its own thread: the thread is let go and leaves as
    // soon as that task returns, touching only state it shares ownership of.
    void Stop() SV_EXCLUDES(stateMutex_);
    // The same, but a task that has not returned within `limit` is not waited for: the
    // thread is let go and leaves when it returns. True when the thread was joined.
    bool StopWithin(std::chrono::milliseconds limit) SV_EXCLUDES(stateMutex_);

private:
    struct Shared {
        Mutex mutex;
        CondVar signal;
        std::deque<Task> queue SV_GUARDED_BY(mutex);
        bool running SV_GUARDED_BY(mutex) = false;
        bool left SV_GUARDED_BY(mutex) = false;  // the thread has run its last task
        size_t maxWaiting = 0;
    };
    bool StopUpTo(std::optional<std::chrono::milliseconds> limit) SV_EXCLUDES(stateMutex_);
    static void Run(std::shared_ptr<Shared> shared, std::function<void()> threadBegin,
                    std::function<void()> threadEnd);

    const size_t maxWaiting_;
    // Taken before the shared state's lock.
    Mutex stateMutex_;
    std::shared_ptr<Shared> shared_ SV_GUARDED_BY(stateMutex_);
    DetachableThread thread_ SV_GUARDED_BY(stateMutex_);
};

}  // namespace training
}  // namespace sv
