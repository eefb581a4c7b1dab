#pragma once
// The one thread on which speech and clips play, one job at a time. Every job watches a
// cancellation counter: muting, the end of a session, teardown and a time-out move it,
// which stops the job that plays and turns every queued one into "stopped".
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "training/training_records.h"

namespace sv {
namespace training {

class AudioWorker {
public:
    // A job must return as soon as the counter differs from its generation.
    using Job = std::function<SpeechOutcome(const std::atomic<int32_t>& counter, int32_t generation)>;

    // threadStart and threadEnd run on the worker thread around its loop (the COM
    // apartment). A waiter gives a job its time-out plus slackMs: a job that stops itself
    // at its time-out still reports its own outcome.
    AudioWorker(std::function<void()> threadStart, std::function<void()> threadEnd, uint32_t slackMs = 5000);
    ~AudioWorker();
    AudioWorker(const AudioWorker&) = delete;
    AudioWorker& operator=(const AudioWorker&) = delete;

    // Queues the job and waits for its outcome; "timed out" (and everything playing or
    // queued cancelled) when it does not come within the time-out plus the slack.
    SpeechOutcome Run(Job job, uint32_t timeoutMs);
    // Stops the job that plays and every queued one.
    void Cancel();
    // Cancels, lets the queued jobs end as "stopped" and joins the thread.
    void Stop();

private:
    void Main();

    std::function<void()> threadStart_;
    std::function<void()> threadEnd_;
    const uint32_t slackMs_;
    std::mutex mutex_;
    std::condition_variable signal_;
    std::deque<std::function<void()>> queue_;
    bool stop_ = false;
    std::atomic<int32_t> counter_{0};
    std::thread thread_;
};

}  // namespace training
}  // namespace sv
