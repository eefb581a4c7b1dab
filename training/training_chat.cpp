#include "training/training_chat.h"

#include <exception>
#include <utility>

#include "base/audit_log.h"
#include "training/training_args.h"
#include "training/training_json.h"

namespace sv {
namespace training {

using nlohmann::json;

TrainingChat::TrainingChat(TrainingEventLog& events, std::function<void(const std::string&)> send,
                           ITrainingSurface* surface, CurrentSessionFn current)
    : events_(events), send_(std::move(send)), surface_(surface), current_(std::move(current)) {}

std::optional<ChatMessage> TrainingChat::Add(const std::shared_ptr<TrainingSession>& session, const std::string& from,
                                             const std::string& name, const std::string& text, bool spoken) {
    std::optional<ChatMessage> added;
    WhileLive(session, current_, [&] { added = AddInside(*session, from, name, text, spoken); });
    return added;
}

ChatMessage TrainingChat::AddInside(TrainingSession& session, const std::string& from, const std::string& name,
                                    const std::string& text, bool spoken) {
    json data = {{"from", from}, {"name", name}, {"text", text}, {"spoken", spoken}};
    TrainingEventRecord record = events_.Append("chat", data);
    ChatMessage message;
    message.seq = record.seq;
    message.ts = record.ts;
    message.from = from;
    message.name = name;
    message.text = text;
    message.spoken = spoken;
    session.AddChat(message);
    if (session.transcript) session.transcript->Append("chat", data);
    try {
        if (send_) send_(SerializeJson(MakeTrainingEvent(record)));
    } catch (...) {
        // The line stays in the log and the history for "events" and "chat-read".
    }
    if (surface_) surface_->AppendChat(message);
    return message;
}

TrainingOpResult TrainingChat::Post(const std::shared_ptr<TrainingSession>& session, const json& args,
                                    const std::string& controllerId) {
    std::optional<std::string> text = CutToCodePoints(ArgString(args, "text"), kMaxTextCodePoints);
    if (IsBlank(text)) return TrainingOpResult::Fail("chat needs text");
    std::optional<std::string> as = ArgString(args, "as");
    std::string from = (as && *as == "operator") ? "operator" : "ai";
    std::optional<std::string> nameArg = ArgString(args, "name");
    std::string name = nameArg ? CutToCodePoints(*nameArg, kMaxNameCodePoints) : (from == "ai" ? session->trainer : "Staf");
    std::optional<ChatMessage> m = Add(session, from, name, *text, false);
    if (!m) return TrainingOpResult::Fail(kNoSessionMessage);
    WriteAuditLine("training", "chat " + from + " len=" + std::to_string(CountCodePoints(*text)), controllerId);
    return TrainingOpResult::Ok(json{{"seq", m->seq}});
}

TrainingOpResult TrainingChat::Read(const TrainingSession& session, const json& args) {
    int64_t since = ArgInt64(args, "since").value_or(0);
    json messages = json::array();
    for (const ChatMessage& m : session.ChatSince(since)) {
        messages.push_back(json{{"seq", m.seq},
                                {"ts", m.ts},
                                {"from", m.from},
                                {"name", m.name},
                                {"text", m.text},
                                {"spoken", m.spoken}});
    }
    return TrainingOpResult::Ok(json{{"messages", messages}, {"seq", events_.LastSeq()}});
}

void TrainingChat::OnTraineeLine(const std::string& text) {
    try {
        std::shared_ptr<TrainingSession> session = current_();
        if (!session) return;
        std::string t = TrimWhitespace(text);
        if (t.empty()) return;
        t = CutToCodePoints(t, kMaxTextCodePoints);
        if (!Add(session, "trainee", "Peserta", t, false)) return;
        WriteAuditLine("training", "chat trainee len=" + std::to_string(CountCodePoints(t)), "");
    } catch (const std::exception& e) {
        WriteAuditLine("training-error", std::string("chat: ") + e.what(), "");
    }
}

}  // namespace training
}  // namespace sv
