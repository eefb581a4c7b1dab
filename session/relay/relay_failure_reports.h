#pragma once
// Which failed relay attempts are worth a line. A relay that keeps refusing would
// otherwise write one every few seconds for as long as it is down; a silent loop leaves
// the person at the computer with nothing to read out. A run of failures is reported at
// its first attempt, again when the cause changes, and again once a quiet minute has
// passed with the same cause; a pass that reaches the relay ends the run.
// Plain logic over an injectable steady clock.
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "net/connect_failure.h"

namespace sv {

constexpr std::chrono::seconds kRelayReportQuietPeriod{60};

class RelayFailureReports {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    explicit RelayFailureReports(Clock now = [] { return std::chrono::steady_clock::now(); });

    // A failed attempt; true when it is to be reported (and counts as reported).
    bool ShouldReport(ConnectFailure cause);
    // A pass reached the relay: the next failure starts a new run.
    void Reset();

private:
    Clock now_;
    bool reported_ = false;
    ConnectFailure lastCause_ = ConnectFailure::None;
    std::chrono::steady_clock::time_point lastReport_{};
};

// What a failure says in a line: "connection refused", "closed by the relay", ...
const char* RelayFailureText(ConnectFailure cause);

// "relay <url> unreachable: <cause>; next try in <n> s at <clock>". `nextTryClock` is
// the local time of the next attempt as the caller formats it (may be empty).
std::string FormatRelayFailure(const std::string& url, ConnectFailure cause, int32_t waitSeconds,
                               const std::string& nextTryClock);

}  // namespace sv
