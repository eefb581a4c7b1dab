#include "session/relay/relay_failure_reports.h"

#include <utility>

#include "net/websocket_frame.h"

namespace sv {

RelayFailureReports::RelayFailureReports(Clock now) : now_(std::move(now)) {}

bool RelayFailureReports::ShouldReport(ConnectFailure cause) {
    const auto now = now_();
    if (reported_ && cause == lastCause_ && now - lastReport_ < kRelayReportQuietPeriod) return false;
    reported_ = true;
    lastCause_ = cause;
    lastReport_ = now;
    return true;
}

bool RelayFailureReports::Reset() {
    const bool wasReported = reported_;
    reported_ = false;
    return wasReported;
}

std::string RelayFailureText(ConnectFailure cause, const std::string& relayHost, const std::string& caFile) {
    // The peer is the relay; everything else reads as for any server.
    switch (cause) {
    case ConnectFailure::ClosedByPeer:
        return "closed by the relay";
    case ConnectFailure::UpgradeRefused:
        return "the relay refused the WebSocket upgrade";
    default:
        return ConnectFailureText(cause, relayHost, caFile);
    }
}

std::string FormatRelayFailure(const std::string& url, const std::string& caFile, ConnectFailure cause,
                               bool wasRegistered, int32_t waitSeconds, const std::string& nextTryClock) {
    WebSocketUrl parts;
    SplitWebSocketUrl(url, parts);
    std::string line = "relay " + url + (wasRegistered ? " disconnected: " : " unreachable: ") +
                       RelayFailureText(cause, parts.host, caFile) + "; next try in " + std::to_string(waitSeconds) +
                       " s";
    if (!nextTryClock.empty()) line += " at " + nextTryClock;
    return line;
}

std::string FormatRelayBack(const std::string& url, const std::string& who) {
    return "relay " + url + " reached again: registered as " + who;
}

}  // namespace sv
