#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <stdexcept>
#include <thread>

#include "training/serial_worker.h"
#include "training_fakes.h"

namespace {

using sv_test::Latch;

TEST(SerialWorker, InOrderBoundedAndStoppedWithoutTheRest) {
    Latch first;
    Latch second;
    sv_test::CallLog ran;
    sv::training::SerialWorker w(2);
    ASSERT_TRUE(w.Post([&] { first.Hold(); ran.Add("a"); }));
    ASSERT_TRUE(first.WaitHeld());
    EXPECT_TRUE(w.Post([] { throw std::runtime_error("one bad task"); }));
    EXPECT_TRUE(w.Post([&] { ran.Add("b"); }));
    EXPECT_FALSE(w.Post([&] { ran.Add("over"); }));  // full: dropped, never blocks the caller
    first.Open();
    ASSERT_TRUE(ran.WaitFor("b"));

    ASSERT_TRUE(w.Post([&] { second.Hold(); ran.Add("c"); }));
    ASSERT_TRUE(second.WaitHeld());
    ASSERT_TRUE(w.Post([&] { ran.Add("dropped"); }));
    std::thread stopper([&] { w.Stop(); });
    ASSERT_TRUE(sv_test::WaitUntil([&] { return w.Backlog() == 0; }));  // only Stop empties it now
    second.Open();
    stopper.join();  // after the task in hand
    EXPECT_EQ(ran.Calls(), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_FALSE(w.Post([] {}));
}

TEST(SerialWorker, FinishRunsWhatIsWaitingAndThenTakesNoMore) {
    Latch first;
    sv_test::CallLog ran;
    sv::training::SerialWorker w(100000);  // never full here: a refusal means finished
    ASSERT_TRUE(w.Post([&] { first.Hold(); ran.Add("a"); }));
    ASSERT_TRUE(first.WaitHeld());
    ASSERT_TRUE(w.Post([&] { ran.Add("b"); }));
    std::thread finisher([&] { w.Finish(); });
    // Empty tasks posted before the finish began run too and leave no mark.
    ASSERT_TRUE(sv_test::WaitUntil([&] { return !w.Post([] {}); }));
    first.Open();
    finisher.join();
    EXPECT_EQ(ran.Calls(), (std::vector<std::string>{"a", "b"}));
}

// A task may stop its own worker (a report whose session ends). Every kind of stop then
// lets the thread go instead of waiting for itself, a deadline an hour away included; a
// Finish still runs what waits behind that task; and a stop from outside afterwards waits
// until the thread has left, so the worker may go.
TEST(SerialWorker, AStopFromItsOwnTaskLetsItsThreadGo) {
    using sv::training::SerialWorker;
    const auto later = std::chrono::steady_clock::now() + std::chrono::hours(1);
    struct Case {
        const char* name;
        std::function<bool(SerialWorker&)> stop;
        std::vector<std::string> ran;
    };
    const Case cases[] = {
        {"Stop", [](SerialWorker& w) { w.Stop(); return true; }, {"stop"}},
        {"Finish", [](SerialWorker& w) { w.Finish(); return true; }, {"stop", "after"}},
        {"StopBy", [later](SerialWorker& w) { return w.StopBy(later); }, {"stop"}},
        {"FinishBy", [later](SerialWorker& w) { return w.FinishBy(later); }, {"stop", "after"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Latch held;
        sv_test::CallLog ran;
        std::promise<bool> stopped;
        auto w = std::make_unique<SerialWorker>(10);
        SerialWorker* worker = w.get();
        ASSERT_TRUE(w->Post([&, worker] {
            held.Hold();
            stopped.set_value(c.stop(*worker));
            ran.Add("stop");
        }));
        ASSERT_TRUE(held.WaitHeld());
        ASSERT_TRUE(w->Post([&] { ran.Add("after"); }));
        held.Open();
        std::future<bool> result = stopped.get_future();
        if (result.wait_for(std::chrono::milliseconds(sv_test::kPatienceMs)) != std::future_status::ready) {
            ADD_FAILURE() << "the stop waited for its own thread";
            w.release();  // its thread is stuck inside it
            return;
        }
        EXPECT_TRUE(result.get());
        EXPECT_FALSE(w->Post([] {}));
        w->Finish();  // what the task's own stop left waiting is not dropped by this one
        EXPECT_EQ(ran.Calls(), c.ran);
    }
}

}  // namespace
