#include "app/stop_request.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <string>

#include "test_support.h"

namespace {

using sv::StopCause;

constexpr std::chrono::hours kForever{1};

TEST(StopRequest, EachCauseStopsOnceAndHoldsOnlyWhereWindowsEndsTheProcess) {
    const struct {
        StopCause cause;
        const char* what;
        bool holds;
    } cases[] = {
        {StopCause::kCtrlC, "Ctrl+C in the console", false},
        {StopCause::kCtrlBreak, "Ctrl+Break in the console", false},
        {StopCause::kConsoleClosed, "the console window was closed", true},
        {StopCause::kLogoff, "the user is signing out", true},
        {StopCause::kShutdown, "Windows is shutting down", true},
    };
    for (const auto& c : cases) {
        std::string lines;
        std::atomic<int> stops{0};
        sv::StopRequest request([&lines](const std::string& line) { lines += line + "\n"; }, kForever);
        request.Attach([&stops] { ++stops; });
        // A hold that should not be there waits out the hour: the test never ends.
        auto signal = std::async(std::launch::async, [&] { request.OnSignal(c.cause); });
        ASSERT_TRUE(sv_test::WaitUntil([&] { return stops.load() == 1; })) << c.what;
        if (c.holds) {
            // Correct code never returns before the run has ended, however long this waits.
            EXPECT_EQ(signal.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout) << c.what;
            request.RunEnded();
        }
        signal.get();
        request.OnSignal(c.cause);  // a second press asks nothing more, and holds no longer
        EXPECT_EQ(stops.load(), 1) << c.what;
        EXPECT_EQ(lines, std::string(c.what) + ": the host ends its session and closes its connections\n");
    }
}

TEST(StopRequest, AHoldEndsAtItsBoundAndAnEarlyStopReachesWhatIsAttachedLater) {
    std::atomic<int> stops{0};
    sv::StopRequest request(nullptr, std::chrono::milliseconds(20));
    request.OnSignal(StopCause::kConsoleClosed);  // nothing attached, and the run never ends: returns
    EXPECT_EQ(stops.load(), 0);
    request.Attach([&stops] { ++stops; });
    EXPECT_EQ(stops.load(), 1);
}

}  // namespace
