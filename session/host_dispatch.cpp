// Where each incoming type goes, and the Host's own messages from the relay.
#include <string>
#include <vector>

#include "base/audit_log.h"
#include "base/json_fields.h"
#include "session/host.h"

namespace sv {

std::vector<MessageRoute> Host::Routes() {
    using M = const IncomingMessage&;
    return {
        {"registered", true, [this](M m) { OnRegistered(m); }},
        {"error", true, [this](M m) { OnRelayError(m); }},
        {"controller-joined", true, [this](M m) { OnControllerJoined(m); }},
        {"peer-left", true, [this](M m) { OnPeerLeft(m); }},
        {"lan-ticket", true, [this](M m) { lan_.OnLanTicketMessage(m); }},
        {"lan-revoke", true, [this](M m) { lan_.OnLanRevokeMessage(m); }},
        {"input", false, [this](M m) { input_.OnInput(m); }},
        {"key-input", false, [this](M m) { input_.OnKeyInput(m); }},
        {"input-block-request", false, [this](M m) { input_.OnInputBlockRequest(m); }},
        {"clipboard", false, [this](M m) { transfers_.OnClipboard(m.body, m.from); }},
        {"file-begin", false, [this](M m) { transfers_.OnFileBegin(m.body, m.from); }},
        {"file-chunk", false, [this](M m) { transfers_.OnFileChunk(m.body, m.from); }},
        {"file-end", false, [this](M m) { transfers_.OnFileEnd(m.body, m.from); }},
        {"stream-control", false, [this](M m) { stream_.ApplyControl(m.body); }},
        {"stream-prefs", false, [this](M m) { stream_.ApplyPrefs(m.from, m.body); }},
        {"frame-ack", false, [this](M m) { stream_.ApplyFrameAck(m.from, m.body); }},
        {"frame-request", false, [this](M) { stream_.RequestSingleFrame(); }},
        {"training-request", false,
         [this](M m) {
             if (agent_.queueRequest) agent_.queueRequest(m.body, m.from);
         }},
        {"exec-request", false, [this](M m) { tools_.OnExecRequest(m); }},
        {"fs-list", false, [this](M m) { tools_.OnFsList(m); }},
        {"log-tail", false, [this](M m) { tools_.OnLogTail(m); }},
        {"fs-read", false, [this](M m) { tools_.OnFsRead(m); }},
    };
}

void Host::OnRegistered(const IncomingMessage& m) {
    refusalCount_.store(0);
    registered_.store(true);
    std::string detail = "registered ";
    if (deviceId_ != 0) {
        detail += "deviceId=" + std::to_string(deviceId_);
    } else {
        detail += "hostId=" + HostId();
    }
    WriteAuditLine("relay", detail, "");
    RelayReached();
    if (deviceId_ != 0 && lan_.Listening()) lan_.AdvertiseLan();
    std::string token = JsonStringOrEmpty(m.body, "mediaToken");
    if (!token.empty()) {
        uint32_t generation = media_.NewGeneration();
        workers_.Start([this, token, generation] {
            media_.Run(relayUrl_, caBundlePath_, token, generation, kConnectTimeoutMs);
        });
    }
}

void Host::OnRelayError(const IncomingMessage& m) {
    std::string reason = JsonStringOrEmpty(m.body, "reason");
    if (reason == "device-auth-failed" || reason == "device-revoked") {
        rejection_.store(reason == "device-revoked" ? "device-revoked" : "device-auth-failed");
        deviceRejected_.store(true);
        WriteAuditLine("device-rejected", reason, "");
    } else if (reason == "hostId-in-use" || reason == "device-in-use") {
        int32_t n = refusalCount_.fetch_add(1) + 1;
        WriteAuditLine("register-refused", reason + " (x" + std::to_string(n) + ")", "");
        reconnect_.store(true);
    }
}

}  // namespace sv
