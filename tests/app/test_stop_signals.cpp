#include "app/stop_signals.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <string>

#include "test_support.h"

namespace {

TEST(StopSignals, ConsoleCodesAndSessionEndsNameTheirCause) {
    using sv::StopCause;
    EXPECT_EQ(sv::ConsoleStopCause(CTRL_C_EVENT), StopCause::kCtrlC);
    EXPECT_EQ(sv::ConsoleStopCause(CTRL_BREAK_EVENT), StopCause::kCtrlBreak);
    EXPECT_EQ(sv::ConsoleStopCause(CTRL_CLOSE_EVENT), StopCause::kConsoleClosed);
    EXPECT_EQ(sv::ConsoleStopCause(CTRL_LOGOFF_EVENT), StopCause::kLogoff);
    EXPECT_EQ(sv::ConsoleStopCause(CTRL_SHUTDOWN_EVENT), StopCause::kShutdown);
    EXPECT_FALSE(sv::ConsoleStopCause(3).has_value());  // no such event: the next handler's
    EXPECT_EQ(sv::EndSessionCause(static_cast<LPARAM>(ENDSESSION_LOGOFF)), StopCause::kLogoff);
    EXPECT_EQ(sv::EndSessionCause(0), StopCause::kShutdown);
}

// What Windows does at a sign-out, to the hidden window: the query is agreed to, and the
// end stops the run and returns only once the run has ended (Windows ends the process then).
TEST(StopSignals, TheSessionsEndStopsTheRunAndWaitsForItsEnd) {
    std::atomic<int> stops{0};
    std::string line;
    sv::StopRequest request([&line](const std::string& l) { line = l; }, std::chrono::hours(1));
    request.Attach([&stops] { ++stops; });
    sv::StopSignals signals(request);
    HWND window = signals.Window();
    ASSERT_NE(window, nullptr);

    EXPECT_EQ(SendMessageW(window, WM_QUERYENDSESSION, 0, static_cast<LPARAM>(ENDSESSION_LOGOFF)), TRUE);
    EXPECT_EQ(stops.load(), 0);
    auto ended = std::async(std::launch::async, [window] {
        SendMessageW(window, WM_ENDSESSION, TRUE, static_cast<LPARAM>(ENDSESSION_LOGOFF));
    });
    ASSERT_TRUE(sv_test::WaitUntil([&] { return stops.load() == 1; }));
    EXPECT_EQ(ended.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
    request.RunEnded();
    ended.get();
    EXPECT_EQ(line, "the user is signing out: the host ends its session and closes its connections");
    request.Attach(nullptr);
}

}  // namespace
