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

void SerialWorker::Stop() { Close(false); }

void SerialWorker::Finish() { Close(true); }

void SerialWorker::Close(bool runWaiting) {
    std::lock_guard<std::mutex> once(stopMutex_);
    std::thread thread;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopped_ = true;
        if (!runWaiting) queue_.clear();
        thread = std::move(thread_);
    }
    wake_.notify_all();
    if (thread.joinable()) {
        if (thread.get_id() == std::this_thread::get_id()) {
            thread.detach();  // a task stopping its own worker: Run ends after it returns
        } else {
            thread.join();
        }
    }
}

void SerialWorker::Run() {
    for (;;) {
        std::function<void()> task;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [this] { return stopped_ || !queue_.empty(); });
            if (queue_.empty()) return;  // stopped, and nothing left to run
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
