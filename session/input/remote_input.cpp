#include "session/input/remote_input.h"

#include <cstdio>
#include <utility>

#include "base/audit_log.h"
#include "base/case_fold.h"
#include "base/json_fields.h"
#include "session/relay/relay_messages.h"
#include "session/screen/screen_capture.h"

namespace sv {

RemoteInput::RemoteInput(Seams seams, bool serviceMode, InputPlatform platform)
    : state_(std::move(platform)), serviceMode_(serviceMode), seams_(std::move(seams)) {
    state_.SetServiceMode(serviceMode_);
    if (!seams_.inject.injectPointer) {
        seams_.inject.injectPointer = [this](const std::string& kind, double x, double y, const std::string& button) {
            auto size = GetScreenSize();
            return sv::InjectPointer(state_, kind, x, y, button, size.first, size.second);
        };
    }
    if (!seams_.inject.injectText) seams_.inject.injectText = [this](const std::string& text) { return sv::InjectText(state_, text); };
    if (!seams_.inject.injectKey) {
        seams_.inject.injectKey = [this](const std::string& key, const std::vector<std::string>& modifiers) {
            return sv::InjectKey(state_, key, modifiers);
        };
    }
    if (!seams_.inject.sendSecureAttention) seams_.inject.sendSecureAttention = [] { return SendSecureAttention(); };
    if (!seams_.inject.setInputBlocked) seams_.inject.setInputBlocked = [this](bool on) { return SetInputBlockedOn(state_, on); };
}

void RemoteInput::OnInput(const IncomingMessage& m) {
    const nlohmann::json& msg = m.body;
    if (seams_.gateInput && !seams_.gateInput(m.from, "mouse")) return;
    double x = msg.value("x", 0.0);
    double y = msg.value("y", 0.0);
    std::string kind = msg.contains("kind") ? JsonStringOrEmpty(msg, "kind") : std::string("move");
    std::string button = JsonStringOrEmpty(msg, "button");
    seams_.inject.injectPointer(kind, x, y, button);
    // "%f" of a huge coordinate runs to hundreds of digits: size the text to fit it.
    int width = std::snprintf(nullptr, 0, " x=%f y=%f", x, y);
    std::string coords(width > 0 ? static_cast<size_t>(width) + 1 : 1, '\0');
    if (width > 0) std::snprintf(&coords[0], coords.size(), " x=%f y=%f", x, y);
    coords.resize(width > 0 ? static_cast<size_t>(width) : 0);
    std::string detail = kind + coords;
    if (!button.empty()) detail += " button=" + button;
    WriteAuditLine("input", detail, m.from);
}

void RemoteInput::OnKeyInput(const IncomingMessage& m) {
    const nlohmann::json& msg = m.body;
    const std::string& from = m.from;
    if (seams_.gateInput && !seams_.gateInput(from, "keyboard")) return;
    std::string kind = JsonStringOrEmpty(msg, "kind");
    if (kind == "text") {
        std::string text = JsonStringOrEmpty(msg, "text");
        bool ok = seams_.inject.injectText(text);
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
            bool ok = seams_.inject.sendSecureAttention();
            WriteAuditLine("key-input", std::string(ok ? "ok" : "failed") + " secure-attention", from);
            return;
        }
    }
    bool ok = seams_.inject.injectKey(key, modifiers);
    WriteAuditLine("key-input", std::string(ok ? "ok" : "failed") + " key=" + key, from);
}

void RemoteInput::OnInputBlockRequest(const IncomingMessage& m) {
    std::string id = JsonStringOrEmpty(m.body, "id");
    bool wanted = m.body.value("blocked", false);
    bool ok = seams_.inject.setInputBlocked(wanted);
    bool applied = ok ? wanted : state_.IsBlocked();
    WriteAuditLine("input-block", applied ? "blocked" : "unblocked", m.from);
    if (seams_.sendText) {
        seams_.sendText(
            InputBlockResultMessage(id, applied, applied != wanted ? "BlockInput was refused by Windows" : nullptr));
    }
}

bool RemoteInput::InjectPointer(const std::string& kind, double x, double y, const std::string& button) {
    return seams_.inject.injectPointer(kind, x, y, button);
}

bool RemoteInput::InjectText(const std::string& text) { return seams_.inject.injectText(text); }

bool RemoteInput::InjectKey(const std::string& key, const std::vector<std::string>& modifiers) {
    return seams_.inject.injectKey(key, modifiers);
}

void RemoteInput::ReleaseBlock() { ReleaseInputBlock(state_); }

}  // namespace sv
