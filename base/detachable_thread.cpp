#include "base/detachable_thread.h"

#include <utility>

namespace sv {

void DetachableThread::Release::Set() {
    {
        MutexLock lock(mutex);
        done = true;
    }
    decided.NotifyAll();
}

void DetachableThread::Release::Wait() {
    MutexLock lock(mutex);
    decided.Wait(lock, [this]() SV_REQUIRES(mutex) { return done; });
}

DetachableThread::DetachableThread(std::function<void()> body) : release_(std::make_shared<Release>()) {
    thread_ = std::thread([body = std::move(body), release = release_]() mutable {
        // The body's captures go before the wait, as they would with std::thread.
        std::function<void()> run = std::move(body);
        run();
        run = nullptr;
        release->Wait();
    });
}

DetachableThread& DetachableThread::operator=(DetachableThread&& other) noexcept {
    if (this != &other) {
        if (thread_.joinable()) LetGo();
        release_ = std::move(other.release_);
        thread_ = std::move(other.thread_);
    }
    return *this;
}

DetachableThread::~DetachableThread() {
    if (thread_.joinable()) LetGo();
}

void DetachableThread::Join() {
    release_->Set();
    thread_.join();
}

void DetachableThread::LetGo() {
    thread_.detach();
    release_->Set();
}

void DetachableThread::JoinUnlessSelf() {
    if (!thread_.joinable()) return;
    if (thread_.get_id() == std::this_thread::get_id()) {
        LetGo();
    } else {
        Join();
    }
}

void StartDetachedThread(std::function<void()> body) { DetachableThread(std::move(body)).LetGo(); }

}  // namespace sv
