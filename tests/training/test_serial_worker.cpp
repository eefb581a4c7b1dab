#include <gtest/gtest.h>

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

}  // namespace
