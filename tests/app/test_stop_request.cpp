#include "app/stop_request.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <mutex>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

using sv::StopCause;
using sv::StopRequest;

// What the request did, in order: "report <line>" and "stop".
struct Witness {
    std::mutex mutex;
    std::vector<std::string> seen;
    void Note(const std::string& s) {
        std::lock_guard<std::mutex> lock(mutex);
        seen.push_back(s);
    }
    std::vector<std::string> Seen() {
        std::lock_guard<std::mutex> lock(mutex);
        return seen;
    }
};

constexpr std::chrono::hours kForever{1};

TEST(StopRequest, EachCauseStopsOnceAndHoldsOnlyWhereWindowsEndsTheProcess) {
    const struct {
        StopCause cause;
        const char* line;
        bool holds;
    } cases[] = {
        {StopCause::kCtrlC, "Ctrl+C in the console", false},
        {StopCause::kCtrlBreak, "Ctrl+Break in the console", false},
        {StopCause::kConsoleClosed, "the console window was closed", true},
        {StopCause::kLogoff, "the user is signing out", true},
        {StopCause::kShutdown, "Windows is shutting down", true},
    };
    for (const auto& c : cases) {
        Witness w;
        StopRequest request([&w](const std::string& line) { w.Note("report " + line); }, kForever);
        request.Attach([&w] { w.Note("stop"); });
        const std::string report = std::string("report ") + c.line +
                                   ": the host ends its session and closes its connections";
        if (!c.holds) {
            // A hold here would wait out the hour: the test would never end.
            request.OnSignal(c.cause);
            request.OnSignal(c.cause);  // a second press asks nothing more
        } else {
            auto signal = std::async(std::launch::async, [&] { request.OnSignal(c.cause); });
            ASSERT_TRUE(sv_test::WaitUntil([&] { return w.Seen().size() == 2; })) << c.line;
            // Correct code never returns before the run has ended, however long this waits.
            EXPECT_EQ(signal.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout) << c.line;
            request.RunEnded();
            signal.get();
            request.OnSignal(c.cause);  // the run has ended: returns at once
        }
        EXPECT_EQ(w.Seen(), (std::vector<std::string>{report, "stop"})) << c.line;
    }
}

TEST(StopRequest, AHoldEndsAtItsBoundWhenTheRunNeverEnds) {
    Witness w;
    StopRequest request(nullptr, std::chrono::milliseconds(20));
    request.Attach([&w] { w.Note("stop"); });
    request.OnSignal(StopCause::kConsoleClosed);  // returns: the test would hang otherwise
    EXPECT_EQ(w.Seen(), std::vector<std::string>{"stop"});
}

TEST(StopRequest, AStopAskedBeforeAnythingWasAttachedReachesWhatIsAttachedLater) {
    Witness w;
    StopRequest request(nullptr, kForever);
    request.OnSignal(StopCause::kCtrlC);
    EXPECT_TRUE(w.Seen().empty());
    request.Attach([&w] { w.Note("stop"); });
    request.Attach(nullptr);
    request.OnSignal(StopCause::kCtrlC);
    EXPECT_EQ(w.Seen(), std::vector<std::string>{"stop"});
}

}  // namespace
