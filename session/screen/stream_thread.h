#pragma once
// The stream thread: at most one runs, started and stopped under one lock, and its
// pacing sleep ends at once when it is stopped. Whether it should run is decided under
// that same lock from the caller's current state, so a start and a stop that race each
// leave the thread as the latest state asks.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

namespace sv {

class StreamThread {
public:
    ~StreamThread();  // stops and joins

    // Starts `body` unless it runs (or `allowed` is false); false when it does not run.
    bool Start(const std::function<void()>& body, bool allowed = true);
    // Clears the running flag, wakes the sleep and joins (unless called from the thread).
    void Stop();
    // Asks `wanted` under the lock and starts or stops to match.
    void Reconcile(const std::function<bool()>& wanted, const std::function<void()>& body);
    // The body's pacing: sleeps up to `ns`; false once stopped.
    bool Sleep(int64_t ns);
    void ClearRunning();  // for a stop request that must not join (any thread)
    bool Running() const { return running_.load(); }

private:
    bool StartLocked(const std::function<void()>& body);
    void StopLocked();
    void Wake();

    std::mutex mutex_;  // serialises starts, stops and joins
    std::thread thread_;
    std::atomic<bool> running_{false};
    std::mutex wakeMutex_;
    std::condition_variable wake_;
};

}  // namespace sv
