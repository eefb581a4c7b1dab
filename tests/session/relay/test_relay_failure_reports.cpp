#include "session/relay/relay_failure_reports.h"

#include <gtest/gtest.h>

#include <chrono>
#include <vector>

namespace {

using sv::ConnectFailure;
using std::chrono::seconds;

// One failed attempt (or, with `reached`, a pass that reached the relay) `at` seconds
// after the start, and whether it is reported.
struct Step {
    int at;
    ConnectFailure cause;
    bool reported;
    bool reached = false;
};

TEST(RelayFailureReports, FirstChangedOrAfterAQuietMinute) {
    const std::vector<std::vector<Step>> runs = {
        // The same cause, every 5 to 60 s: the first, then once a minute has gone by.
        {{0, ConnectFailure::Refused, true},
         {5, ConnectFailure::Refused, false},
         {59, ConnectFailure::Refused, false},
         {60, ConnectFailure::Refused, true},
         {119, ConnectFailure::Refused, false},
         {120, ConnectFailure::Refused, true}},
        // A change of cause is said at once, and so is a change back.
        {{0, ConnectFailure::NameNotFound, true},
         {5, ConnectFailure::TlsVerifyFailed, true},
         {10, ConnectFailure::TlsVerifyFailed, false},
         {15, ConnectFailure::NameNotFound, true}},
        // A pass that reached the relay ends the run: the next failure starts a new one.
        {{0, ConnectFailure::ClosedByPeer, true},
         {5, ConnectFailure::None, false, true},
         {10, ConnectFailure::ClosedByPeer, true},
         {15, ConnectFailure::ClosedByPeer, false}},
    };
    for (size_t r = 0; r < runs.size(); ++r) {
        std::chrono::steady_clock::time_point now{};
        sv::RelayFailureReports reports([&now] { return now; });
        const auto start = now + seconds(1000);
        for (const Step& step : runs[r]) {
            now = start + seconds(step.at);
            if (step.reached) {
                reports.Reset();
                continue;
            }
            EXPECT_EQ(reports.ShouldReport(step.cause), step.reported) << "run " << r << " at " << step.at;
        }
    }
}

TEST(RelayFailureReports, LineNamesTheRelayTheCauseAndTheNextTry) {
    EXPECT_EQ(sv::FormatRelayFailure("wss://r.example/", ConnectFailure::Refused, 10, "22:10:05"),
              "relay wss://r.example/ unreachable: connection refused; next try in 10 s at 22:10:05");
    EXPECT_EQ(sv::FormatRelayFailure("ws://127.0.0.1:1/", ConnectFailure::ClosedByPeer, 5, ""),
              "relay ws://127.0.0.1:1/ unreachable: closed by the relay; next try in 5 s");
    EXPECT_STREQ(sv::RelayFailureText(ConnectFailure::NameNotFound), "name not found");
    EXPECT_STREQ(sv::RelayFailureText(ConnectFailure::TlsVerifyFailed), "TLS verification failed");
    EXPECT_STREQ(sv::RelayFailureText(ConnectFailure::HandshakeTimedOut), "handshake timed out");
}

}  // namespace
