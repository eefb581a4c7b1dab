#pragma once
// A query run on a thread of its own and waited for with a time-out, so that a program that
// does not answer cannot hold its caller. A query that outlives the wait finishes alone and
// its answer is dropped; the thread owns everything it touches.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <future>
#include <memory>
#include <utility>

#include "base/annotated_mutex.h"
#include "base/detachable_thread.h"

namespace sv {
namespace training {

// Counts the query threads still running so an owner can wait for them, within a bound,
// and those its callers stopped waiting for: a program that hangs would leave one thread
// behind per query, so past a small number of those no new query is started.
class QueryThreadCount {
public:
    static constexpr int kDefaultMaxStranded = 4;
    explicit QueryThreadCount(int maxStranded = kDefaultMaxStranded) : maxStranded_(maxStranded) {}

    // One query; shared by its caller and its thread, its fields guarded by the count's lock.
    struct Ticket {
        bool finished = false;
        bool stranded = false;
    };
    // A new query's ticket, or null while too many stranded queries still run.
    std::shared_ptr<Ticket> Enter() SV_EXCLUDES(mutex_) {
        MutexLock lock(mutex_);
        if (stranded_ >= maxStranded_) return nullptr;
        ++running_;
        return std::make_shared<Ticket>();
    }
    // The query's thread has finished (or never started).
    void Leave(Ticket& ticket) SV_EXCLUDES(mutex_) {
        MutexLock lock(mutex_);
        ticket.finished = true;
        if (ticket.stranded) --stranded_;
        --running_;
        idle_.NotifyAll();
    }
    // Its caller stopped waiting; counted while its thread still runs.
    void Strand(Ticket& ticket) SV_EXCLUDES(mutex_) {
        MutexLock lock(mutex_);
        if (ticket.finished || ticket.stranded) return;
        ticket.stranded = true;
        ++stranded_;
    }
    // True when none is left running within the time.
    bool WaitIdle(std::chrono::milliseconds limit) SV_EXCLUDES(mutex_) {
        MutexLock lock(mutex_);
        return idle_.WaitFor(lock, limit, [this]() SV_REQUIRES(mutex_) { return running_ == 0; });
    }
    int Running() SV_EXCLUDES(mutex_) {
        MutexLock lock(mutex_);
        return running_;
    }
    int Stranded() SV_EXCLUDES(mutex_) {
        MutexLock lock(mutex_);
        return stranded_;
    }
    int MaxStranded() const { return maxStranded_; }

private:
    const int maxStranded_;
    Mutex mutex_;
    CondVar idle_;
    int running_ SV_GUARDED_BY(mutex_) = 0;
    int stranded_ SV_GUARDED_BY(mutex_) = 0;
};

// Runs `query` on a new thread between `threadBegin` (returns whether `threadEnd` is owed)
// and `threadEnd`; answers its result, or `fallback` when it throws, cannot start or has
// not answered within `timeoutMs`, or `refused` without starting it while the count holds
// too many stranded queries.
template <class T>
T RunDetachedQuery(std::function<T()> query, uint32_t timeoutMs, T fallback, T refused,
                   std::shared_ptr<QueryThreadCount> count, std::function<bool()> threadBegin,
                   std::function<void()> threadEnd) {
    std::shared_ptr<QueryThreadCount::Ticket> ticket = count->Enter();
    if (!ticket) return refused;
    auto promise = std::make_shared<std::promise<T>>();
    std::future<T> future = promise->get_future();
    try {
        StartDetachedThread([query = std::move(query), promise, count, ticket, threadBegin = std::move(threadBegin),
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
            count->Leave(*ticket);
        });
    } catch (...) {
        count->Leave(*ticket);
        return fallback;
    }
    if (future.wait_for(std::chrono::milliseconds(timeoutMs)) != std::future_status::ready) {
        count->Strand(*ticket);
        return fallback;
    }
    try {
        return future.get();
    } catch (...) {
        return fallback;
    }
}

}  // namespace training
}  // namespace sv
