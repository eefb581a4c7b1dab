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
    // The host registered: the next failure starts a new run. True when this run had
    // been reported, so that the person who read that it is down also reads that it is
    // back.
    bool Reset();

private:
    Clock now_;
    bool reported_ = false;
    ConnectFailure lastCause_ = ConnectFailure::None;
    std::chrono::steady_clock::time_point lastReport_{};
};

// What a failure says in a line: "connection refused", "closed by the relay", the
// certificate's fault with the CA file it was checked against, ...
std::string RelayFailureText(ConnectFailure cause, const std::string& relayHost, const std::string& caFile);

// "relay <url> unreachable: <cause>; next try in <n> s at <clock>", or for a registered
// connection that ended, "relay <url> disconnected: <cause>; next try ...".
// `nextTryClock` is the local time of the next attempt as the caller formats it (may be
// empty).
std::string FormatRelayFailure(const std::string& url, const std::string& caFile, ConnectFailure cause,
                               bool wasRegistered, int32_t waitSeconds, const std::string& nextTryClock);

// "relay <url> reached again: registered as <who>" ("host 123456789", "device 31").
std::string FormatRelayBack(const std::string& url, const std::string& who);

// What the host window shows while the relay cannot be reached: the cause of the last
// failed attempt and when the next one starts (seconds since 1970, the wall clock).
// `cause` is None while the host is registered, and before its first failure.
struct RelayOutage {
    ConnectFailure cause = ConnectFailure::None;
    int64_t nextTry = 0;
};

}  // namespace sv
