#pragma once
// The one thread on which speech and clips play, one job at a time. Every job watches a
// cancellation counter of its own: muting, the end of a session and teardown move every
// job's counter, which stops the job that plays and turns every queued one into
// "stopped"; a waiter that gives up moves only its own job's.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
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

    // Queues the job and waits for its outcome; "timed out" (and this job abandoned) when
    // it does not come within the time-out plus the slack. A job of a session other than
    // the one shown (see BeginSession) is "stopped" without being queued; an empty session
    // is not tied to one.
    SpeechOutcome Run(Job job, uint32_t timeoutMs, const std::string& session = std::string());
    // The session whose jobs may play from now on.
    void BeginSession(const std::string& session);
    // No session's jobs play any more; what plays stops and what waits is dropped.
    void EndSession();
    // Stops the job that plays and every queued one.
    void Cancel();
    // Cancels, lets the queued jobs end as "stopped" and joins the thread.
    void Stop();

private:
    using Token = std::shared_ptr<std::atomic<int32_t>>;
    struct Entry {
        Token token;
        std::function<void()> run;
    };
    void Main();
    void CancelLocked();

    std::function<void()> threadStart_;
    std::function<void()> threadEnd_;
    const uint32_t slackMs_;
    std::mutex mutex_;
    std::condition_variable signal_;
    std::deque<Entry> queue_;
    Token playing_;  // the token of the job in hand
    bool stop_ = false;
    std::string session_;  // the session shown; guarded by mutex_ with the tokens
    std::thread thread_;
};

}  // namespace training
}  // namespace sv
