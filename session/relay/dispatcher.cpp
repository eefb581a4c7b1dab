// Routing of every text message that reaches the host, and the two ways out.
#include <cstdio>
#include <exception>

#include "base/audit_log.h"
#include "net/lan_server.h"
#include "net/secure_channel.h"
#include "session/host.h"
#include "session/screen/stream_rules.h"
#include "training/training_agent.h"

namespace sv {
namespace {

using nlohmann::json;

std::string StringField(const json& msg, const char* key) {
    auto it = msg.find(key);
    if (it == msg.end() || it->is_null()) return std::string();
    return it->get<std::string>();
}

std::string Lower(std::string s) {
    for (char& c : s) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return s;
}

}  // namespace

void Host::RouteIncomingText(const std::string& text) {
    try {
        if (text.find("\"lan-") == std::string::npos && text.find("peer-left") == std::string::npos) {
            DispatchMessage(text);
            return;
        }
        json msg = json::parse(text, nullptr, false);
        if (msg.is_discarded()) return;
        std::string type = msg.is_object() ? StringField(msg, "type") : std::string();
        if (type == "lan-ticket") {
            std::string ticketId = StringField(msg, "ticketId");
            std::string secret = StringField(msg, "secret");
            std::string controllerId = StringField(msg, "controllerId");
            RunDetached([this, ticketId, secret, controllerId] { PrepareLanTicket(ticketId, secret, controllerId); });
            return;
        }
        if (type == "lan-revoke") {
            std::string controllerId = StringField(msg, "controllerId");
            WriteAuditLine("lan-revoke", controllerId, "");
            RevokeLanTickets(controllerId);
            return;
        }
        if (type == "peer-left") {
            RevokeLanTickets(StringField(msg, "id"));
        }
        DispatchMessage(text);
    } catch (const std::exception&) {
        // A malformed message must never end the loop that received it.
    }
}

void Host::DispatchMessage(const std::string& text) {
    try {
        json msg = json::parse(text, nullptr, false);
        if (msg.is_discarded() || !msg.is_object()) return;
        std::string type = StringField(msg, "type");
        std::string from = StringField(msg, "from");

        if (type == "registered") {
            HandleRegistered(msg);
        } else if (type == "error") {
            HandleRegistrationError(msg);
        } else if (type == "controller-joined") {
            OnControllerJoined(StringField(msg, "controllerId"));
        } else if (type == "peer-left") {
            OnPeerLeft(StringField(msg, "id"));
        } else if (type == "input") {
            HandleInput(msg, from);
        } else if (type == "key-input") {
            HandleKeyInput(msg, from);
        } else if (type == "input-block-request") {
            HandleInputBlockRequest(msg, from);
        } else if (type == "clipboard") {
            HandleClipboard(msg, from);
        } else if (type == "file-begin") {
            HandleFileBegin(msg, from);
        } else if (type == "file-chunk") {
            HandleFileChunk(msg, from);
        } else if (type == "file-end") {
            HandleFileEnd(msg, from);
        } else if (type == "stream-control") {
            ApplyStreamControl(msg);
        } else if (type == "stream-prefs") {
            int32_t maxWidth = 0;
            if (ReadPrefsMaxWidth(msg, maxWidth)) maxWidth_.exchange(maxWidth);
            ApplyStreamPrefs(from, msg.value("tiles", false));
        } else if (type == "frame-ack") {
            ApplyFrameAck(from, msg);
        } else if (type == "frame-request") {
            RequestSingleFrame();
        } else if (type == "training-request") {
            if (agent_) agent_->QueueTrainingRequest(msg, from);
        } else if (type == "exec-request" || type == "fs-list" || type == "log-tail" || type == "fs-read") {
            HandleRemoteTool(type, msg, from);
        }
    } catch (const std::exception&) {
        // Wrong field types and the like: the message is dropped, the loop goes on.
    }
}

void Host::HandleRegistered(const json& msg) {
    refusalCount_.store(0);
    registered_.store(true);
    std::string detail = "registered ";
    if (deviceId_ != 0) {
        detail += "deviceId=" + std::to_string(deviceId_);
    } else {
        detail += "hostId=" + hostId_;
    }
    WriteAuditLine("relay", detail, "");
    if (deviceId_ != 0) {
        bool listening = false;
        {
            std::lock_guard<std::mutex> lock(lanServerMutex_);
            listening = lanServer_ && lanServer_->IsListening();
        }
        if (listening) AdvertiseLan();
    }
    std::string token = StringField(msg, "mediaToken");
    if (!token.empty()) {
        uint32_t generation = mediaGeneration_.fetch_add(1) + 1;
        mediaAttached_.store(false);
        RunDetached([this, token, generation] { RunMediaChannel(token, generation); });
    }
}

void Host::HandleRegistrationError(const json& msg) {
    std::string reason = StringField(msg, "reason");
    if (reason == "device-auth-failed" || reason == "device-revoked") {
        deviceRejected_.store(true);
        WriteAuditLine("device-rejected", reason, "");
    } else if (reason == "hostId-in-use" || reason == "device-in-use") {
        int32_t n = refusalCount_.fetch_add(1) + 1;
        WriteAuditLine("register-refused", reason + " (x" + std::to_string(n) + ")", "");
        reconnect_.store(true);
    }
}

void Host::HandleInput(const json& msg, const std::string& from) {
    if (agent_ && !agent_->GateControllerInput(from, "mouse")) return;
    double x = msg.value("x", 0.0);
    double y = msg.value("y", 0.0);
    std::string kind = msg.contains("kind") ? StringField(msg, "kind") : std::string("move");
    std::string button = StringField(msg, "button");
    platform_.injectPointer(kind, x, y, button);
    // "%f" of a huge coordinate runs to hundreds of digits: size the text to fit it.
    int width = std::snprintf(nullptr, 0, " x=%f y=%f", x, y);
    std::string coords(width > 0 ? static_cast<size_t>(width) + 1 : 1, '\0');
    if (width > 0) std::snprintf(&coords[0], coords.size(), " x=%f y=%f", x, y);
    coords.resize(width > 0 ? static_cast<size_t>(width) : 0);
    std::string detail = kind + coords;
    if (!button.empty()) detail += " button=" + button;
    WriteAuditLine("input", detail, from);
}

void Host::HandleKeyInput(const json& msg, const std::string& from) {
    if (agent_ && !agent_->GateControllerInput(from, "keyboard")) return;
    std::string kind = StringField(msg, "kind");
    if (kind == "text") {
        std::string text = StringField(msg, "text");
        bool ok = platform_.injectText(text);
        WriteAuditLine("key-input", std::string(ok ? "ok" : "failed") + " text len=" + std::to_string(text.size()),
                       from);
        return;
    }
    std::string key = StringField(msg, "key");
    std::vector<std::string> modifiers;
    auto it = msg.find("modifiers");
    if (it != msg.end() && !it->is_null()) modifiers = it->get<std::vector<std::string>>();
    if (IsServiceMode()) {
        std::string lowerKey = Lower(key);
        bool ctrl = false;
        bool alt = false;
        for (const std::string& m : modifiers) {
            std::string lm = Lower(m);
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

void Host::HandleInputBlockRequest(const json& msg, const std::string& from) {
    std::string id = StringField(msg, "id");
    bool wanted = msg.value("blocked", false);
    bool ok = SetInputBlocked(wanted);
    bool applied = ok ? wanted : inputState_.IsBlocked();
    WriteAuditLine("input-block", applied ? "blocked" : "unblocked", from);
    nlohmann::ordered_json reply;
    reply["type"] = "input-block-result";
    reply["id"] = id;
    reply["blocked"] = applied;
    reply["error"] = nullptr;
    if (applied != wanted) reply["error"] = "BlockInput was refused by Windows";
    SendText(reply.dump());
}

bool Host::SetInputBlocked(bool on) { return platform_.setInputBlocked(on); }

void Host::SendText(const std::string& text) {
    platform_.sendRelayText(text);
    std::lock_guard<std::mutex> lock(channelMutex_);
    if (channels_.empty()) return;
    std::vector<uint8_t> bytes(text.begin(), text.end());
    for (SecureChannel* channel : channels_) {
        try {
            channel->SendFrame(bytes, 0);
        } catch (...) {
        }
    }
}

bool Host::SendBinary(const uint8_t* data, size_t length) {
    bool sent = false;
    if (!allOnLan_.load()) {
        if (mediaAttached_.load()) {
            sent = platform_.sendMediaBinary(data, length) || platform_.sendRelayBinary(data, length);
        } else {
            sent = platform_.sendRelayBinary(data, length);
        }
    }
    std::lock_guard<std::mutex> lock(channelMutex_);
    if (channels_.empty()) return sent;
    std::vector<uint8_t> bytes(data, data + length);
    for (SecureChannel* channel : channels_) {
        try {
            channel->SendFrame(bytes, 1);
        } catch (...) {
        }
    }
    return true;
}

}  // namespace sv
