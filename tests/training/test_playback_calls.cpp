#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>

#include "training/playback_calls.h"

namespace {

using namespace sv::training;
using std::chrono::milliseconds;

// A gate a job waits at until the test opens it; counts the jobs that have returned.
struct Latch {
    std::mutex m;
    std::condition_variable cv;
    bool open = false;
    int inside = 0;
    int left = 0;
    PlaybackCalls::Job Job(SpeechOutcome out) {
        return [this, out] {
            std::unique_lock<std::mutex> lock(m);
            ++inside;
            cv.notify_all();
            cv.wait_for(lock, std::chrono::seconds(10), [this] { return open; });
            ++left;
            cv.notify_all();
            return out;
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

SpeechOutcome Played(int ms) {
    SpeechOutcome o;
    o.played = true;
    o.voice = "V";
    o.durationMs = ms;
    return o;
}

TEST(PlaybackCalls, OutcomesOfJobsThatReturnOrThrow) {
    PlaybackCalls calls;
    SpeechOutcome o = calls.Wait(calls.Start([] { return Played(1200); }), milliseconds(5000));
    EXPECT_TRUE(o.played);
    EXPECT_EQ(o.durationMs, 1200);
    EXPECT_EQ(o.error, "");
    o = calls.Wait(calls.Start([]() -> SpeechOutcome { throw std::runtime_error("SAPI is not available"); }),
                   milliseconds(5000));
    EXPECT_FALSE(o.played);
    EXPECT_EQ(o.error, "SAPI is not available");
    EXPECT_TRUE(calls.WaitIdle(milliseconds(5000)));
}

TEST(PlaybackCalls, AWaiterLetsGoAtItsTimeOutOrWhenCancelled) {
    Latch latch;
    PlaybackCalls calls;
    auto first = calls.Start(latch.Job(Played(1)));
    EXPECT_EQ(calls.Wait(first, milliseconds(0)).error, PlaybackCalls::kTimedOut);
    ASSERT_TRUE(latch.WaitInside(1));
    EXPECT_EQ(calls.Running(), 1);

    auto second = calls.Start(latch.Job(Played(2)));
    calls.Stop(second);
    EXPECT_EQ(calls.Wait(second, milliseconds(5000)).error, PlaybackCalls::kStopped);

    // A cancel reaches every job started before it, not the ones after.
    calls.CancelAll();
    EXPECT_EQ(calls.Wait(first, milliseconds(5000)).error, PlaybackCalls::kStopped);
    auto third = calls.Start(latch.Job(Played(3)));
    EXPECT_FALSE(calls.WaitIdle(milliseconds(0)));
    latch.Open();
    EXPECT_EQ(calls.Wait(third, milliseconds(5000)).durationMs, 3);
    EXPECT_TRUE(calls.WaitIdle(milliseconds(5000)));
    EXPECT_EQ(calls.Running(), 0);
}

TEST(PlaybackCalls, ABusyOrClosedSetRefusesNewJobsAtOnce) {
    Latch latch;
    PlaybackCalls calls(2);
    calls.Start(latch.Job(Played(1)));
    calls.Start(latch.Job(Played(2)));
    ASSERT_TRUE(latch.WaitInside(2));
    bool ran = false;
    auto refused = calls.Start([&] {
        ran = true;
        return Played(3);
    });
    EXPECT_EQ(calls.Wait(refused, milliseconds(5000)).error, PlaybackCalls::kBusy);

    auto waiting = calls.Start(latch.Job(Played(4)));  // still busy: refused too
    calls.Close();
    auto late = calls.Start([&] {
        ran = true;
        return Played(5);
    });
    EXPECT_EQ(calls.Wait(late, milliseconds(5000)).error, PlaybackCalls::kStopped);
    latch.Open();
    EXPECT_TRUE(calls.WaitIdle(milliseconds(5000)));
    EXPECT_FALSE(ran);
    EXPECT_EQ(calls.Wait(waiting, milliseconds(0)).error, PlaybackCalls::kBusy);
}

}  // namespace
