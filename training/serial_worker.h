#pragma once
// One thread of its own that runs posted tasks one at a time in the order posted, with a
// bounded queue. The thread starts with the first task; Stop (and the destructor) drops
// what is still waiting, waits for the task in hand and joins; Finish takes no more but
// runs what is waiting before it joins. StopBy and FinishBy give up at a deadline, for a
// task that may be inside a call that never returns; the thread then stays until it
// ends, and the destructor joins it.
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

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
    bool Post(std::function<void()> task);
    // Tasks waiting behind the one in hand.
    size_t Backlog();
    void Stop();
    void Finish();
    // False when the thread was still running at deadline.
    bool StopBy(std::chrono::steady_clock::time_point deadline);
    bool FinishBy(std::chrono::steady_clock::time_point deadline);

private:
    void Run();
    bool Close(bool runWaiting, const std::chrono::steady_clock::time_point* deadline);

    const size_t capacity_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> queue_;
    bool stopped_ = false;
    bool running_ = false;  // the thread has not left Run yet
    std::condition_variable ended_;
    std::thread thread_;    // started under mutex_; Stop takes it out and joins it
    std::mutex stopMutex_;  // one Stop at a time, so the join has one owner
};

}  // namespace training
}  // namespace sv
