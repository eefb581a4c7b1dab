#pragma once
// One thread of its own that runs posted tasks one at a time in the order posted, with a
// bounded queue. The thread starts with the first task; Stop (and the destructor) drops
// what is still waiting, waits for the task in hand and joins; Finish takes no more but
// runs what is waiting before it joins. StopBy and FinishBy give up at a deadline, for a
// task that may be inside a call that never returns; the thread then stays until it
// ends, and the destructor joins it.
#include <chrono>
#include <cstddef>
#include <deque>
#include <functional>

#include "base/annotated_mutex.h"
#include "base/detachable_thread.h"

namespace sv {
namespace training {

class SerialWorker {
public:
    explicit SerialWorker(size_t capacity);
    ~SerialWorker();
    SerialWorker(const SerialWorker&) = delete;
    SerialWorker& operator=(const SerialWorker&) = delete;

    // False when the task was not taken: the queue is full, the worker is stopped, or no
    // thread could be started.
    bool Post(std::function<void()> task) SV_EXCLUDES(mutex_);
    // Tasks waiting behind the one in hand.
    size_t Backlog() SV_EXCLUDES(mutex_);
    // From a task on the worker itself these let its thread go instead of joining it: the
    // thread leaves once that task returns.
    void Stop() SV_EXCLUDES(stopMutex_, mutex_);
    void Finish() SV_EXCLUDES(stopMutex_, mutex_);
    // False when the thread was still running at deadline.
    bool StopBy(std::chrono::steady_clock::time_point deadline) SV_EXCLUDES(stopMutex_, mutex_);
    bool FinishBy(std::chrono::steady_clock::time_point deadline) SV_EXCLUDES(stopMutex_, mutex_);

private:
    void Run() SV_EXCLUDES(mutex_);
    bool Close(bool runWaiting, const std::chrono::steady_clock::time_point* deadline)
        SV_EXCLUDES(stopMutex_, mutex_);

    const size_t capacity_;
    Mutex stopMutex_;  // one Stop at a time, so the join has one owner
    Mutex mutex_ SV_ACQUIRED_AFTER(stopMutex_);
    CondVar wake_;
    std::deque<std::function<void()>> queue_ SV_GUARDED_BY(mutex_);
    bool stopped_ SV_GUARDED_BY(mutex_) = false;
    bool running_ SV_GUARDED_BY(mutex_) = false;  // the thread has not left Run yet
    CondVar ended_;
    // Started under mutex_; a Stop takes it out under mutex_ and joins it after.
    DetachableThread thread_ SV_GUARDED_BY(mutex_);
};

}  // namespace training
}  // namespace sv
