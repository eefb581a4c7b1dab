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

RemoteToolRunner::Held RemoteToolRunner::TakeSlot(const IncomingMessage& m, const std::string& what,
                                                  const std::string& refusal) {
    // Taken on the receiving thread, so a request over the cap is answered at once; the
    // worker holds the slots until it is done (or, if it never starts, until it is dropped).
    Held held;
    held.thread = threads_.TryTake();
    if (held.thread) held.work = slots_.TryTake();
    if (!held) {
        held.thread.reset();
        WriteAuditLine("tool-refused", m.type + " " + kToolsBusyError + ": " + what, m.from);
        seams_.sendText(refusal);
    }
    return held;
}

void RemoteToolRunner::Run(Held held, std::function<void(const Reply&)> work) {
    Reply send = seams_.sendText;
    seams_.runDetached([held = std::move(held), send, work]() mutable {
        std::string last;
        bool holding = false;
        work([&](const std::string& text) {
            if (holding) send(last);
            last = text;
            holding = true;
        });
        held.work.reset();
        if (holding) send(last);
        held.thread.reset();
    });
}

void RemoteToolRunner::OnExecRequest(const IncomingMessage& m) {
    std::string id = JsonStringOrEmpty(m.body, "id");
    std::string command = JsonStringOrEmpty(m.body, "command");
    Held held = TakeSlot(m, command, ExecResultJson(id, -1, "", kToolsBusyError));
    if (!held) return;
    const std::atomic<bool>* cancel = cancel_;
    std::string from = m.from;
    Run(std::move(held), [id, command, from, cancel](const Reply& s) { HandleExecRequest(s, id, command, from, cancel); });
}

void RemoteToolRunner::OnFsList(const IncomingMessage& m) {
    std::string id = JsonStringOrEmpty(m.body, "id");
    std::string path = JsonStringOrEmpty(m.body, "path");
    Held held = TakeSlot(m, path, FsListErrorJson(id, path, kToolsBusyError));
    if (!held) return;
    std::string from = m.from;
    Run(std::move(held), [id, path, from](const Reply& s) { HandleFsList(s, id, path, from); });
}

void RemoteToolRunner::OnFsRead(const IncomingMessage& m) {
    std::string id = JsonStringOrEmpty(m.body, "id");
    std::string path = JsonStringOrEmpty(m.body, "path");
    Held held = TakeSlot(m, path, LogErrorJson(id, kToolsBusyError));
    if (!held) return;
    const std::atomic<bool>* cancel = cancel_;
    std::string from = m.from;
    Run(std::move(held), [id, path, from, cancel](const Reply& s) { HandleFsRead(s, id, path, from, cancel); });
}

void RemoteToolRunner::OnLogTail(const IncomingMessage& m) {
    const nlohmann::json& msg = m.body;
    std::string id = JsonStringOrEmpty(msg, "id");
    std::string path = JsonStringOrEmpty(msg, "path");
    Held held = TakeSlot(m, path, LogErrorJson(id, kToolsBusyError));
    if (!held) return;
    nlohmann::json lines =
        msg.contains("lines") && !msg["lines"].is_null() ? msg["lines"] : nlohmann::json(kLogTailDefaultLines);
    std::string from = m.from;
    Run(std::move(held), [id, path, lines, from](const Reply& s) { HandleLogTail(s, id, path, lines, from); });
}

}  // namespace sv
