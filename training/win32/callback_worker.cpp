#include "training/win32/callback_worker.h"

#include <thread>
#include <utility>

namespace sv {
namespace training {

CallbackWorker::CallbackWorker(size_t maxWaiting) : maxWaiting_(maxWaiting) {}

CallbackWorker::~CallbackWorker() { Stop(); }

void CallbackWorker::Start(std::function<void()> threadBegin, std::function<void()> threadEnd) {
    std::lock_guard<std::mutex> lock(stateMutex_);
    if (thread_.Joinable()) return;
    // Fresh shared state each time: a thread let go by a Stop from inside a task may still
    // be finishing with the old one.
    auto shared = std::make_shared<Shared>();
    shared->running = true;
    shared->maxWaiting = maxWaiting_;
    thread_ = DetachableThread([shared, threadBegin = std::move(threadBegin), threadEnd = std::move(threadEnd)] {
        Run(shared, threadBegin, threadEnd);
    });
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

void CallbackWorker::Stop() { StopUpTo(std::nullopt); }

bool CallbackWorker::StopWithin(std::chrono::milliseconds limit) { return StopUpTo(limit); }

bool CallbackWorker::StopUpTo(std::optional<std::chrono::milliseconds> limit) {
    std::lock_guard<std::mutex> lock(stateMutex_);
    if (!thread_.Joinable()) return true;
    std::shared_ptr<Shared> shared = std::move(shared_);
    std::unique_lock<std::mutex> queueLock(shared->mutex);
    shared->running = false;
    shared->queue.clear();
    shared->signal.notify_all();
    bool joined = false;
    if (thread_.Id() != std::this_thread::get_id()) {
        joined = !limit || shared->signal.wait_for(queueLock, *limit, [&] { return shared->left; });
    }
    queueLock.unlock();
    if (joined) {
        thread_.Join();
    } else {
        thread_.LetGo();
    }
    return joined;
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
    std::lock_guard<std::mutex> lock(shared->mutex);
    shared->left = true;
    shared->signal.notify_all();
}

}  // namespace training
}  // namespace sv
