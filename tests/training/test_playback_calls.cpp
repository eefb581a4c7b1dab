#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <system_error>

#include "training/playback_calls.h"

namespace {

using namespace sv::training;
using std::chrono::milliseconds;

// Jobs that stay inside until the test opens the gate.
struct Gate {
    std::mutex m;
    std::condition_variable cv;
    bool open = false;
    int inside = 0;
    PlaybackCalls::Job Job(int ms) {
        return [this, ms] {
            std::unique_lock<std::mutex> lock(m);
            ++inside;
            cv.notify_all();
            cv.wait_for(lock, std::chrono::seconds(10), [this] { return open; });
            SpeechOutcome o;
            o.played = true;
            o.durationMs = ms;
            return o;
        };
    }
    void Open() {
        std::lock_guard<std::mutex> lock(m);
        open = true;
        cv.notify_all();
    }
    bool WaitInside(int n) {
        std::unique_lock<std::mutex> lock(m);
        return cv.wait_for(lock, std::chrono::seconds(5), [&] { return inside >= n; });
    }
};

TEST(PlaybackCalls, WaitersGetTheOutcomeOrLetGoAtTheTimeOutOrWhenCancelled) {
    Gate gate;
    PlaybackCalls calls;
    auto thrown = calls.Start([]() -> SpeechOutcome { throw std::runtime_error("SAPI is not available"); });
    EXPECT_EQ(calls.Wait(thrown, milliseconds(5000)).error, "SAPI is not available");

    auto first = calls.Start(gate.Job(1));
    EXPECT_EQ(calls.Wait(first, milliseconds(0)).error, PlaybackCalls::kTimedOut);
    auto second = calls.Start(gate.Job(2));
    ASSERT_TRUE(gate.WaitInside(2));
    calls.Stop(second);
    EXPECT_EQ(calls.Wait(second, milliseconds(5000)).error, PlaybackCalls::kStopped);
    // A cancel reaches the jobs started before it, not the ones after.
    calls.CancelAll();
    auto third = calls.Start(gate.Job(3));
    EXPECT_EQ(calls.Wait(first, milliseconds(5000)).error, PlaybackCalls::kStopped);
    EXPECT_FALSE(calls.WaitIdle(milliseconds(0)));
    gate.Open();
    SpeechOutcome o = calls.Wait(third, milliseconds(5000));
    EXPECT_TRUE(o.played);
    EXPECT_EQ(o.durationMs, 3);
    EXPECT_TRUE(calls.WaitIdle(milliseconds(5000)));
}

TEST(PlaybackCalls, ABusyOrClosedSetRefusesNewJobsWithoutRunningThem) {
    Gate gate;
    PlaybackCalls calls(1);
    calls.Start(gate.Job(1));
    ASSERT_TRUE(gate.WaitInside(1));
    bool ran = false;
    auto job = [&] {
        ran = true;
        return SpeechOutcome();
    };
    EXPECT_EQ(calls.Wait(calls.Start(job), milliseconds(5000)).error, PlaybackCalls::kBusy);
    gate.Open();
    ASSERT_TRUE(calls.WaitIdle(milliseconds(5000)));
    calls.Close();
    EXPECT_EQ(calls.Wait(calls.Start(job), milliseconds(5000)).error, PlaybackCalls::kStopped);
    EXPECT_FALSE(ran);
}

TEST(PlaybackCalls, TheJobsOwnThreadReportsItAndAFailedStartRunsNothing) {
    PlaybackCalls calls;
    std::mutex m;
    std::condition_variable cv;
    std::optional<SpeechOutcome> reported;
    auto pending = calls.Start(
        [] {
            SpeechOutcome o;
            o.durationMs = 7;
            return o;
        },
        [&](const SpeechOutcome& o) {
            std::lock_guard<std::mutex> lock(m);
            reported = o;
            cv.notify_all();
        });
    EXPECT_FALSE(calls.Refusal(pending));
    {
        std::unique_lock<std::mutex> lock(m);
        ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(5), [&] { return reported.has_value(); }));
    }
    EXPECT_EQ(reported->durationMs, 7);
    EXPECT_TRUE(calls.WaitIdle(milliseconds(5000)));

    PlaybackCalls noThread(PlaybackCalls::kMaxRunning,
                           [](std::function<void()>) { throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again)); });
    bool ran = false;
    EXPECT_THROW(noThread.Start([&] { ran = true; return SpeechOutcome(); }, [&](const SpeechOutcome&) { ran = true; }),
                 std::system_error);
    EXPECT_FALSE(ran);
    EXPECT_EQ(noThread.Running(), 0);
}

}  // namespace
