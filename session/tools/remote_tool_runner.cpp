#include "session/tools/remote_tool_runner.h"

#include <utility>

#include <nlohmann/json.hpp>

#include "base/audit_log.h"
#include "base/json_fields.h"
#include "session/relay/relay_messages.h"
#include "session/tools/remote_tools.h"

namespace sv {

RemoteToolRunner::RemoteToolRunner(Seams seams, const std::atomic<bool>* cancel)
    : seams_(std::move(seams)), cancel_(cancel) {}

ToolSlots::Slot RemoteToolRunner::TakeSlot(const IncomingMessage& m, const std::string& what,
                                           const std::string& refusal) {
    // Taken on the receiving thread, so a request over the cap is answered at once; the
    // worker holds the slot until it is done (or, if it never starts, until it is dropped).
    ToolSlots::Slot slot = slots_.TryTake();
    if (!slot) {
        WriteAuditLine("tool-refused", m.type + " " + kToolsBusyError + ": " + what, m.from);
        seams_.sendText(refusal);
    }
    return slot;
}

void RemoteToolRunner::Run(ToolSlots::Slot slot, std::function<void(const Reply&)> work) {
    Reply send = seams_.sendText;
    seams_.runDetached([held = std::move(slot), send, work]() mutable {
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
}

void RemoteToolRunner::OnExecRequest(const IncomingMessage& m) {
    std::string id = JsonStringOrEmpty(m.body, "id");
    std::string command = JsonStringOrEmpty(m.body, "command");
    ToolSlots::Slot slot = TakeSlot(m, command, ExecResultJson(id, -1, "", kToolsBusyError));
    if (!slot) return;
    const std::atomic<bool>* cancel = cancel_;
    std::string from = m.from;
    Run(std::move(slot), [id, command, from, cancel](const Reply& s) { HandleExecRequest(s, id, command, from, cancel); });
}

void RemoteToolRunner::OnFsList(const IncomingMessage& m) {
    std::string id = JsonStringOrEmpty(m.body, "id");
    std::string path = JsonStringOrEmpty(m.body, "path");
    ToolSlots::Slot slot = TakeSlot(m, path, FsListErrorJson(id, path, kToolsBusyError));
    if (!slot) return;
    std::string from = m.from;
    Run(std::move(slot), [id, path, from](const Reply& s) { HandleFsList(s, id, path, from); });
}

void RemoteToolRunner::OnFsRead(const IncomingMessage& m) {
    std::string id = JsonStringOrEmpty(m.body, "id");
    std::string path = JsonStringOrEmpty(m.body, "path");
    ToolSlots::Slot slot = TakeSlot(m, path, LogErrorJson(id, kToolsBusyError));
    if (!slot) return;
    const std::atomic<bool>* cancel = cancel_;
    std::string from = m.from;
    Run(std::move(slot), [id, path, from, cancel](const Reply& s) { HandleFsRead(s, id, path, from, cancel); });
}

void RemoteToolRunner::OnLogTail(const IncomingMessage& m) {
    const nlohmann::json& msg = m.body;
    std::string id = JsonStringOrEmpty(msg, "id");
    std::string path = JsonStringOrEmpty(msg, "path");
    ToolSlots::Slot slot = TakeSlot(m, path, LogErrorJson(id, kToolsBusyError));
    if (!slot) return;
    nlohmann::json lines =
        msg.contains("lines") && !msg["lines"].is_null() ? msg["lines"] : nlohmann::json(kLogTailDefaultLines);
    std::string from = m.from;
    Run(std::move(slot), [id, path, lines, from](const Reply& s) { HandleLogTail(s, id, path, lines, from); });
}

}  // namespace sv
