#include "training/serial_worker.h"

#include <thread>
#include <utility>

namespace sv {
namespace training {

SerialWorker::SerialWorker(size_t capacity) : capacity_(capacity) {}

SerialWorker::~SerialWorker() { Stop(); }

bool SerialWorker::Post(std::function<void()> task) {
    MutexLock lock(mutex_);
    if (stopped_ || queue_.size() >= capacity_) return false;
    if (!thread_.Joinable()) {
        try {
            thread_ = DetachableThread([this] { Run(); });
            running_ = true;
        } catch (...) {
            return false;
        }
    }
    queue_.push_back(std::move(task));
    wake_.NotifyOne();
    return true;
}

size_t SerialWorker::Backlog() {
    MutexLock lock(mutex_);
    return queue_.size();
}

void SerialWorker::Stop() { Close(false, nullptr); }

void SerialWorker::Finish() { Close(true, nullptr); }

bool SerialWorker::StopBy(std::chrono::steady_clock::time_point deadline) { return Close(false, &deadline); }

bool SerialWorker::FinishBy(std::chrono::steady_clock::time_point deadline) { return Close(true, &deadline); }

bool SerialWorker::Close(bool runWaiting, const std::chrono::steady_clock::time_point* deadline) {
    MutexLock once(stopMutex_);
    DetachableThread thread;
    {
        MutexLock lock(mutex_);
        stopped_ = true;
        if (!runWaiting) queue_.clear();
        wake_.NotifyAll();
        // A task stopping its own worker cannot wait for its own thread to leave; the join
        // below lets that thread go instead. Any other Stop waits until the thread is out
        // of Run, one let go earlier included, so the worker may be destroyed after it.
        if (thread_.Id() != std::this_thread::get_id()) {
            auto ended = [this]() SV_REQUIRES(mutex_) { return !running_; };
            if (!deadline) {
                ended_.Wait(lock, ended);
            } else if (!ended_.WaitUntil(lock, *deadline, ended)) {
                return false;
            }
        }
        thread = std::move(thread_);
    }
    thread.JoinUnlessSelf();
    return true;
}

void SerialWorker::Run() {
    for (;;) {
        std::function<void()> task;
        {
            MutexLock lock(mutex_);
            wake_.Wait(lock, [this]() SV_REQUIRES(mutex_) { return stopped_ || !queue_.empty(); });
            if (queue_.empty()) {  // stopped, and nothing left to run
                running_ = false;
                ended_.NotifyAll();
                return;
            }
            task = std::move(queue_.front());
            queue_.pop_front();
        }
        try {
            task();
        } catch (...) {
            // One failed report must not end the reports after it.
        }
    }
}

}  // namespace training
}  // namespace sv
