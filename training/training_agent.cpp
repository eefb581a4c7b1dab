#include "training/training_agent.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <set>
#include <system_error>
#include <utility>

#include "base/audit_log.h"
#include "base/elapsed_time.h"
#include "training/banner_placement.h"
#include "training/overlay_request.h"
#include "training/playback_request.h"
#include "training/training_args.h"
#include "training/training_json.h"
#include "training/training_mode.h"

namespace sv {
namespace training {

using nlohmann::json;

namespace {

bool IsOrderedOp(const std::string& op) {
    static const std::set<std::string> kOrdered = {"overlay", "clear", "banner", "chat", "mode"};
    return kOrdered.count(op) != 0;
}

constexpr const char* kNoPlaybackThread = "the host could not start playing it (no thread free) — retry shortly";

std::function<int64_t()> SteadyMsOf(const TrainingHostHooks& hooks) {
    if (hooks.steadyMs) return hooks.steadyMs;
    return SteadyMilliseconds;
}

}  // namespace

// The op table, compared in this order; the first entry without needsSession that follows
// "sessions" is where the session check stands.
const TrainingAgent::OpEntry TrainingAgent::kOpTable[] = {
    {"hello", false, &TrainingAgent::OpHello},
    {"status", false, &TrainingAgent::OpStatus},
    {"start", false, &TrainingAgent::OpStart},
    {"end", false, &TrainingAgent::OpEnd},  // refuses on its own without a session
    {"events", false, &TrainingAgent::OpEvents},
    {"transcript", false, &TrainingAgent::OpTranscript},
    {"voices", false, &TrainingAgent::OpVoices},
    {"sessions", false, &TrainingAgent::OpSessions},
    {"mode", true, &TrainingAgent::OpMode},
    {"overlay", true, &TrainingAgent::OpOverlay},
    {"clear", true, &TrainingAgent::OpClear},
    {"chat", true, &TrainingAgent::OpChat},
    {"chat-read", true, &TrainingAgent::OpChatRead},
    {"say", true, &TrainingAgent::OpSay},
    {"audio", true, &TrainingAgent::OpAudio},
    {"input", true, &TrainingAgent::OpInput},
    {"ui-tree", true, &TrainingAgent::OpUiTree},
    {"element-at", true, &TrainingAgent::OpElementAt},
    {"banner", true, &TrainingAgent::OpBanner},
    {"mascot", true, &TrainingAgent::OpMascot},
    {"speech-text", true, &TrainingAgent::OpSpeechText},
};

template <typename F>
auto TrainingAgent::Forward(F f) {
    std::shared_ptr<EntryGate> gate = callbackGate_;
    return [gate, f](const auto&... args) {
        if (!gate->Enter()) return;
        try {
            f(args...);
        } catch (...) {
            // A callback thread of the Windows side must never see our failures.
        }
        gate->Leave();
    };
}

void TrainingAgent::WireActivitySource(IActivitySource& source) {
    source.OnTraineeActive = Forward([this] { OnTraineeActive(); });
    source.OnActivity = Forward([this](const Activity& a) { reports_.OnActivity(a); });
    source.OnForeground = Forward([this](const WindowInfo& w) { reports_.OnForeground(w); });
    source.OnDialog = Forward([this](const WindowInfo& w) { reports_.OnDialog(w); });
}

// ---- construction and teardown ----

TrainingAgent::TrainingAgent(std::function<void(const std::string&)> sink, const TrainingHostHooks& hooks)
    : sink_(std::move(sink)),
      hooks_(hooks),
      steadyMs_(SteadyMsOf(hooks)),
      gate_(steadyMs_, hooks.quietMs),
      events_(hooks.clock),
      chat_(events_, sink_, hooks.surface, [this] { return CurrentSession(); }),
      reports_(ActivityReports::Hooks{[this] { return CurrentSession(); },
                                      [this](const std::string& kind, const json& data) { EmitEvent(kind, data); },
                                      hooks.inspector, [this] { return Origin(); }, steadyMs_}),
      callbackGate_(std::make_shared<EntryGate>()) {
    if (hooks_.surface) {
        hooks_.surface->OnTraineeChat = Forward([this](const std::string& text) { chat_.OnTraineeLine(text); });
        // The surface calls this on a thread kept for it, never its UI thread: a stop whose
        // thread of its own cannot be started ends the session right there instead of
        // being dropped.
        hooks_.surface->OnStopRequested = Forward([this] {
            if (!RunDetached([this] { OnStopRequested(); })) OnStopRequested();
        });
    }
    if (hooks_.inspector) {
        hooks_.inspector->OnFocus = Forward([this](const UiElement& e) { reports_.OnFocus(e); });
    }
}

TrainingAgent::~TrainingAgent() { Shutdown(); }

int64_t TrainingAgent::SteadyMs() const { return steadyMs_(); }

void TrainingAgent::SetEndLocallyHook(std::function<void()> hook) {
    MutexLock lock(mutex_);
    endLocallyHook_ = std::move(hook);
}

bool TrainingAgent::Shutdown() {
    std::call_once(shutdownOnce_, [this] {
        closing_.store(true);
        // Whoever waits for speech or audio lets go now; the surface calls end on their own.
        playbacks_.Close();
        // No callback of the Windows side enters from here on; those inside are waited for
        // below, with the rest.
        callbackGate_->Close(std::chrono::milliseconds(0));
        // The end runs on a thread of its own: a surface call of it that never returns
        // holds the teardown no longer than the bounds below.
        if (!RunDetached([this] { EndForShutdown(); })) EndForShutdown();
        workers_.Stop();

        // Detached work uses this object until it ends, so it is waited for rather than
        // freed under a running thread; but the host's exit is not held for ever: past the
        // final bound the owner keeps this object (and what it calls) alive instead.
        const auto started = std::chrono::steady_clock::now();
        const TrainingBounds& bounds = hooks_.bounds;
        if (!WaitForWork(started + std::chrono::milliseconds(bounds.shutdownGraceMs))) {
            WriteAuditLine("training",
                           "shutdown waits for " + std::to_string(workers_.Running()) + " training thread(s)", "");
            allWorkEnded_ =
                WaitForWork(std::chrono::steady_clock::now() + std::chrono::milliseconds(bounds.shutdownFinalMs));
            auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started)
                          .count();
            WriteAuditLine("training",
                           allWorkEnded_ ? "shutdown done after " + std::to_string(ms) + " ms"
                                         : "shutdown gives up after " + std::to_string(ms) + " ms with " +
                                               std::to_string(workers_.Running()) + " training thread(s) and " +
                                               std::to_string(playbacks_.Running()) +
                                               " playback call(s) still running",
                           "");
        }
    });
    std::unique_ptr<IActivitySource> source;
    if (allWorkEnded_) {
        MutexLock lock(mutex_);
        source = std::move(activitySource_);
    }
    return allWorkEnded_;
}

void TrainingAgent::BeginShutdown() {
    closing_.store(true);
    EndForShutdown();
}

void TrainingAgent::EndForShutdown() {
    {
        MutexLock lifecycle(lifecycleMutex_);
        lifecycleClosed_ = true;
    }
    lifecycleIdle_.NotifyAll();
    try {
        EndSession("host shutting down", "");
    } catch (...) {
    }
    MutexLock lifecycle(lifecycleMutex_);
    StopQuietWatch();
}

bool TrainingAgent::WaitForWork(std::chrono::steady_clock::time_point deadline) {
    auto left = [deadline] {
        auto d = deadline - std::chrono::steady_clock::now();
        return std::max(std::chrono::duration_cast<std::chrono::milliseconds>(d), std::chrono::milliseconds(0));
    };
    bool done = workers_.WaitFor(left());
    // Reports still waiting belong to the session that ended; ordered requests still
    // waiting are answered (the session is gone).
    done = reports_.StopBy(deadline) && done;
    done = orderedWorker_.FinishBy(deadline) && done;
    done = callbackGate_->Close(left()) == 0 && done;
    // The surface was told to stop playing when the session ended.
    done = playbacks_.WaitIdle(left()) && done;
    return done;
}

// ---- requests ----

void TrainingAgent::SendReply(const json& reply) {
    try {
        if (sink_) sink_(SerializeJson(reply));
    } catch (...) {
        // The reply is lost; the request itself is done.
    }
}

void TrainingAgent::SendResult(const std::string& id, const TrainingOpResult& result) {
    json reply = {{"type", "training-result"}, {"id", id}, {"ok", !result.failed}};
    if (result.failed) reply["error"] = result.error;
    if (!result.data.is_null()) reply["data"] = result.data;
    SendReply(reply);
}

void TrainingAgent::AnswerAtOnce(const std::string& id, const std::string& error) {
    SendResult(id, TrainingOpResult::Fail(error));
}

void TrainingAgent::QueueTrainingRequest(const json& message, const std::string& controllerId) {
    std::string id;
    std::string op;
    json args;
    if (message.is_object()) {
        auto it = message.find("id");
        if (it != message.end()) id = it->get<std::string>();  // a non-string id throws to the caller
        auto opIt = message.find("op");
        if (opIt != message.end() && opIt->is_string()) op = opIt->get<std::string>();
        auto argsIt = message.find("args");
        if (argsIt != message.end()) args = *argsIt;
    }
    if (closing_.load()) {
        AnswerAtOnce(id, kShuttingDownMessage);
        return;
    }
    auto task = [this, id, op, args, controllerId] { RunTrainingRequest(id, op, args, controllerId); };
    if (IsOrderedOp(op)) {
        if (!orderedWorker_.Post(task)) AnswerAtOnce(id, kBusyMessage);
        return;
    }
    if (requestThreads_.fetch_add(1) >= kMaxRequestThreads) {
        requestThreads_.fetch_sub(1);
        AnswerAtOnce(id, kBusyMessage);
        return;
    }
    const bool started = RunDetached([this, task] {
        struct Done {
            std::atomic<int32_t>& n;
            ~Done() { n.fetch_sub(1); }
        } done{requestThreads_};
        task();
    });
    if (!started) {
        requestThreads_.fetch_sub(1);
        AnswerAtOnce(id, closing_.load() ? kShuttingDownMessage : kBusyMessage);
    }
}

bool TrainingAgent::RunDetached(std::function<void()> task) { return workers_.Start(std::move(task)); }

int32_t TrainingAgent::InFlight() const { return workers_.Running(); }

void TrainingAgent::RunTrainingRequest(const std::string& id, const std::string& op, const json& args,
                                       const std::string& controllerId) {
    TrainingOpResult result;
    try {
        result = DispatchOp(op, args, controllerId);
    } catch (const std::exception& e) {
        result = TrainingOpResult::Fail(e.what());
        WriteAuditLine("training-error", op + ": " + e.what(), controllerId);
    }
    SendResult(id, result);
}

TrainingOpResult TrainingAgent::DispatchOp(const std::string& op, const json& args, const std::string& controllerId) {
    std::shared_ptr<Session> session;
    bool checked = false;
    for (const OpEntry& entry : kOpTable) {
        if (entry.needsSession && !checked) {
            session = CurrentSession();
            if (!session) return TrainingOpResult::Fail(kNoSessionMessage);
            checked = true;
        }
        if (op == entry.op) {
            OpRequest request{op, args, controllerId, session};
            return (this->*entry.handler)(request);
        }
    }
    if (!checked && !CurrentSession()) return TrainingOpResult::Fail(kNoSessionMessage);
    return TrainingOpResult::Fail("unknown training op '" + op + "'");
}

TrainingOpResult TrainingAgent::OpMascot(const OpRequest&) { return TrainingOpResult::Fail("this host has no mascot"); }

TrainingOpResult TrainingAgent::OpSpeechText(const OpRequest&) {
    return TrainingOpResult::Ok(json{{"accepted", false}});
}

TrainingOpResult TrainingAgent::OpInput(const OpRequest& r) { return PerformInput(r.session, r.args, r.controllerId); }

TrainingOpResult TrainingAgent::OpUiTree(const OpRequest& r) { return UiTree(r.args, r.controllerId); }

TrainingOpResult TrainingAgent::OpElementAt(const OpRequest& r) { return ElementAt(r.args); }

TrainingOpResult TrainingAgent::OpChat(const OpRequest& r) { return chat_.Post(r.session, r.args, r.controllerId); }

TrainingOpResult TrainingAgent::OpChatRead(const OpRequest& r) { return chat_.Read(*r.session, r.args); }

TrainingOpResult TrainingAgent::OpVoices(const OpRequest& r) {
    json voices = json::array();
    if (hooks_.surface) {
        for (const VoiceInfo& v : hooks_.surface->ListVoices(ArgBool(r.args, "refresh").value_or(false))) {
            voices.push_back(VoiceInfoJson(v));
        }
    }
    return TrainingOpResult::Ok(json{{"voices", voices}});
}

// ---- events ----

void TrainingAgent::EmitEvent(const std::string& kind, json data) {
    TrainingEventRecord record = events_.Append(kind, std::move(data));
    try {
        if (sink_) sink_(SerializeJson(MakeTrainingEvent(record)));
    } catch (...) {
        // The event stays in the log for "events".
    }
}

TrainingOpResult TrainingAgent::OpEvents(const OpRequest& r) {
    std::set<std::string> kinds;
    if (auto list = ArgStringList(r.args, "kinds")) kinds.insert(list->begin(), list->end());
    int32_t max = ArgInt(r.args, "max").value_or(200);
    int64_t since = ArgInt64(r.args, "since").value_or(0);
    json events = json::array();
    for (const TrainingEventRecord& rec : events_.Query(since, kinds, max)) events.push_back(EventRecordJson(rec));
    return TrainingOpResult::Ok(json{{"events", events}, {"seq", events_.LastSeq()}});
}

// ---- geometry ----

std::pair<int32_t, int32_t> TrainingAgent::Origin() {
    if (!hooks_.screenOrigin) return {0, 0};
    auto o = hooks_.screenOrigin();
    return {o.first, o.second};
}

json TrainingAgent::ScreenGeometry() {
    std::pair<int, int> size{0, 0};
    if (hooks_.screenSize) size = hooks_.screenSize();
    auto origin = Origin();
    return json{{"width", size.first}, {"height", size.second}, {"originX", origin.first}, {"originY", origin.second}};
}

json TrainingAgent::MapPoint(const Box& box) {
    auto origin = Origin();
    return BoxJson(box, origin.first, origin.second);
}

// ---- the input gate ----

bool TrainingAgent::GateControllerInput(const std::string& controllerId, const std::string& what) {
    if (!HasSession()) return true;
    GateDecision d = gate_.CheckControllerInput();
    if (d.allowed) return true;
    int64_t now = SteadyMs();
    bool notify = false;
    {
        MutexLock lock(mutex_);
        notify = !refusalNoticeSent_ || Elapsed(now, refusalNoticeTime_) > 1000;
        if (notify) {
            refusalNoticeTime_ = now;
            refusalNoticeSent_ = true;
        }
    }
    if (notify) {
        json data = {{"reason", d.reason}, {"what", what}};
        if (!controllerId.empty()) data["controller"] = controllerId;
        EmitEvent("input-refused", std::move(data));
        WriteAuditLine("training-input-refused", what + " reason=" + d.reason, controllerId);
    }
    return false;
}

json TrainingAgent::ExplainRefusal(const std::string& what, const std::string& reason,
                                   const std::string& controllerId) {
    json data = {{"reason", reason}, {"what", what}};
    if (!controllerId.empty()) data["controller"] = controllerId;
    EmitEvent("input-refused", std::move(data));
    WriteAuditLine("training-input-refused", what + " reason=" + reason, controllerId);
    std::string explain =
        reason == "your_turn"
            ? "It is the trainee's turn: the host refuses remote input. Switch to demo mode first if you must drive."
            : "The trainee is using the mouse or keyboard right now. Wait for them (wait_for_event) and try again "
              "once they stop.";
    return json{{"done", false}, {"refused", true}, {"reason", reason}, {"explain", explain}};
}

void TrainingAgent::OnTraineeActive() {
    std::shared_ptr<Session> session = CurrentSession();
    if (!session) return;
    WhileLive(session, [&] {
        if (!gate_.NoteTraineeInput()) return;
        EmitEvent("ai-paused", json{{"reason", "trainee-active"}});
        if (hooks_.surface) hooks_.surface->SetMode(gate_.Mode(), true);
    });
}

void TrainingAgent::CheckQuiet() {
    std::shared_ptr<Session> session = CurrentSession();
    if (!session) return;
    WhileLive(session, [&] {
        if (!gate_.TryResume()) return;
        EmitEvent("ai-resumed", json{{"quietMs", hooks_.quietMs}});
        if (hooks_.surface) hooks_.surface->SetMode(gate_.Mode(), false);
    });
}

void TrainingAgent::RunQuietWatch(uint64_t generation) {
    for (;;) {
        {
            MutexLock lock(quietMutex_);
            quietWake_.WaitFor(lock, std::chrono::milliseconds(400),
                               [&]() SV_REQUIRES(quietMutex_) { return quietGeneration_ != generation; });
            if (quietGeneration_ != generation) return;
        }
        try {
            CheckQuiet();
        } catch (...) {
        }
    }
}

// The watch is never joined: one inside a surface call that does not return must not
// hold the end. A stopped watch leaves at its next look; the teardown waits for it with
// the agent's other threads.
void TrainingAgent::StartQuietWatch() {
    StopQuietWatch();
    uint64_t generation = 0;
    {
        MutexLock lock(quietMutex_);
        generation = quietGeneration_;
    }
    if (!RunDetached([this, generation] { RunQuietWatch(generation); })) {
        // The session stays usable without its quiet notices rather than half started.
        WriteAuditLine("training", "quiet watch not started: no thread free", "");
    }
}

void TrainingAgent::StopQuietWatch() {
    {
        MutexLock lock(quietMutex_);
        ++quietGeneration_;
    }
    quietWake_.NotifyAll();
}

// ---- the "mode" op ----

TrainingOpResult TrainingAgent::OpMode(const OpRequest& r) {
    std::optional<TrainingMode> mode = ParseTrainingMode(ArgString(r.args, "mode").value_or(""));
    if (!mode || *mode == TrainingMode::kOff) {
        return TrainingOpResult::Fail("mode must be demo or your_turn (use end to stop the session)");
    }
    const std::string name = TrainingModeName(*mode);
    bool changed = false;
    // The whole change, event included, belongs to the session it was checked against: a
    // mode left behind by an ended session would refuse input in the next one.
    WhileLive(r.session, [&] {
        {
            MutexLock lock(mutex_);
            if (session_ != r.session) return;
            gate_.SetMode(*mode);
        }
        changed = true;
        if (hooks_.surface) hooks_.surface->SetMode(*mode, false);
        if (r.session->transcript) r.session->transcript->Append("mode", json{{"mode", name}});
        WriteAuditLine("training", "mode " + name, r.controllerId);
        json data = {{"mode", name}};
        if (!r.controllerId.empty()) data["controller"] = r.controllerId;
        EmitEvent("mode", std::move(data));
    });
    if (!changed) return TrainingOpResult::Fail(kNoSessionMessage);
    return TrainingOpResult::Ok(json{{"mode", name}});
}

// ---- overlays and the banner ----

TrainingOpResult TrainingAgent::OpOverlay(const OpRequest& r) {
    const auto origin = Origin();  // read once, so shape and reply share it
    OverlayRequest req =
        ParseOverlayRequest(r.args, origin.first, origin.second, [this] { return overlayIds_.fetch_add(1) + 1; });
    if (!req.error.empty()) return TrainingOpResult::Fail(req.error);
    const OverlayShape& shape = req.shape;
    ITrainingSurface* surface = hooks_.surface;
    BannerState before;
    // The session may have ended since the dispatch: its end then waits for the shape, and
    // removes it, or the shape never goes up.
    const bool shown = WhileLive(r.session, [&] {
        if (req.isStep && surface) surface->SetStep(shape.index, shape.total, req.stepTitle);
        if (r.session->transcript) r.session->transcript->Append(req.transcriptKind, req.transcript);
        before = surface ? surface->GetBannerState() : BannerState();
        if (surface) surface->ShowOverlay(shape);
    });
    if (!shown) return TrainingOpResult::Fail(kNoSessionMessage);
    WriteAuditLine("training", "overlay " + shape.kind + " id=" + shape.id, r.controllerId);
    BannerState after = surface ? surface->GetBannerState() : BannerState();
    json data = {{"id", shape.id}, {"kind", shape.kind}, {"bannerMoved", BannerMoved(before, after)}};
    if (after) data["banner"] = BoxJson(*after, origin.first, origin.second);
    return TrainingOpResult::Ok(std::move(data));
}

TrainingOpResult TrainingAgent::OpClear(const OpRequest& r) {
    std::optional<std::string> id = ArgString(r.args, "id");
    const bool cleared = WhileLive(r.session, [&] {
        if (hooks_.surface) hooks_.surface->ClearOverlays(id.value_or(""));
    });
    if (!cleared) return TrainingOpResult::Fail(kNoSessionMessage);
    WriteAuditLine("training", "clear " + id.value_or("all"), r.controllerId);
    return TrainingOpResult::Ok(json{{"cleared", id.value_or("all")}});
}

TrainingOpResult TrainingAgent::OpBanner(const OpRequest& r) {
    BannerPositionArg position = ParseBannerPosition(ArgString(r.args, "position"));
    if (!position.error.empty()) return TrainingOpResult::Fail(position.error);
    std::optional<bool> compact = ArgBool(r.args, "compact");
    BannerPlacement placement;
    const bool placed = WhileLive(r.session, [&] {
        if (hooks_.surface) placement = hooks_.surface->SetBannerPosition(position.position.value_or(""), compact);
    });
    if (!placed) return TrainingOpResult::Fail(kNoSessionMessage);
    if (!placement.visible) return TrainingOpResult::Fail("the banner is not showing");
    WriteAuditLine("training", BannerAuditDetail(position.position, compact, placement), r.controllerId);
    json data = {{"banner", MapPoint(placement.rect)}, {"compact", placement.compact}};
    if (!placement.corner.empty()) data["position"] = placement.corner;
    return TrainingOpResult::Ok(std::move(data));
}

// ---- speech and audio ----

TrainingOpResult TrainingAgent::OpSay(const OpRequest& r) {
    SayRequest req = ParseSayRequest(r.args, r.session->culture);
    if (!req.error.empty()) return TrainingOpResult::Fail(req.error);
    ITrainingSurface* surface = hooks_.surface;
    SpeechRequest speech{req.text, req.voice, req.culture, r.session->id};
    const uint32_t timeoutMs = SpeechTimeoutMs(req.text);
    Playback playback;
    // The hand-over and every record of it are one pass of the session: its end finds the
    // speech handed over and recorded (and cancels it), or neither.
    const bool inside = WhileLive(r.session, [&] {
        playback = StartPlayback(
            [surface, speech, timeoutMs] { return surface->Speak(speech, timeoutMs); }, req.wait, "speech");
        // A job that never started leaves no line claiming it was spoken.
        if (playback.refused) return;
        if (req.chat) chat_.AddInside(*r.session, "ai", r.session->trainer, req.text, true);
        json line = {{"text", req.text}};
        if (req.voiceArg) line["voice"] = *req.voiceArg;
        if (r.session->transcript) r.session->transcript->Append("say", line);
        WriteAuditLine("training", "say len=" + std::to_string(CountCodePoints(req.text)), r.controllerId);
    });
    if (!inside) return TrainingOpResult::Fail(kNoSessionMessage);
    if (playback.refused) return *playback.refused;
    return FinishPlayback(playback, req.wait, timeoutMs);
}

TrainingOpResult TrainingAgent::OpAudio(const OpRequest& r) {
    AudioRequest req = ParseAudioRequest(r.args);
    if (!req.error.empty()) return TrainingOpResult::Fail(req.error);
    ITrainingSurface* surface = hooks_.surface;
    AudioClipRequest clip{req.bytes, req.ext, r.session->id};
    Playback playback;
    const bool inside = WhileLive(r.session, [&] {
        playback = StartPlayback([surface, clip] { return surface->PlayAudio(clip, kAudioTimeoutMs); }, req.wait,
                                 "audio");
        if (playback.refused) return;
        if (req.caption && !req.caption->empty()) {
            chat_.AddInside(*r.session, "ai", r.session->trainer,
                            CutToCodePoints(*req.caption, TrainingChat::kMaxTextCodePoints), true);
        }
        const size_t size = req.bytes->size();
        json line = {{"bytes", size}, {"ext", req.ext}};
        if (req.caption) line["caption"] = *req.caption;
        if (r.session->transcript) r.session->transcript->Append("audio", line);
        WriteAuditLine("training", "audio " + req.ext + " bytes=" + std::to_string(size), r.controllerId);
    });
    if (!inside) return TrainingOpResult::Fail(kNoSessionMessage);
    if (playback.refused) return *playback.refused;
    return FinishPlayback(playback, req.wait, kAudioTimeoutMs);
}

TrainingAgent::Playback TrainingAgent::StartPlayback(PlaybackCalls::Job job, bool wait, const std::string& opName) {
    // Without a waiter the job's own thread reports the outcome, so no second thread has
    // to start for the promised event.
    PlaybackCalls::Done done;
    if (!wait) done = [this, opName](const SpeechOutcome& o) { EmitEvent(opName + "-done", SpeechOutcomeJson(o)); };
    Playback playback;
    try {
        playback.pending = playbacks_.Start(std::move(job), std::move(done));
    } catch (const std::system_error&) {
        playback.refused = TrainingOpResult::Fail(kNoPlaybackThread, json{{"queued", false}});
        return playback;
    }
    if (std::optional<SpeechOutcome> refused = playbacks_.Refusal(playback.pending)) {
        playback.refused = TrainingOpResult::Fail(refused->error, SpeechOutcomeJson(*refused));
    }
    return playback;
}

TrainingOpResult TrainingAgent::FinishPlayback(const Playback& playback, bool wait, uint32_t timeoutMs) {
    if (!wait) return TrainingOpResult::Ok(json{{"queued", true}});
    const std::chrono::milliseconds budget(static_cast<int64_t>(timeoutMs) + kPlaybackWaitSlackMs);
    SpeechOutcome outcome = playbacks_.Wait(playback.pending, budget);
    json data = SpeechOutcomeJson(outcome);
    if (outcome.error.empty()) return TrainingOpResult::Ok(std::move(data));
    return TrainingOpResult::Fail(outcome.error, std::move(data));
}

}  // namespace training
}  // namespace sv
