#include "session/screen/stream_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>

namespace {

constexpr int64_t kHourNs = 3600LL * 1000 * 1000 * 1000;

TEST(StreamThread, ReconcileFollowsTheLatestWishAndStopEndsTheSleepAtOnce) {
    sv::StreamThread stream;
    std::atomic<int> bodies{0};
    // The body sleeps for an hour: only a stop that wakes it lets the join return.
    auto body = [&] {
        ++bodies;
        while (stream.Sleep(kHourNs)) {
        }
    };
    const bool wishes[] = {true, true, false, false, true, false};
    int starts = 0;
    bool before = false;
    for (bool wanted : wishes) {
        stream.Reconcile([wanted] { return wanted; }, body);
        EXPECT_EQ(stream.Running(), wanted);
        starts += (wanted && !before) ? 1 : 0;
        before = wanted;
    }
    EXPECT_EQ(bodies.load(), starts);  // a running thread is never started twice
}

TEST(StreamThread, AStartThatIsNotAllowedStartsNothing) {
    sv::StreamThread stream;
    EXPECT_FALSE(stream.Start([] {}, false));
    EXPECT_FALSE(stream.Running());
    std::atomic<bool> ran{false};
    EXPECT_TRUE(stream.Start([&] {
        ran = true;
        while (stream.Sleep(kHourNs)) {
        }
    }));
    stream.ClearRunning();  // a stop request from any thread: the sleep ends, no join here
    stream.Stop();
    EXPECT_TRUE(ran.load());
    EXPECT_FALSE(stream.Running());
}

}  // namespace
