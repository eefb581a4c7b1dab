#pragma once
// Detached work that its owner can account for: every piece started here is counted
// until it has returned, so an owner can refuse new work, wake what runs, and wait
// until nothing that captured it is left before it is freed. The count lives in state
// shared with the threads, so the last one may signal after a waiter has gone.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

#include "base/annotated_mutex.h"

namespace sv {

class WorkerGroup {
public:
    // Starts one thread running its argument, detached; throws when it cannot (as
    // std::thread does when the system has no thread to give).
    using ThreadStarter = std::function<void(std::function<void()>)>;

    // `starter` replaces the real thread start, so a failing start can be tested.
    explicit WorkerGroup(ThreadStarter starter = nullptr);
    ~WorkerGroup();  // stops and waits
    WorkerGroup(const WorkerGroup&) = delete;
    WorkerGroup& operator=(const WorkerGroup&) = delete;

    // Runs `work` on a detached thread; false (and `work` not run) once stopped or when
    // no thread could be started. An exception from `work` ends that piece only.
    bool Start(std::function<void()> work);
    // Refuses every later Start; running pieces go on.
    void Stop();
    // Returns once every started piece has returned. The owner makes the wait short by
    // waking its pieces first (sockets aborted, pipes cancelled, flags set).
    void Wait();
    // The same, giving up after `limit`; true when nothing runs any more.
    bool WaitFor(std::chrono::milliseconds limit);
    bool Stopped() const;
    int32_t Running() const;

private:
    struct State {
        mutable Mutex mutex;
        CondVar idle;
        int32_t running SV_GUARDED_BY(mutex) = 0;
        bool stopped SV_GUARDED_BY(mutex) = false;
    };
    std::shared_ptr<State> state_;
    ThreadStarter starter_;
};

}  // namespace sv
