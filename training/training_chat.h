#pragma once
// The chat of a training session: the trainer's and the operator's lines ("chat"), the
// trainee's own lines from the banner, the lines spoken by "say" and "audio", and the
// reading of them ("chat-read"). A line goes to the event log, the session's history and
// transcript, the controllers and the banner, all while its session is live: a line of
// an ended session would reach the next session's banner. No state of its own (the lines
// live in the session), so no lock; callable from any thread.
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "training/training_event_log.h"
#include "training/training_interfaces.h"
#include "training/training_records.h"
#include "training/training_session.h"

namespace sv {
namespace training {

class TrainingChat {
public:
    static constexpr size_t kMaxTextCodePoints = 2000;
    static constexpr size_t kMaxNameCodePoints = 60;

    // send carries a message to the controllers; surface may be null (no banner).
    TrainingChat(TrainingEventLog& events, std::function<void(const std::string&)> send, ITrainingSurface* surface,
                 CurrentSessionFn current);

    // The line as added; nothing when the session has ended.
    std::optional<ChatMessage> Add(const std::shared_ptr<TrainingSession>& session, const std::string& from,
                                   const std::string& name, const std::string& text, bool spoken);
    // The same for a caller already inside the session's entry gate (WhileLive), whose
    // line belongs with the other records of that one pass.
    ChatMessage AddInside(TrainingSession& session, const std::string& from, const std::string& name,
                          const std::string& text, bool spoken);
    // The "chat" op: a line from the trainer ("ai") or, with "as": "operator", the staff.
    TrainingOpResult Post(const std::shared_ptr<TrainingSession>& session, const nlohmann::json& args,
                          const std::string& controllerId);
    // The "chat-read" op: the held lines after "since".
    TrainingOpResult Read(const TrainingSession& session, const nlohmann::json& args);
    // A line the trainee typed: trimmed, cut, dropped when blank or when no session is live.
    void OnTraineeLine(const std::string& text);

private:
    TrainingEventLog& events_;
    const std::function<void(const std::string&)> send_;
    ITrainingSurface* const surface_;
    const CurrentSessionFn current_;
};

}  // namespace training
}  // namespace sv
