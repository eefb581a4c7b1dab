#include "training/serial_worker.h"

#include <utility>

namespace sv {
namespace training {

SerialWorker::SerialWorker(size_t capacity) : capacity_(capacity) {}

SerialWorker::~SerialWorker() { Stop(); }

bool SerialWorker::Post(std::function<void()> task) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopped_ || queue_.size() >= capacity_) return false;
    if (!thread_.joinable()) {
        try {
            thread_ = std::thread([this] { Run(); });
            running_ = true;
        } catch (...) {
            return false;
        }
    }
    queue_.push_back(std::move(task));
    wake_.notify_one();
    return true;
}

size_t SerialWorker::Backlog() {
    std::lock_guard<std::mutex> lock(mutex_);
    return queue_.size();
}

void SerialWorker::Stop() { Close(false, nullptr); }

void SerialWorker::Finish() { Close(true, nullptr); }

bool SerialWorker::StopBy(std::chrono::steady_clock::time_point deadline) { return Close(false, &deadline); }

bool SerialWorker::FinishBy(std::chrono::steady_clock::time_point deadline) { return Close(true, &deadline); }

bool SerialWorker::Close(bool runWaiting, const std::chrono::steady_clock::time_point* deadline) {
    std::lock_guard<std::mutex> once(stopMutex_);
    std::thread thread;
    {
        std::unique_lock<std::mutex> lock(mutex_);
        stopped_ = true;
        if (!runWaiting) queue_.clear();
        wake_.notify_all();
        if (thread_.joinable() && thread_.get_id() == std::this_thread::get_id()) {
            thread_.detach();  // a task stopping its own worker: Run ends after it returns
            return true;
        }
        auto ended = [this] { return !running_; };
        if (deadline) {
            if (!ended_.wait_until(lock, *deadline, ended)) return false;
        } else {
            ended_.wait(lock, ended);
        }
        thread = std::move(thread_);
    }
    if (thread.joinable()) thread.join();
    return true;
}

void SerialWorker::Run() {
    for (;;) {
        std::function<void()> task;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [this] { return stopped_ || !queue_.empty(); });
            if (queue_.empty()) {  // stopped, and nothing left to run
                running_ = false;
                ended_.notify_all();
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
