#pragma once
// A thread that its owner joins or lets go, in place of std::thread where a thread may be let
// go. MinGW's winpthreads frees a thread's record when the thread is detached after its body
// has returned but before it has left; the leaving thread then still tears the record down:
// it zeroes it, closes the start event and destroys the mutex of whichever thread is given
// that record next (a lock then reads address 0, a later join fails with "No such process").
// A body run here does not return before its owner has joined or let it go, so a thread is
// never let go in that window. (A std::thread that detaches itself is still inside its body,
// which is safe.)
#include <functional>
#include <memory>
#include <thread>

#include "base/annotated_mutex.h"

namespace sv {

class DetachableThread {
public:
    DetachableThread() = default;
    // Throws std::system_error when no thread can be started, as std::thread does.
    explicit DetachableThread(std::function<void()> body);
    DetachableThread(DetachableThread&&) noexcept = default;
    // Only onto one that holds no thread (joined, let go or never started).
    DetachableThread& operator=(DetachableThread&& other) noexcept;
    // One still held is let go: an owner that forgot to decide never ends the process.
    ~DetachableThread();

    bool Joinable() const { return thread_.joinable(); }
    std::thread::id Id() const { return thread_.get_id(); }
    void Join();
    // Also from the thread itself, which then leaves when its body returns.
    void LetGo();
    // Joins, or lets go when called from the thread itself (a task that stops its own
    // owner), which a join would deadlock on. Nothing when no thread is held.
    void JoinUnlessSelf();

private:
    struct Release {
        Mutex mutex;
        CondVar decided;
        bool done SV_GUARDED_BY(mutex) = false;
        void Set();
        void Wait();
    };
    std::shared_ptr<Release> release_;
    std::thread thread_;
};

// Runs `body` on a thread that is let go at once. Throws like the constructor.
void StartDetachedThread(std::function<void()> body);

}  // namespace sv
