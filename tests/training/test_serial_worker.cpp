#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "training/serial_worker.h"
#include "training_fakes.h"

namespace {

using sv::training::SerialWorker;

// A task that holds the worker until the test lets it go.
struct Latch {
    std::mutex m;
    std::condition_variable cv;
    bool entered = false;
    bool open = false;
    void Hold() {
        std::unique_lock<std::mutex> lock(m);
        entered = true;
        cv.notify_all();
        cv.wait(lock, [this] { return open; });
    }
    void WaitEntered() {
        std::unique_lock<std::mutex> lock(m);
        cv.wait(lock, [this] { return entered; });
    }
    void Open() {
        std::lock_guard<std::mutex> lock(m);
        open = true;
        cv.notify_all();
    }
};

TEST(SerialWorker, RunsInOrderWithinItsBound) {
    Latch latch;
    sv_test::CallLog ran;
    SerialWorker w(2);
    ASSERT_TRUE(w.Post([&] {
        latch.Hold();
        ran.Add("held");
    }));
    latch.WaitEntered();
    EXPECT_TRUE(w.Post([] { throw std::runtime_error("one bad report"); }));
    EXPECT_TRUE(w.Post([&] { ran.Add("b"); }));
    EXPECT_EQ(w.Backlog(), 2u);
    EXPECT_FALSE(w.Post([&] { ran.Add("over"); }));  // full: dropped, never blocks the caller
    latch.Open();
    ASSERT_TRUE(ran.WaitFor("b"));
    ASSERT_TRUE(w.Post([&] { ran.Add("c"); }));
    ASSERT_TRUE(ran.WaitFor("c"));
    EXPECT_EQ(ran.Calls(), (std::vector<std::string>{"held", "b", "c"}));
}

TEST(SerialWorker, StopDropsWhatWaitsAndJoins) {
    Latch latch;
    bool held = false;
    bool later = false;
    SerialWorker w(8);
    ASSERT_TRUE(w.Post([&] {
        latch.Hold();
        held = true;
    }));
    latch.WaitEntered();
    ASSERT_TRUE(w.Post([&] { later = true; }));
    std::thread stopper([&] { w.Stop(); });
    ASSERT_TRUE(sv_test::WaitUntil([&] { return w.Backlog() == 0; }));  // only Stop empties it
    latch.Open();
    stopper.join();  // returns once the task in hand is done
    EXPECT_TRUE(held);
    EXPECT_FALSE(later);
    EXPECT_FALSE(w.Post([] {}));
    SerialWorker idle(1);
    idle.Stop();  // never started: nothing to join
}

}  // namespace
