#include "base/worker_group.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <system_error>

namespace {

// Holds every piece until released, so the test sees them all running at once.
struct Gate {
    std::mutex mutex;
    std::condition_variable cv;
    bool open = false;
    int arrived = 0;
    void Arrive() {
        std::unique_lock<std::mutex> lock(mutex);
        ++arrived;
        cv.notify_all();
        cv.wait(lock, [this] { return open; });
    }
    void WaitArrivals(int n) {
        std::unique_lock<std::mutex> lock(mutex);
        cv.wait(lock, [&] { return arrived >= n; });
    }
    void Open() {
        std::lock_guard<std::mutex> lock(mutex);
        open = true;
        cv.notify_all();
    }
};

TEST(WorkerGroup, WaitReturnsOnlyAfterEveryPieceHasReturned) {
    sv::WorkerGroup group;
    Gate gate;
    std::atomic<int> finished{0};
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(group.Start([&] {
            gate.Arrive();
            if (finished.fetch_add(1) == 0) throw std::runtime_error("one piece fails");
        }));
    }
    gate.WaitArrivals(5);
    EXPECT_EQ(group.Running(), 5);
    gate.Open();
    group.Wait();
    EXPECT_EQ(finished.load(), 5);  // a throwing piece still counts as returned
    EXPECT_EQ(group.Running(), 0);
}

TEST(WorkerGroup, StoppedGroupRefusesNewWorkButKeepsRunningPieces) {
    sv::WorkerGroup group;
    Gate gate;
    ASSERT_TRUE(group.Start([&] { gate.Arrive(); }));
    gate.WaitArrivals(1);
    group.Stop();
    bool ran = false;
    EXPECT_FALSE(group.Start([&] { ran = true; }));
    EXPECT_TRUE(group.Stopped());
    EXPECT_EQ(group.Running(), 1);
    gate.Open();
    group.Wait();
    EXPECT_FALSE(ran);
}

}  // namespace

TEST(WorkerGroup, AThreadThatCannotStartIsUndoneNotFatal) {
    bool ran = false;
    sv::WorkerGroup group([](std::function<void()>) {
        throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
    });
    EXPECT_FALSE(group.Start([&] { ran = true; }));
    EXPECT_FALSE(ran);
    EXPECT_EQ(group.Running(), 0);
    EXPECT_TRUE(group.WaitFor(std::chrono::milliseconds(0)));
}
