#pragma once
// One thread that runs small tasks one at a time, oldest first, from a bounded queue.
// Producers never wait: a full queue or a stopped worker drops the task.
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

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
    void Start(std::function<void()> threadBegin, std::function<void()> threadEnd);

    // Queues a task; false when it was dropped.
    bool Post(Task task);

    // Stops accepting, discards what still waits and joins the thread. Called from a task on
    // the worker itself it cannot join its own thread: the thread is let go and leaves as
    // soon as that task returns, touching only state it shares ownership of.
    void Stop();
    // The same, but a task that has not returned within `limit` is not waited for: the
    // thread is let go and leaves when it returns. True when the thread was joined.
    bool StopWithin(std::chrono::milliseconds limit);

private:
    struct Shared {
        std::mutex mutex;
        std::condition_variable signal;
        std::deque<Task> queue;
        bool running = false;
        bool left = false;  // the thread has run its last task
        size_t maxWaiting = 0;
    };
    bool StopUpTo(std::optional<std::chrono::milliseconds> limit);
    static void Run(std::shared_ptr<Shared> shared, std::function<void()> threadBegin,
                    std::function<void()> threadEnd);

    const size_t maxWaiting_;
    std::mutex stateMutex_;
    std::shared_ptr<Shared> shared_;
    DetachableThread thread_;
};

}  // namespace training
}  // namespace sv
