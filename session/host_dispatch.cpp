// The Host's message table, its handlers, and the two ways out (relay and LAN alike).
#include <cstdio>
#include <exception>

#include "base/audit_log.h"
#include "base/case_fold.h"
#include "base/json_fields.h"
#include "session/host.h"
#include "session/relay/relay_messages.h"
#include "session/tools/remote_tools.h"

namespace sv {
namespace {

using nlohmann::json;

}  // namespace

// Compared in this order; a type that matches none is ignored.
const Host::Route Host::kRoutes[] = {
    {"registered", true, &Host::OnRegistered},
    {"error", true, &Host::OnRelayError},
    {"controller-joined", true, &Host::OnJoinedMessage},
    {"peer-left", true, &Host::OnPeerLeftMessage},
    {"lan-ticket", true, &Host::OnLanTicketMessage},
    {"lan-revoke", true, &Host::OnLanRevokeMessage},
    {"input", false, &Host::OnInput},
    {"key-input", false, &Host::OnKeyInput},
    {"input-block-request", false, &Host::OnInputBlockRequest},
    {"clipboard", false, &Host::OnClipboard},
    {"file-begin", false, &Host::OnFileBegin},
    {"file-chunk", false, &Host::OnFileChunk},
    {"file-end", false, &Host::OnFileEnd},
    {"stream-control", false, &Host::OnStreamControl},
    {"stream-prefs", false, &Host::OnStreamPrefs},
    {"frame-ack", false, &Host::OnFrameAck},
    {"frame-request", false, &Host::OnFrameRequest},
    {"training-request", false, &Host::OnTrainingRequest},
    {"exec-request", false, &Host::OnRemoteTool},
    {"fs-list", false, &Host::OnRemoteTool},
    {"log-tail", false, &Host::OnRemoteTool},
    {"fs-read", false, &Host::OnRemoteTool},
};

void Host::RouteIncomingText(const std::string& text) {
    if (std::optional<IncomingMessage> msg = ParseIncoming(text, MessageSource::kRelay)) Dispatch(*msg);
}

void Host::DispatchLanText(const std::string& text, MessageSource source, const std::string& controllerId) {
    if (std::optional<IncomingMessage> msg = ParseIncoming(text, source, controllerId)) Dispatch(*msg);
}

void Host::Dispatch(const IncomingMessage& msg) {
    for (const Route& route : kRoutes) {
        if (msg.type != route.type) continue;
        if (route.relayOnly && msg.source != MessageSource::kRelay) return;
        try {
            (this->*route.handler)(msg);
        } catch (const std::exception& e) {
            // Wrong field types and the like: the message is dropped, the loop goes on, and
            // the audit log says so, so a fault in a handler is not taken for a bad message.
            WriteAuditLine("dispatch", "handler failed: " + msg.type + ": " + e.what(), msg.from);
        }
        return;
    }
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
    if (deviceId_ != 0 && lan_.Listening()) lan_.AdvertiseLan();
    std::string token = JsonStringOrEmpty(m.body, "mediaToken");
    if (!token.empty()) {
        uint32_t generation = media_.NewGeneration();
        RunDetached([this, token, generation] { RunMediaChannel(token, generation); });
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

void Host::OnJoinedMessage(const IncomingMessage& m) { OnControllerJoined(JsonStringOrEmpty(m.body, "controllerId")); }

void Host::OnPeerLeftMessage(const IncomingMessage& m) {
    // Its LAN tickets and channels go first, so it cannot come back through them.
    std::string id = JsonStringOrEmpty(m.body, "id");
    lan_.RevokeLanTickets(id);
    OnPeerLeft(id);
}

void Host::OnLanTicketMessage(const IncomingMessage& m) {
    std::string ticketId = JsonStringOrEmpty(m.body, "ticketId");
    std::string secret = JsonStringOrEmpty(m.body, "secret");
    std::string controllerId = JsonStringOrEmpty(m.body, "controllerId");
    RunDetached([this, ticketId, secret, controllerId] { lan_.PrepareLanTicket(ticketId, secret, controllerId); });
}

void Host::OnLanRevokeMessage(const IncomingMessage& m) {
    std::string controllerId = JsonStringOrEmpty(m.body, "controllerId");
    WriteAuditLine("lan-revoke", controllerId, "");
    lan_.RevokeLanTickets(controllerId);
}

void Host::OnInput(const IncomingMessage& m) {
    const json& msg = m.body;
    if (agent_.gateInput && !agent_.gateInput(m.from, "mouse")) return;
    double x = msg.value("x", 0.0);
    double y = msg.value("y", 0.0);
    std::string kind = msg.contains("kind") ? JsonStringOrEmpty(msg, "kind") : std::string("move");
    std::string button = JsonStringOrEmpty(msg, "button");
    platform_.injectPointer(kind, x, y, button);
    // "%f" of a huge coordinate runs to hundreds of digits: size the text to fit it.
    int width = std::snprintf(nullptr, 0, " x=%f y=%f", x, y);
    std::string coords(width > 0 ? static_cast<size_t>(width) + 1 : 1, '\0');
    if (width > 0) std::snprintf(&coords[0], coords.size(), " x=%f y=%f", x, y);
    coords.resize(width > 0 ? static_cast<size_t>(width) : 0);
    std::string detail = kind + coords;
    if (!button.empty()) detail += " button=" + button;
    WriteAuditLine("input", detail, m.from);
}

void Host::OnKeyInput(const IncomingMessage& m) {
    const json& msg = m.body;
    const std::string& from = m.from;
    if (agent_.gateInput && !agent_.gateInput(from, "keyboard")) return;
    std::string kind = JsonStringOrEmpty(msg, "kind");
    if (kind == "text") {
        std::string text = JsonStringOrEmpty(msg, "text");
        bool ok = platform_.injectText(text);
        WriteAuditLine("key-input", std::string(ok ? "ok" : "failed") + " text len=" + std::to_string(text.size()),
                       from);
        return;
    }
    std::string key = JsonStringOrEmpty(msg, "key");
    std::vector<std::string> modifiers;
    auto it = msg.find("modifiers");
    if (it != msg.end() && !it->is_null()) modifiers = it->get<std::vector<std::string>>();
    if (serviceMode_) {
        std::string lowerKey = AsciiLower(key);
        bool ctrl = false;
        bool alt = false;
        for (const std::string& mod : modifiers) {
            std::string lm = AsciiLower(mod);
            if (lm == "ctrl" || lm == "control") ctrl = true;
            if (lm == "alt") alt = true;
        }
        if ((lowerKey == "delete" || lowerKey == "del") && ctrl && alt) {
            bool ok = platform_.sendSecureAttention();
            WriteAuditLine("key-input", std::string(ok ? "ok" : "failed") + " secure-attention", from);
            return;
        }
    }
    bool ok = platform_.injectKey(key, modifiers);
    WriteAuditLine("key-input", std::string(ok ? "ok" : "failed") + " key=" + key, from);
}

void Host::OnInputBlockRequest(const IncomingMessage& m) {
    std::string id = JsonStringOrEmpty(m.body, "id");
    bool wanted = m.body.value("blocked", false);
    bool ok = SetInputBlocked(wanted);
    bool applied = ok ? wanted : inputState_.IsBlocked();
    WriteAuditLine("input-block", applied ? "blocked" : "unblocked", m.from);
    SendText(InputBlockResultMessage(id, applied, applied != wanted ? "BlockInput was refused by Windows" : nullptr));
}

void Host::OnClipboard(const IncomingMessage& m) { transfers_.OnClipboard(m.body, m.from); }
void Host::OnFileBegin(const IncomingMessage& m) { transfers_.OnFileBegin(m.body, m.from); }
void Host::OnFileChunk(const IncomingMessage& m) { transfers_.OnFileChunk(m.body, m.from); }
void Host::OnFileEnd(const IncomingMessage& m) { transfers_.OnFileEnd(m.body, m.from); }
void Host::OnStreamControl(const IncomingMessage& m) { stream_.ApplyControl(m.body); }
void Host::OnStreamPrefs(const IncomingMessage& m) { stream_.ApplyPrefs(m.from, m.body); }
void Host::OnFrameAck(const IncomingMessage& m) { stream_.ApplyFrameAck(m.from, m.body); }
void Host::OnFrameRequest(const IncomingMessage&) { stream_.RequestSingleFrame(); }

void Host::OnTrainingRequest(const IncomingMessage& m) {
    if (agent_.queueRequest) agent_.queueRequest(m.body, m.from);
}

void Host::OnRemoteTool(const IncomingMessage& m) { HandleRemoteTool(m.type, m.body, m.from); }

bool Host::SetInputBlocked(bool on) { return platform_.setInputBlocked(on); }

void Host::SendText(const std::string& text) {
    platform_.sendRelayText(text);
    if (lan_.ChannelCount() == 0) return;
    lan_.SendToChannels(std::vector<uint8_t>(text.begin(), text.end()), 0);
}

bool Host::SendBinary(const uint8_t* data, size_t length) {
    // The result is the path the relay's controllers depend on: a frame they did not get
    // must leave its tiles dirty. LAN decides only when nobody is left on the relay path.
    const bool allOnLan = lan_.AllOnLan();
    const bool relayPath = !allOnLan && (controllers_.HasRelayControllers() || lan_.ChannelCount() == 0);
    bool sent = false;
    if (!allOnLan) {
        if (media_.Attached()) {
            sent = platform_.sendMediaBinary(data, length) || platform_.sendRelayBinary(data, length);
        } else {
            sent = platform_.sendRelayBinary(data, length);
        }
    }
    if (lan_.ChannelCount() == 0) return sent;
    const bool lanSent = lan_.SendToChannels(std::vector<uint8_t>(data, data + length), 1);
    return relayPath ? sent : lanSent;
}

void Host::HandleRemoteTool(const std::string& type, const json& msg, const std::string& from) {
    std::string id = JsonStringOrEmpty(msg, "id");
    std::string path = JsonStringOrEmpty(msg, "path");
    ToolSend send = [this](const std::string& text) { SendText(text); };
    // Taken here, on the receiving thread, so a request over the cap is answered at once;
    // the worker holds the slot until it is done (or, if it never starts, until it is dropped).
    ToolSlots::Slot slot = toolSlots_.TryTake();
    if (!slot) {
        std::string what = type == "exec-request" ? JsonStringOrEmpty(msg, "command") : path;
        WriteAuditLine("tool-refused", type + " " + kToolsBusyError + ": " + what, from);
        std::string reply = ToolRefusalJson(type, id, path, kToolsBusyError);
        if (!reply.empty()) send(reply);
        return;
    }
    // The worker's replies go out one behind, and the slot is given back before the last:
    // a controller that sends its next request on that reply finds the slot free.
    auto run = [this, send](ToolSlots::Slot held, std::function<void(const ToolSend&)> work) {
        RunDetached([held = std::move(held), send, work]() mutable {
            std::string last;
            bool holding = false;
            work([&](const std::string& text) {
                if (holding) send(last);
                last = text;
                holding = true;
            });
            held.reset();
            if (holding) send(last);
        });
    };
    const std::atomic<bool>* cancel = &stop_;
    if (type == "exec-request") {
        std::string command = JsonStringOrEmpty(msg, "command");
        run(std::move(slot), [id, command, from, cancel](const ToolSend& s) { HandleExecRequest(s, id, command, from, cancel); });
    } else if (type == "fs-list") {
        run(std::move(slot), [id, path, from](const ToolSend& s) { HandleFsList(s, id, path, from); });
    } else if (type == "fs-read") {
        run(std::move(slot), [id, path, from, cancel](const ToolSend& s) { HandleFsRead(s, id, path, from, cancel); });
    } else if (type == "log-tail") {
        json lines = msg.contains("lines") && !msg["lines"].is_null() ? msg["lines"] : json(kLogTailDefaultLines);
        run(std::move(slot), [id, path, lines, from](const ToolSend& s) { HandleLogTail(s, id, path, lines, from); });
    }
}

}  // namespace sv
