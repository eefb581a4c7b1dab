#include "session/screen/stream_thread.h"

namespace sv {

StreamThread::~StreamThread() { Stop(); }

bool StreamThread::StartLocked(const std::function<void()>& body) {
    if (running_.load()) return true;
    if (thread_.joinable()) {
        // A running std::thread must never be assigned, nor a thread join itself.
        if (thread_.get_id() == std::this_thread::get_id()) return false;
        thread_.join();
    }
    running_.store(true);
    try {
        thread_ = std::thread(body);
    } catch (...) {
        running_.store(false);
        return false;
    }
    return true;
}

void StreamThread::StopLocked() {
    running_.store(false);
    Wake();
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
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

void StreamThread::ClearRunning() {
    running_.store(false);
    Wake();
}

void StreamThread::Wake() {
    { std::lock_guard<std::mutex> lock(wakeMutex_); }
    wake_.notify_all();
}

bool StreamThread::Sleep(int64_t ns) {
    auto stopped = [this] { return !running_.load(); };
    if (ns > 0) {
        std::unique_lock<std::mutex> lock(wakeMutex_);
        wake_.wait_for(lock, std::chrono::nanoseconds(ns), stopped);
    }
    return !stopped();
}

}  // namespace sv
