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
        std::lock_guard<std::mutex> lock(state->mutex);
        if (state->stopped) return false;
        ++state->running;
    }
    auto finish = [state] {
        std::lock_guard<std::mutex> lock(state->mutex);
        if (--state->running == 0) state->idle.notify_all();
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
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->stopped = true;
}

void WorkerGroup::Wait() {
    std::unique_lock<std::mutex> lock(state_->mutex);
    state_->idle.wait(lock, [this] { return state_->running == 0; });
}

bool WorkerGroup::WaitFor(std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> lock(state_->mutex);
    return state_->idle.wait_for(lock, limit, [this] { return state_->running == 0; });
}

bool WorkerGroup::Stopped() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->stopped;
}

int32_t WorkerGroup::Running() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->running;
}

}  // namespace sv
