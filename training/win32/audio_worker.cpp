#include "training/win32/audio_worker.h"

#include <chrono>
#include <exception>
#include <future>
#include <utility>

#include "training/win32/playback_jobs.h"

namespace sv {
namespace training {

AudioWorker::AudioWorker(std::function<void()> threadStart, std::function<void()> threadEnd, uint32_t slackMs)
    : threadStart_(std::move(threadStart)), threadEnd_(std::move(threadEnd)), slackMs_(slackMs) {
    thread_ = std::thread([this] { Main(); });
}

AudioWorker::~AudioWorker() { Stop(); }

void AudioWorker::Main() {
    if (threadStart_) threadStart_();
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        signal_.wait(lock, [this] { return stop_ || !queue_.empty(); });
        if (queue_.empty()) break;  // stopping, and every queued job has run
        Entry entry = std::move(queue_.front());
        queue_.pop_front();
        playing_ = entry.token;
        lock.unlock();
        entry.run();
        entry.run = nullptr;
        lock.lock();
        playing_.reset();
    }
    lock.unlock();
    if (threadEnd_) threadEnd_();
}

SpeechOutcome AudioWorker::Run(Job job, uint32_t timeoutMs, const std::string& session) {
    auto promise = std::make_shared<std::promise<SpeechOutcome>>();
    std::future<SpeechOutcome> result = promise->get_future();
    // Each job has its own counter, so one waiter's time-out abandons its own job only.
    Token token = std::make_shared<std::atomic<int32_t>>(0);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        // Decided under the same lock as the end's cancel: a job is either queued before
        // the end (and stopped by it) or never.
        if (stop_ || (!session.empty() && session != session_)) return StoppedOutcome();
        queue_.push_back({token, [promise, token, job = std::move(job)] {
                              SpeechOutcome outcome;
                              if (token->load() != 0) {
                                  outcome = StoppedOutcome();
                              } else {
                                  try {
                                      outcome = job(*token, 0);
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
    signal_.notify_one();
    const auto limit = std::chrono::milliseconds(static_cast<int64_t>(timeoutMs) + slackMs_);
    if (result.wait_for(limit) == std::future_status::ready) return result.get();
    token->fetch_add(1);
    SpeechOutcome timedOut;
    timedOut.error = "timed out";
    return timedOut;
}

void AudioWorker::CancelLocked() {
    for (Entry& e : queue_) e.token->fetch_add(1);
    if (playing_) playing_->fetch_add(1);
}

void AudioWorker::BeginSession(const std::string& session) {
    std::lock_guard<std::mutex> lock(mutex_);
    session_ = session;
}

void AudioWorker::EndSession() {
    std::lock_guard<std::mutex> lock(mutex_);
    session_.clear();
    CancelLocked();
}

void AudioWorker::Cancel() {
    std::lock_guard<std::mutex> lock(mutex_);
    CancelLocked();
}

void AudioWorker::Stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
        CancelLocked();
    }
    signal_.notify_all();
    if (thread_.joinable()) thread_.join();
}

}  // namespace training
}  // namespace sv
