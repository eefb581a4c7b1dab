#include "session/screen/stream_thread.h"

#include <utility>

namespace sv {

StreamThread::~StreamThread() { Shutdown(); }

void StreamThread::Shutdown() {
    Stop();
    {
        MutexLock lock(stateMutex_);
        quit_.store(true);
        tasks_.clear();
    }
    wake_.NotifyAll();
    MutexLock lock(threadMutex_);
    thread_.JoinUnlessSelf();
}

bool StreamThread::OnThread() const { return threadId_.load() == std::this_thread::get_id(); }

bool StreamThread::EnsureThread() {
    MutexLock lock(threadMutex_);
    if (thread_.Joinable()) return true;
    if (quit_.load()) return false;
    try {
        thread_ = DetachableThread([this] { Main(); });
    } catch (...) {
        return false;
    }
    threadId_.store(thread_.Id());
    return true;
}

void StreamThread::Main() {
    MutexLock lock(stateMutex_);
    for (;;) {
        wake_.Wait(lock, [this]() SV_REQUIRES(stateMutex_) { return quit_ || body_ || !tasks_.empty(); });
        if (quit_) {
            // Tasks still queued are dropped, and a body handed over in the meantime
            // never runs: their owner is going.
            body_ = nullptr;
            bodyOut_ = false;
            running_.store(false);
            idle_.NotifyAll();
            return;
        }
        RunTasks(lock);
        if (!body_) continue;
        std::function<void()> body = std::move(body_);
        body_ = nullptr;
        lock.Unlock();
        body();  // stopped before it began, it sees that itself
        body = nullptr;
        lock.Lock();
        bodyOut_ = false;
        idle_.NotifyAll();
    }
}

// Lets go of the caller's lock around each task, which the analysis cannot follow through
// a reference to the lock: callers are checked, the body is not.
void StreamThread::RunTasks(MutexLock& lock) SV_NO_THREAD_SAFETY_ANALYSIS {
    if (!OnThread()) return;
    while (!tasks_.empty() && !quit_) {
        std::function<void()> task = std::move(tasks_.front());
        tasks_.pop_front();
        lock.Unlock();
        task();
        task = nullptr;
        lock.Lock();
    }
}

bool StreamThread::StartLocked(const std::function<void()>& body) {
    if (running_.load()) return true;
    if (!EnsureThread()) return false;
    MutexLock lock(stateMutex_);
    if (bodyOut_) {
        // A body that was told to stop has not returned yet: wait for it, unless this is
        // that body's own thread, which cannot wait for itself.
        if (OnThread()) return false;
        idle_.Wait(lock, [this]() SV_REQUIRES(stateMutex_) { return !bodyOut_; });
    }
    if (quit_) return false;
    running_.store(true);
    body_ = body;
    bodyOut_ = true;
    lock.Unlock();
    wake_.NotifyAll();
    return true;
}

void StreamThread::StopLocked() {
    running_.store(false);
    Wake();
    if (OnThread()) return;
    MutexLock lock(stateMutex_);
    idle_.Wait(lock, [this]() SV_REQUIRES(stateMutex_) { return !bodyOut_; });
}

bool StreamThread::Start(const std::function<void()>& body, bool allowed) {
    MutexLock lock(mutex_);
    if (!allowed) return false;
    return StartLocked(body);
}

void StreamThread::Stop() {
    MutexLock lock(mutex_);
    StopLocked();
}

void StreamThread::Reconcile(const std::function<bool()>& wanted, const std::function<void()>& body) {
    MutexLock lock(mutex_);
    if (wanted()) {
        StartLocked(body);
    } else {
        StopLocked();
    }
}

bool StreamThread::Post(std::function<void()> task) {
    if (!EnsureThread()) return false;
    {
        MutexLock lock(stateMutex_);
        if (quit_) return false;
        tasks_.push_back(std::move(task));
    }
    wake_.NotifyAll();
    return true;
}

void StreamThread::ClearRunning() {
    running_.store(false);
    Wake();
}

void StreamThread::Wake() {
    { MutexLock lock(stateMutex_); }
    wake_.NotifyAll();
}

bool StreamThread::Sleep(int64_t ns) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::nanoseconds(ns > 0 ? ns : 0);
    MutexLock lock(stateMutex_);
    for (;;) {
        RunTasks(lock);
        if (!running_.load() || quit_) return false;
        if (ns <= 0) return true;
        const bool woken =
            wake_.WaitUntil(lock, deadline, [this]() SV_REQUIRES(stateMutex_) { return !running_.load() || quit_ || !tasks_.empty(); });
        if (!woken) return running_.load();
    }
}

}  // namespace sv
