#include "session/screen/stream_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <set>

#include "test_support.h"

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

// One thread for good: what a capture leaves with its thread's allocator stays in one
// place. A task posted while the body sleeps runs inside that sleep and the body goes on.
TEST(StreamThread, BodiesAndPostedTasksShareOneThreadAcrossStarts) {
    sv::StreamThread stream;
    std::mutex mutex;
    std::set<int> threads;
    std::atomic<int> bodies{0};
    std::atomic<int> tasks{0};
    auto note = [&] {
        std::lock_guard<std::mutex> lock(mutex);
        threads.insert(sv_test::ThreadSerial());
    };
    auto body = [&] {
        note();
        ++bodies;
        while (stream.Sleep(kHourNs)) {
        }
    };
    auto task = [&] {
        note();
        ++tasks;
    };
    for (int round = 1; round <= 3; ++round) {
        ASSERT_TRUE(stream.Start(body));
        ASSERT_TRUE(stream.Post(task));
        ASSERT_TRUE(sv_test::WaitUntil([&] { return tasks.load() == 2 * round - 1; }));
        EXPECT_TRUE(stream.Running());  // the task did not end the body
        stream.Stop();
        EXPECT_EQ(bodies.load(), round);
        ASSERT_TRUE(stream.Post(task));  // no body: it runs at once
        ASSERT_TRUE(sv_test::WaitUntil([&] { return tasks.load() == 2 * round; }));
    }
    std::lock_guard<std::mutex> lock(mutex);
    EXPECT_EQ(threads.size(), 1u);
    EXPECT_EQ(threads.count(sv_test::ThreadSerial()), 0u);
}

}  // namespace
