#include "base/worker_group.h"

#include "base/detachable_thread.h"

namespace sv {

WorkerGroup::WorkerGroup(ThreadStarter starter) : state_(std::make_shared<State>()), starter_(std::move(starter)) {}

WorkerGroup::~WorkerGroup() {
    Stop();
    Wait();
}

bool WorkerGroup::Start(std::function<void()> work) {
    std::shared_ptr<State> state = state_;
    {
        MutexLock lock(state->mutex);
        if (state->stopped) return false;
        ++state->running;
    }
    auto finish = [state] {
        MutexLock lock(state->mutex);
        if (--state->running == 0) state->idle.NotifyAll();
    };
    std::function<void()> body = [work = std::move(work), finish]() mutable {
        try {
            work();
        } catch (...) {
        }
        finish();
    };
    try {
        if (starter_) {
            starter_(std::move(body));
        } else {
            StartDetachedThread(std::move(body));
        }
    } catch (...) {
        // No thread (a connection flood, say): the piece is undone, never a crash.
        finish();
        return false;
    }
    return true;
}

void WorkerGroup::Stop() {
    MutexLock lock(state_->mutex);
    state_->stopped = true;
}

void WorkerGroup::Wait() {
    MutexLock lock(state_->mutex);
    state_->idle.Wait(lock, [this]() SV_REQUIRES(state_->mutex) { return state_->running == 0; });
}

bool WorkerGroup::WaitFor(std::chrono::milliseconds limit) {
    MutexLock lock(state_->mutex);
    return state_->idle.WaitFor(lock, limit, [this]() SV_REQUIRES(state_->mutex) { return state_->running == 0; });
}

bool WorkerGroup::Stopped() const {
    MutexLock lock(state_->mutex);
    return state_->stopped;
}

int32_t WorkerGroup::Running() const {
    MutexLock lock(state_->mutex);
    return state_->running;
}

}  // namespace sv
