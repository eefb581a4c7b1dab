#include "training/win32/audio_worker.h"

#include <chrono>
#include <exception>
#include <future>
#include <utility>

namespace sv {
namespace training {

AudioWorker::AudioWorker(std::function<void()> threadStart, std::function<void()> threadEnd, AudioLimits limits)
    : limits_(limits), shared_(std::make_shared<Shared>()) {
    thread_ = DetachableThread([shared = shared_, threadStart = std::move(threadStart),
                                threadEnd = std::move(threadEnd)] { Main(shared, threadStart, threadEnd); });
}

AudioWorker::~AudioWorker() { Stop(); }

void AudioWorker::Main(std::shared_ptr<Shared> shared, std::function<void()> threadStart,
                       std::function<void()> threadEnd) {
    if (threadStart) threadStart();
    Shared* s = shared.get();
    MutexLock lock(s->mutex);
    for (;;) {
        s->signal.Wait(lock, [s]() SV_REQUIRES(s->mutex) { return s->stop || !s->queue.empty(); });
        if (s->queue.empty()) break;  // stopping, and every queued job has run
        Entry entry = std::move(s->queue.front());
        s->queue.pop_front();
        s->playing = entry.token;
        lock.Unlock();
        entry.run();
        entry.run = nullptr;
        lock.Lock();
        s->playing.reset();
    }
    lock.Unlock();
    if (threadEnd) threadEnd();
    lock.Lock();
    s->left = true;
    s->leaving.NotifyAll();
}

SpeechOutcome AudioWorker::Run(Job job, uint32_t timeoutMs, const std::string& session) {
    auto promise = std::make_shared<std::promise<SpeechOutcome>>();
    std::future<SpeechOutcome> result = promise->get_future();
    // Each job has its own counter, so one waiter's time-out abandons its own job only.
    Token token = std::make_shared<std::atomic<int32_t>>(0);
    {
        MutexLock lock(shared_->mutex);
        // Decided under the same lock as the end's cancel: a job is either queued before
        // the end (and stopped by it) or never.
        if (shared_->stop || (!session.empty() && session != shared_->session)) return StoppedOutcome();
        // The job runs on the worker thread, which keeps the shared state alive.
        Shared* shared = shared_.get();
        shared_->queue.push_back({token, [promise, token, shared, job = std::move(job)] {
                                      const StartGuard guard = [shared, token](const std::function<void()>& start) {
                                          std::lock_guard<std::timed_mutex> starting(shared->startMutex);
                                          if (token->load() != 0) return false;
                                          start();
                                          return true;
                                      };
                                      SpeechOutcome outcome;
                                      if (token->load() != 0) {
                                          outcome = StoppedOutcome();
                                      } else {
                                          try {
                                              outcome = job(*token, 0, guard);
                                          } catch (const std::exception& e) {
                                              outcome = SpeechOutcome();
                                              outcome.error = e.what();
                                          } catch (...) {
                                              outcome = SpeechOutcome();
                                              outcome.error = "playback failed";
                                          }
                                      }
                                      promise->set_value(std::move(outcome));
                                  }});
    }
    shared_->signal.NotifyOne();
    const auto limit = std::chrono::milliseconds(static_cast<int64_t>(timeoutMs) + limits_.slackMs);
    if (result.wait_for(limit) == std::future_status::ready) return result.get();
    CancelJobs(token, nullptr);
    SpeechOutcome timedOut;
    timedOut.error = "timed out";
    return timedOut;
}

void AudioWorker::CancelJobs(const Token& only, const std::function<void(Shared&)>& change) {
    // A job between its last check and its start call holds this lock: once it is ours the
    // sound has started (the job's next poll stops it) or never will. A start call that
    // does not return is not waited for past the bound.
    std::unique_lock<std::timed_mutex> starting(shared_->startMutex, std::defer_lock);
    (void)starting.try_lock_for(std::chrono::milliseconds(limits_.startWaitMs));
    MutexLock lock(shared_->mutex);
    if (change) change(*shared_);
    if (only) {
        only->fetch_add(1);
        return;
    }
    for (Entry& e : shared_->queue) e.token->fetch_add(1);
    if (shared_->playing) shared_->playing->fetch_add(1);
}

void AudioWorker::BeginSession(const std::string& session) {
    MutexLock lock(shared_->mutex);
    shared_->session = session;
}

void AudioWorker::EndSession() {
    CancelJobs(nullptr, [](Shared& s) SV_REQUIRES(s.mutex) { s.session.clear(); });
}

void AudioWorker::Cancel() { CancelJobs(nullptr, nullptr); }

bool AudioWorker::Stop() {
    MutexLock owner(ownerMutex_);
    if (!thread_.Joinable()) return true;
    CancelJobs(nullptr, [](Shared& s) SV_REQUIRES(s.mutex) { s.stop = true; });
    shared_->signal.NotifyAll();
    bool left = false;
    {
        Shared* s = shared_.get();
        MutexLock lock(s->mutex);
        left = s->leaving.WaitFor(lock, std::chrono::milliseconds(limits_.stopWaitMs),
                                  [s]() SV_REQUIRES(s->mutex) { return s->left; });
    }
    if (left) {
        thread_.Join();
    } else {
        thread_.LetGo();
    }
    return left;
}

}  // namespace training
}  // namespace sv
