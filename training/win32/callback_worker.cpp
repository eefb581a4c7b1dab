#include "training/win32/callback_worker.h"

#include <thread>
#include <utility>

namespace sv {
namespace training {

CallbackWorker::CallbackWorker(size_t maxWaiting) : maxWaiting_(maxWaiting) {}

CallbackWorker::~CallbackWorker() { Stop(); }

void CallbackWorker::Start(std::function<void()> threadBegin, std::function<void()> threadEnd) {
    MutexLock lock(stateMutex_);
    if (thread_.Joinable()) return;
    // Fresh shared state each time: a thread let go by a Stop from inside a task may still
    // be finishing with the old one.
    auto shared = std::make_shared<Shared>();
    {
        MutexLock sharedLock(shared->mutex);
        shared->running = true;
    }
    shared->maxWaiting = maxWaiting_;
    thread_ = DetachableThread([shared, threadBegin = std::move(threadBegin), threadEnd = std::move(threadEnd)] {
        Run(shared, threadBegin, threadEnd);
    });
    shared_ = std::move(shared);
}

bool CallbackWorker::Post(Task task) {
    std::shared_ptr<Shared> shared;
    {
        MutexLock lock(stateMutex_);
        shared = shared_;
    }
    if (!shared) return false;
    {
        MutexLock lock(shared->mutex);
        if (!shared->running || shared->queue.size() > shared->maxWaiting) return false;
        shared->queue.push_back(std::move(task));
    }
    shared->signal.NotifyOne();
    return true;
}

void CallbackWorker::Stop() { StopUpTo(std::nullopt); }

bool CallbackWorker::StopWithin(std::chrono::milliseconds limit) { return StopUpTo(limit); }

bool CallbackWorker::StopUpTo(std::optional<std::chrono::milliseconds> limit) {
    MutexLock lock(stateMutex_);
    if (!thread_.Joinable()) return true;
    // A task stopping its own worker cannot wait for its own thread to leave; the join
    // below lets that thread go instead.
    const bool fromTask = thread_.Id() == std::this_thread::get_id();
    std::shared_ptr<Shared> shared = std::move(shared_);
    bool left = true;
    {
        MutexLock queueLock(shared->mutex);
        shared->running = false;
        shared->queue.clear();
        shared->signal.NotifyAll();
        if (limit && !fromTask) {
            Shared* s = shared.get();
            left = s->signal.WaitFor(queueLock, *limit, [s]() SV_REQUIRES(s->mutex) { return s->left; });
        }
    }
    if (!left) {
        thread_.LetGo();
        return false;
    }
    thread_.JoinUnlessSelf();
    return !fromTask;
}

void CallbackWorker::Run(std::shared_ptr<Shared> shared, std::function<void()> threadBegin,
                         std::function<void()> threadEnd) {
    if (threadBegin) threadBegin();
    Shared* s = shared.get();
    for (;;) {
        Task task;
        {
            MutexLock lock(s->mutex);
            s->signal.Wait(lock, [s]() SV_REQUIRES(s->mutex) { return !s->running || !s->queue.empty(); });
            if (!s->running) break;
            task = std::move(s->queue.front());
            s->queue.pop_front();
        }
        try {
            if (!task) throw std::bad_function_call();
            task();
        } catch (...) {
            // A failing callback costs only its own report.
        }
    }
    if (threadEnd) threadEnd();
    MutexLock lock(s->mutex);
    s->left = true;
    s->signal.NotifyAll();
}

}  // namespace training
}  // namespace sv
