#include "session/relay/relay_failure_reports.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

namespace {

using sv::ConnectFailure;
using std::chrono::seconds;

// One failed attempt `at` seconds after the start, and whether it is reported; or, with
// `reached`, a registration, and whether it is to say that the relay is back.
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
        // A registration ends the run, and is said after a reported one: the next failure
        // starts a new run.
        {{0, ConnectFailure::ClosedByPeer, true},
         {5, ConnectFailure::None, true, true},
         {10, ConnectFailure::ClosedByPeer, true},
         {15, ConnectFailure::ClosedByPeer, false},
         {20, ConnectFailure::None, true, true}},
        // A registration with no failure before it has nothing to say.
        {{0, ConnectFailure::None, false, true}, {5, ConnectFailure::Refused, true}},
    };
    for (size_t r = 0; r < runs.size(); ++r) {
        std::chrono::steady_clock::time_point now{};
        sv::RelayFailureReports reports([&now] { return now; });
        const auto start = now + seconds(1000);
        for (const Step& step : runs[r]) {
            now = start + seconds(step.at);
            if (step.reached) {
                EXPECT_EQ(reports.Reset(), step.reported) << "run " << r << " at " << step.at;
                continue;
            }
            EXPECT_EQ(reports.ShouldReport(step.cause), step.reported) << "run " << r << " at " << step.at;
        }
    }
}

// The lines name the relay, the cause in words a person can act on, and the next try.
TEST(RelayFailureReports, LinesNameTheRelayTheCauseAndTheNextTry) {
    const struct {
        std::string line;
        std::string want;  // the whole line, or with `part` a piece of it
        bool part = false;
    } cases[] = {
        {sv::FormatRelayFailure("wss://r.example/", "C:\\ca.pem", ConnectFailure::Refused, false, 10, "22:10:05"),
         "relay wss://r.example/ unreachable: connection refused; next try in 10 s at 22:10:05"},
        {sv::FormatRelayFailure("ws://127.0.0.1:1/", "C:\\ca.pem", ConnectFailure::ClosedByPeer, false, 5, ""),
         "relay ws://127.0.0.1:1/ unreachable: closed by the relay; next try in 5 s"},
        // A registered connection that ended says so, not that the relay was never reached.
        {sv::FormatRelayFailure("wss://r.example/", "C:\\ca.pem", ConnectFailure::ConnectionLost, true, 5, "22:10:05"),
         "relay wss://r.example/ disconnected: connection lost; next try in 5 s at 22:10:05"},
        // The certificate's fault names the relay by its host name alone.
        {sv::FormatRelayFailure("wss://r.example:8443/", "C:\\ca.pem", ConnectFailure::CertNameMismatch, false, 5, ""),
         "the certificate is not for r.example (it names another server); next try", true},
        {sv::FormatRelayBack("wss://r.example/", "host 123456789"),
         "relay wss://r.example/ reached again: registered as host 123456789"},
    };
    for (const auto& c : cases) {
        if (c.part) {
            EXPECT_NE(c.line.find(c.want), std::string::npos) << c.line;
        } else {
            EXPECT_EQ(c.line, c.want);
        }
    }
}

}  // namespace
