#pragma once
// A query run on a thread of its own and waited for with a time-out, so that a program that
// does not answer cannot hold its caller. A query that outlives the wait finishes alone and
// its answer is dropped; the thread owns everything it touches.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

#include "base/detachable_thread.h"

namespace sv {
namespace training {

// Counts the query threads still running so an owner can wait for them, within a bound.
class QueryThreadCount {
public:
    void Enter() {
        std::lock_guard<std::mutex> lock(mutex_);
        ++running_;
    }
    void Leave() {
        std::lock_guard<std::mutex> lock(mutex_);
        --running_;
        idle_.notify_all();
    }
    // True when none is left running within the time.
    bool WaitIdle(std::chrono::milliseconds limit) {
        std::unique_lock<std::mutex> lock(mutex_);
        return idle_.wait_for(lock, limit, [this] { return running_ == 0; });
    }
    int Running() {
        std::lock_guard<std::mutex> lock(mutex_);
        return running_;
    }

private:
    std::mutex mutex_;
    std::condition_variable idle_;
    int running_ = 0;
};

// Runs `query` on a new thread between `threadBegin` (returns whether `threadEnd` is owed)
// and `threadEnd`; answers its result, or `fallback` when it throws, cannot start or has
// not answered within `timeoutMs`.
template <class T>
T RunDetachedQuery(std::function<T()> query, uint32_t timeoutMs, T fallback,
                   std::shared_ptr<QueryThreadCount> count, std::function<bool()> threadBegin,
                   std::function<void()> threadEnd) {
    auto promise = std::make_shared<std::promise<T>>();
    std::future<T> future = promise->get_future();
    count->Enter();
    try {
        StartDetachedThread([query = std::move(query), promise, count, threadBegin = std::move(threadBegin),
                     threadEnd = std::move(threadEnd)] {
            const bool owesEnd = threadBegin ? threadBegin() : false;
            try {
                promise->set_value(query());
            } catch (...) {
                try {
                    promise->set_exception(std::current_exception());
                } catch (...) {
                }
            }
            if (owesEnd && threadEnd) threadEnd();
            count->Leave();
        });
    } catch (...) {
        count->Leave();
        return fallback;
    }
    if (future.wait_for(std::chrono::milliseconds(timeoutMs)) != std::future_status::ready) return fallback;
    try {
        return future.get();
    } catch (...) {
        return fallback;
    }
}

}  // namespace training
}  // namespace sv
