#include "session/relay/relay_failure_reports.h"

#include <utility>

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

void RelayFailureReports::Reset() { reported_ = false; }

const char* RelayFailureText(ConnectFailure cause) {
    switch (cause) {
    case ConnectFailure::None:
        return "no failure";
    case ConnectFailure::BadAddress:
        return "the address cannot be used";
    case ConnectFailure::NameNotFound:
        return "name not found";
    case ConnectFailure::Refused:
        return "connection refused";
    case ConnectFailure::Unreachable:
        return "network unreachable";
    case ConnectFailure::ConnectTimedOut:
        return "connection timed out";
    case ConnectFailure::CaUnreadable:
        return "the CA file cannot be read";
    case ConnectFailure::TlsVerifyFailed:
        return "TLS verification failed";
    case ConnectFailure::TlsFailed:
        return "TLS handshake failed";
    case ConnectFailure::HandshakeTimedOut:
        return "handshake timed out";
    case ConnectFailure::ClosedByPeer:
        return "closed by the relay";
    case ConnectFailure::UpgradeRefused:
        return "the relay refused the WebSocket upgrade";
    case ConnectFailure::ConnectionLost:
        return "connection lost";
    case ConnectFailure::Aborted:
        return "stopped";
    }
    return "unknown failure";
}

std::string FormatRelayFailure(const std::string& url, ConnectFailure cause, int32_t waitSeconds,
                               const std::string& nextTryClock) {
    std::string line = "relay " + url + " unreachable: " + RelayFailureText(cause) + "; next try in " +
                       std::to_string(waitSeconds) + " s";
    if (!nextTryClock.empty()) line += " at " + nextTryClock;
    return line;
}

}  // namespace sv
