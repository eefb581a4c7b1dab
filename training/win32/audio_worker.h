#pragma once
// The one thread on which speech and clips play, one job at a time. Every job watches a
// cancellation counter of its own: muting, the end of a session and teardown move every
// job's counter, which stops the job that plays and turns every queued one into
// "stopped"; a waiter that gives up moves only its own job's.
//
// A job starts its sound through the start guard it is given, which checks the job's
// counter under the lock every cancel takes: a cancel either comes first (nothing starts)
// or finds the sound started (the job's next poll stops it). No wait here is unbounded: a
// cancel waits for a sound being started, and teardown for the thread, each for a bounded
// time; a thread let go that way keeps its state alive itself and finishes alone.
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "base/annotated_mutex.h"
#include "base/detachable_thread.h"
#include "training/training_records.h"
#include "training/win32/playback_jobs.h"

namespace sv {
namespace training {

// How long each wait of the sound side may last, in milliseconds.
struct AudioLimits {
    // Beyond a job's own time-out, what its waiter allows: a job that stops itself at its
    // time-out still reports its own outcome.
    uint32_t slackMs = 5000;
    // A cancel waits this long for a job that is starting its sound (a speech engine
    // whose start call hangs is not waited for longer).
    uint32_t startWaitMs = 2000;
    // Teardown waits this long for the worker thread to leave.
    uint32_t stopWaitMs = 5000;
    // A voice list waits this long for the enumeration of the installed voices.
    uint32_t voiceListMs = 10000;
};

class AudioWorker {
public:
    // A job must start its sound only through the guard, and return as soon as the counter
    // differs from its generation.
    using Job = std::function<SpeechOutcome(const std::atomic<int32_t>& counter, int32_t generation,
                                            const StartGuard& startGuard)>;

    // threadStart and threadEnd run on the worker thread around its loop (the COM apartment).
    AudioWorker(std::function<void()> threadStart, std::function<void()> threadEnd, AudioLimits limits = {});
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
    // No session's jobs play any more; what plays stops and what waits is dropped. On
    // return no sound of them can start any more (unless a start call hung past its bound).
    void EndSession();
    // Stops the job that plays and every queued one.
    void Cancel();
    // Cancels, lets the queued jobs end as "stopped" and joins the thread; a thread still
    // inside a job after the bound is let go. True when it was joined.
    bool Stop() SV_EXCLUDES(ownerMutex_);

private:
    using Token = std::shared_ptr<std::atomic<int32_t>>;
    struct Entry {
        Token token;
        std::function<void()> run;
    };
    // Everything the thread touches, so a thread that is let go never reaches this object.
    struct Shared {
        // Held by a job while it starts its sound and by every cancel while it moves
        // counters, before `mutex`. It guards no field: it orders a start against a cancel,
        // and a cancel waits for it only up to a bound, which the annotated mutex cannot.
        std::timed_mutex startMutex;
        Mutex mutex;
        CondVar signal;
        std::deque<Entry> queue SV_GUARDED_BY(mutex);
        Token playing SV_GUARDED_BY(mutex);  // the token of the job in hand
        bool stop SV_GUARDED_BY(mutex) = false;
        bool left SV_GUARDED_BY(mutex) = false;  // the thread has run its last job
        CondVar leaving;
        std::string session SV_GUARDED_BY(mutex);  // the session shown; set with the tokens moved
    };
    static void Main(std::shared_ptr<Shared> shared, std::function<void()> threadStart,
                     std::function<void()> threadEnd);
    // Moves the counters of the queued jobs and of the one in hand (or of `only`), first
    // waiting a bounded time for a sound being started; `change` runs under the lock too.
    void CancelJobs(const Token& only, const std::function<void(Shared&)>& change);

    const AudioLimits limits_;
    std::shared_ptr<Shared> shared_;
    Mutex ownerMutex_;  // Stop against Stop
    DetachableThread thread_ SV_GUARDED_BY(ownerMutex_);
};

}  // namespace training
}  // namespace sv
