#include "training/win32/audio_worker.h"

#include <chrono>
#include <exception>
#include <future>
#include <memory>
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
        std::function<void()> job = std::move(queue_.front());
        queue_.pop_front();
        lock.unlock();
        job();
        job = nullptr;
        lock.lock();
    }
    lock.unlock();
    if (threadEnd_) threadEnd_();
}

SpeechOutcome AudioWorker::Run(Job job, uint32_t timeoutMs) {
    auto promise = std::make_shared<std::promise<SpeechOutcome>>();
    std::future<SpeechOutcome> result = promise->get_future();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const int32_t generation = counter_.load();
        if (stop_) return StoppedOutcome();
        queue_.push_back([this, promise, generation, job = std::move(job)] {
            SpeechOutcome outcome;
            if (counter_.load() != generation) {
                outcome = StoppedOutcome();
            } else {
                try {
                    outcome = job(counter_, generation);
                } catch (const std::exception& e) {
                    outcome = SpeechOutcome();
                    outcome.error = e.what();
                } catch (...) {
                    outcome = SpeechOutcome();
                    outcome.error = "playback failed";
                }
            }
            promise->set_value(std::move(outcome));
        });
    }
    signal_.notify_one();
    const auto limit = std::chrono::milliseconds(static_cast<int64_t>(timeoutMs) + slackMs_);
    if (result.wait_for(limit) == std::future_status::ready) return result.get();
    Cancel();
    SpeechOutcome timedOut;
    timedOut.error = "timed out";
    return timedOut;
}

void AudioWorker::Cancel() {
    std::lock_guard<std::mutex> lock(mutex_);
    counter_.fetch_add(1);
}

void AudioWorker::Stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
        counter_.fetch_add(1);
    }
    signal_.notify_all();
    if (thread_.joinable()) thread_.join();
}

}  // namespace training
}  // namespace sv
