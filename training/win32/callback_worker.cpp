#include "training/win32/callback_worker.h"

#include <utility>

namespace sv {
namespace training {

CallbackWorker::CallbackWorker(size_t maxWaiting) : maxWaiting_(maxWaiting) {}

CallbackWorker::~CallbackWorker() { Stop(); }

void CallbackWorker::Start(std::function<void()> threadBegin, std::function<void()> threadEnd) {
    std::lock_guard<std::mutex> lock(stateMutex_);
    if (thread_.joinable()) return;
    // Fresh shared state each time: a thread let go by a Stop from inside a task may still
    // be finishing with the old one.
    auto shared = std::make_shared<Shared>();
    shared->running = true;
    shared->maxWaiting = maxWaiting_;
    thread_ = std::thread(&CallbackWorker::Run, shared, std::move(threadBegin), std::move(threadEnd));
    shared_ = std::move(shared);
}

bool CallbackWorker::Post(Task task) {
    std::shared_ptr<Shared> shared;
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        shared = shared_;
    }
    if (!shared) return false;
    {
        std::lock_guard<std::mutex> lock(shared->mutex);
        if (!shared->running || shared->queue.size() > shared->maxWaiting) return false;
        shared->queue.push_back(std::move(task));
    }
    shared->signal.notify_one();
    return true;
}

void CallbackWorker::Stop() {
    std::lock_guard<std::mutex> lock(stateMutex_);
    if (!thread_.joinable()) return;
    {
        std::lock_guard<std::mutex> queueLock(shared_->mutex);
        shared_->running = false;
        shared_->queue.clear();
    }
    shared_->signal.notify_all();
    if (thread_.get_id() == std::this_thread::get_id()) {
        thread_.detach();
    } else {
        thread_.join();
    }
    shared_.reset();
}

void CallbackWorker::Run(std::shared_ptr<Shared> shared, std::function<void()> threadBegin,
                         std::function<void()> threadEnd) {
    if (threadBegin) threadBegin();
    for (;;) {
        Task task;
        {
            std::unique_lock<std::mutex> lock(shared->mutex);
            shared->signal.wait(lock, [&] { return !shared->running || !shared->queue.empty(); });
            if (!shared->running) break;
            task = std::move(shared->queue.front());
            shared->queue.pop_front();
        }
        try {
            if (!task) throw std::bad_function_call();
            task();
        } catch (...) {
            // A failing callback costs only its own report.
        }
    }
    if (threadEnd) threadEnd();
}

}  // namespace training
}  // namespace sv
