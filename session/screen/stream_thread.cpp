#include "session/screen/stream_thread.h"

#include <utility>

namespace sv {

StreamThread::~StreamThread() { Shutdown(); }

void StreamThread::Shutdown() {
    Stop();
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        quit_.store(true);
        tasks_.clear();
    }
    wake_.notify_all();
    std::lock_guard<std::mutex> lock(threadMutex_);
    if (thread_.joinable() && !OnThread()) thread_.join();
}

bool StreamThread::OnThread() const { return threadId_.load() == std::this_thread::get_id(); }

bool StreamThread::EnsureThread() {
    std::lock_guard<std::mutex> lock(threadMutex_);
    if (thread_.joinable()) return true;
    if (quit_.load()) return false;
    try {
        thread_ = std::thread([this] { Main(); });
    } catch (...) {
        return false;
    }
    threadId_.store(thread_.get_id());
    return true;
}

void StreamThread::Main() {
    std::unique_lock<std::mutex> lock(stateMutex_);
    for (;;) {
        wake_.wait(lock, [this] { return quit_ || body_ || !tasks_.empty(); });
        if (quit_) {
            // Tasks still queued are dropped, and a body handed over in the meantime
            // never runs: their owner is going.
            body_ = nullptr;
            bodyOut_ = false;
            running_.store(false);
            idle_.notify_all();
            return;
        }
        RunTasks(lock);
        if (!body_) continue;
        std::function<void()> body = std::move(body_);
        body_ = nullptr;
        lock.unlock();
        body();  // stopped before it began, it sees that itself
        body = nullptr;
        lock.lock();
        bodyOut_ = false;
        idle_.notify_all();
    }
}

void StreamThread::RunTasks(std::unique_lock<std::mutex>& lock) {
    if (!OnThread()) return;
    while (!tasks_.empty() && !quit_) {
        std::function<void()> task = std::move(tasks_.front());
        tasks_.pop_front();
        lock.unlock();
        task();
        task = nullptr;
        lock.lock();
    }
}

bool StreamThread::StartLocked(const std::function<void()>& body) {
    if (running_.load()) return true;
    if (!EnsureThread()) return false;
    std::unique_lock<std::mutex> lock(stateMutex_);
    if (bodyOut_) {
        // A body that was told to stop has not returned yet: wait for it, unless this is
        // that body's own thread, which cannot wait for itself.
        if (OnThread()) return false;
        idle_.wait(lock, [this] { return !bodyOut_; });
    }
    if (quit_) return false;
    running_.store(true);
    body_ = body;
    bodyOut_ = true;
    lock.unlock();
    wake_.notify_all();
    return true;
}

void StreamThread::StopLocked() {
    running_.store(false);
    Wake();
    if (OnThread()) return;
    std::unique_lock<std::mutex> lock(stateMutex_);
    idle_.wait(lock, [this] { return !bodyOut_; });
}

bool StreamThread::Start(const std::function<void()>& body, bool allowed) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!allowed) return false;
    return StartLocked(body);
}

void StreamThread::Stop() {
    std::lock_guard<std::mutex> lock(mutex_);
    StopLocked();
}

void StreamThread::Reconcile(const std::function<bool()>& wanted, const std::function<void()>& body) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (wanted()) {
        StartLocked(body);
    } else {
        StopLocked();
    }
}

bool StreamThread::Post(std::function<void()> task) {
    if (!EnsureThread()) return false;
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        if (quit_) return false;
        tasks_.push_back(std::move(task));
    }
    wake_.notify_all();
    return true;
}

void StreamThread::ClearRunning() {
    running_.store(false);
    Wake();
}

void StreamThread::Wake() {
    { std::lock_guard<std::mutex> lock(stateMutex_); }
    wake_.notify_all();
}

bool StreamThread::Sleep(int64_t ns) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::nanoseconds(ns > 0 ? ns : 0);
    std::unique_lock<std::mutex> lock(stateMutex_);
    for (;;) {
        RunTasks(lock);
        if (!running_.load() || quit_) return false;
        if (ns <= 0) return true;
        const bool woken =
            wake_.wait_until(lock, deadline, [this] { return !running_.load() || quit_ || !tasks_.empty(); });
        if (!woken) return running_.load();
    }
}

}  // namespace sv
