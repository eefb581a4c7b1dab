#include "training/playback_calls.h"

#include <exception>
#include <utility>

#include "base/detachable_thread.h"

namespace sv {
namespace training {

PlaybackCalls::PlaybackCalls(int32_t maxRunning, ThreadStarter startThread)
    : state_(std::make_shared<State>()),
      maxRunning_(maxRunning),
      startThread_(startThread ? std::move(startThread)
                               : ThreadStarter(StartDetachedThread)) {}

SpeechOutcome PlaybackCalls::Failed(const char* error) {
    SpeechOutcome o;
    o.error = error;
    return o;
}

std::shared_ptr<PlaybackCalls::Pending> PlaybackCalls::Start(Job job, Done done) {
    auto pending = std::make_shared<Pending>();
    std::shared_ptr<State> state = state_;
    {
        MutexLock lock(state->mutex);
        pending->generation = state->generation;
        if (state->closed || state->running >= maxRunning_) {
            pending->outcome = Failed(state->closed ? kStopped : kBusy);
            pending->refused = true;
            return pending;
        }
        ++state->running;
    }
    try {
        startThread_([state, pending, job = std::move(job), done = std::move(done)] {
            // The last look at the cancellation before the sound starts, under the lock the
            // cancel takes: a job cancelled by an end that has returned never starts. (The
            // surface refuses a sound of a session it no longer shows, which covers the
            // moment between this look and its start.)
            bool cancelled = false;
            {
                MutexLock lock(state->mutex);
                cancelled = pending->outcome.has_value() || pending->generation != state->generation;
            }
            SpeechOutcome outcome;
            try {
                outcome = cancelled ? Failed(kStopped) : job();
            } catch (const std::exception& e) {
                outcome = SpeechOutcome();
                outcome.error = e.what();
            } catch (...) {
                outcome = Failed("playback failed");
            }
            {
                MutexLock lock(state->mutex);
                if (!pending->outcome) pending->outcome = outcome;
            }
            state->changed.NotifyAll();
            if (done) {
                try {
                    done(outcome);
                } catch (...) {
                    // The report is lost; the job is over all the same.
                }
            }
            MutexLock lock(state->mutex);
            --state->running;
            state->changed.NotifyAll();
        });
    } catch (...) {
        MutexLock lock(state->mutex);
        --state->running;
        state->changed.NotifyAll();
        throw;
    }
    return pending;
}

std::optional<SpeechOutcome> PlaybackCalls::Refusal(const std::shared_ptr<Pending>& pending) {
    MutexLock lock(state_->mutex);
    if (!pending->refused) return std::nullopt;
    return pending->outcome;
}

SpeechOutcome PlaybackCalls::Wait(const std::shared_ptr<Pending>& pending, std::chrono::milliseconds budget) {
    MutexLock lock(state_->mutex);
    State* state = state_.get();
    auto settled = [&pending, state]() SV_REQUIRES(state->mutex) {
        return pending->outcome.has_value() || pending->generation != state->generation;
    };
    state->changed.WaitFor(lock, budget, settled);
    if (pending->outcome) return *pending->outcome;
    if (pending->generation != state_->generation) return Failed(kStopped);
    return Failed(kTimedOut);
}

void PlaybackCalls::Stop(const std::shared_ptr<Pending>& pending) {
    MutexLock lock(state_->mutex);
    if (!pending->outcome) pending->outcome = Failed(kStopped);
    state_->changed.NotifyAll();
}

void PlaybackCalls::CancelAll() {
    MutexLock lock(state_->mutex);
    ++state_->generation;
    state_->changed.NotifyAll();
}

void PlaybackCalls::Close() {
    MutexLock lock(state_->mutex);
    state_->closed = true;
    ++state_->generation;
    state_->changed.NotifyAll();
}

int32_t PlaybackCalls::Running() const {
    MutexLock lock(state_->mutex);
    return state_->running;
}

bool PlaybackCalls::WaitIdle(std::chrono::milliseconds budget) {
    MutexLock lock(state_->mutex);
    State* state = state_.get();
    return state->changed.WaitFor(lock, budget, [state]() SV_REQUIRES(state->mutex) { return state->running <= 0; });
}

}  // namespace training
}  // namespace sv
