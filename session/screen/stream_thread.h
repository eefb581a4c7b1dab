#pragma once
// The stream thread: one thread, made at the first start and kept until its owner
// goes, runs the stream body while the stream is on and the tasks posted to it (single
// frames) whenever they come. Bodies are started and stopped under one lock, and the
// body's pacing sleep ends at once when it is stopped. Whether it should run is decided
// under that same lock from the caller's current state, so a start and a stop that race
// each leave the body as the latest state asks.
//
// Why one thread for good: every capture and encode leaves its frame-sized scratch
// memory with the allocator of the thread that made it (under Wine, a heap per thread
// that keeps freed frames). A new thread per stream start, or per frame request, left a
// few frames behind in each heap it touched; one thread keeps them in one place.
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <thread>

#include "base/annotated_mutex.h"
#include "base/detachable_thread.h"

namespace sv {

class StreamThread {
public:
    StreamThread() = default;
    ~StreamThread();  // Shutdown
    StreamThread(const StreamThread&) = delete;
    StreamThread& operator=(const StreamThread&) = delete;

    // Starts `body` unless it runs (or `allowed` is false); false when it does not run.
    bool Start(const std::function<void()>& body, bool allowed = true);
    // Clears the running flag, wakes the sleep and waits until the body has returned
    // (unless called from the thread itself).
    void Stop();
    // Asks `wanted` under the lock and starts or stops to match.
    void Reconcile(const std::function<bool()>& wanted, const std::function<void()>& body);
    // The body's pacing: sleeps up to `ns`, running posted tasks as they come; false
    // once stopped.
    bool Sleep(int64_t ns);
    void ClearRunning();  // for a stop request that must not wait (any thread)
    bool Running() const { return running_.load(); }

    // Runs `task` on the thread: at once when no body runs, else within the body's next
    // Sleep. False when the thread could not be made or is ending.
    bool Post(std::function<void()> task);
    // Whether the caller is the stream thread.
    bool OnThread() const;
    // Stops the body, drops the tasks not yet begun, waits for the one that runs and
    // ends the thread; nothing starts or is posted after it.
    void Shutdown();

private:
    void Main();
    bool EnsureThread();
    // Runs every queued task with the lock released around each one.
    void RunTasks(MutexLock& lock) SV_REQUIRES(stateMutex_);
    bool StartLocked(const std::function<void()>& body) SV_REQUIRES(mutex_);
    void StopLocked() SV_REQUIRES(mutex_);
    void Wake();

    Mutex mutex_;  // serialises starts, stops and waits for a body's end
    Mutex threadMutex_;  // making and joining the thread
    DetachableThread thread_ SV_GUARDED_BY(threadMutex_);
    std::atomic<std::thread::id> threadId_{};
    std::atomic<bool> running_{false};
    // Guards what the thread is handed and whether a body is out.
    Mutex stateMutex_ SV_ACQUIRED_AFTER(mutex_);
    CondVar wake_;  // to the thread: a body, a task, a stop or the end
    CondVar idle_;  // from the thread: its body returned
    std::function<void()> body_ SV_GUARDED_BY(stateMutex_);  // handed and not yet taken
    bool bodyOut_ SV_GUARDED_BY(stateMutex_) = false;  // a body was handed and has not returned
    std::deque<std::function<void()>> tasks_ SV_GUARDED_BY(stateMutex_);
    std::atomic<bool> quit_{false};  // written under stateMutex_
};

}  // namespace sv
