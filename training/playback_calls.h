#pragma once
// Speech and audio jobs run in the surface on threads of their own, so that whoever waits
// for one (a request, or the "-done" report) is held only up to a time-out and lets go at
// once when the session ends or the agent shuts down, whatever the surface does.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "base/annotated_mutex.h"
#include "training/training_records.h"

namespace sv {
namespace training {

class PlaybackCalls {
public:
    using Job = std::function<SpeechOutcome()>;
    // Runs on the job's own thread with its outcome, before the job counts as ended.
    using Done = std::function<void(const SpeechOutcome&)>;

    // Errors of the outcomes made here rather than by the surface.
    static constexpr const char* kStopped = "stopped";
    static constexpr const char* kTimedOut = "timed out";
    static constexpr const char* kBusy = "earlier speech or audio is still playing — retry shortly";
    // Jobs still inside the surface beyond which new ones are refused with kBusy.
    static constexpr int32_t kMaxRunning = 8;

    // One started job; its fields are guarded by the calls' mutex.
    struct Pending {
        uint64_t generation = 0;
        std::optional<SpeechOutcome> outcome;
        bool refused = false;
    };

    // Starts one detached thread running its argument; throws when it cannot.
    using ThreadStarter = std::function<void(std::function<void()>)>;

    // startThread replaces the real thread start, so a failing start can be tested.
    explicit PlaybackCalls(int32_t maxRunning = kMaxRunning, ThreadStarter startThread = nullptr);
    PlaybackCalls(const PlaybackCalls&) = delete;
    PlaybackCalls& operator=(const PlaybackCalls&) = delete;

    // Runs job, then done, on a thread of its own. A job that throws reports the
    // exception's message as its error. Throws std::system_error when no thread can be
    // made; a job refused (busy, closed) runs neither, and one cancelled before its thread
    // reaches it (Stop, CancelAll, Close) is not run but reports kStopped.
    std::shared_ptr<Pending> Start(Job job, Done done = nullptr);
    // The outcome of a job that was refused at its start; nothing when it runs.
    std::optional<SpeechOutcome> Refusal(const std::shared_ptr<Pending>& pending);

    // The job's outcome; kStopped when the calls were cancelled since it started, kTimedOut
    // when budget passes first. The job itself runs on regardless and its outcome is dropped.
    SpeechOutcome Wait(const std::shared_ptr<Pending>& pending, std::chrono::milliseconds budget);

    // This job counts as stopped for its waiter (unless it already reported).
    void Stop(const std::shared_ptr<Pending>& pending);
    // Every job started so far counts as stopped for its waiter.
    void CancelAll();
    // CancelAll, and every later Start is stopped at once.
    void Close();

    // Jobs whose surface call has not returned yet.
    int32_t Running() const;
    // Waits up to budget for Running() to reach 0; false when it did not.
    bool WaitIdle(std::chrono::milliseconds budget);

    static SpeechOutcome Failed(const char* error);

private:
    struct State {
        Mutex mutex;
        CondVar changed;
        uint64_t generation SV_GUARDED_BY(mutex) = 0;
        bool closed SV_GUARDED_BY(mutex) = false;
        int32_t running SV_GUARDED_BY(mutex) = 0;
    };
    // Shared with the job threads, which may outlive this object.
    std::shared_ptr<State> state_;
    const int32_t maxRunning_;
    const ThreadStarter startThread_;
};

}  // namespace training
}  // namespace sv
