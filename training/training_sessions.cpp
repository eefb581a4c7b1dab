// Training sessions: hello, status, start and end, the trainee's stop, the end when every
// controller left, and the transcript reading operations.
#include <chrono>
#include <cmath>
#include <exception>
#include <utility>

#include "base/audit_log.h"
#include "base/elapsed_time.h"
#include "training/training_agent.h"
#include "training/training_args.h"
#include "training/training_json.h"
#include "training/training_mode.h"
#include "training/training_time.h"
#include "training/transcript_writer.h"

namespace sv {
namespace training {

using nlohmann::json;

namespace {

constexpr const char* kNoSurfaceReason =
    "this Windows 7 host runs as a service with no on-screen UI; live training needs the host started on the "
    "desktop (the TMHost logon task)";

json VoiceList(ITrainingSurface* surface) {
    json voices = json::array();
    if (!surface) return voices;
    for (const VoiceInfo& v : surface->ListVoices(false)) voices.push_back(VoiceInfoJson(v));
    return voices;
}

}  // namespace

TrainingAgent::TransitionDone::~TransitionDone() {
    {
        MutexLock lifecycle(agent.lifecycleMutex_);
        --agent.transitions_;
    }
    agent.lifecycleIdle_.NotifyAll();
}

bool TrainingAgent::HasSession() {
    MutexLock lock(mutex_);
    return session_ != nullptr;
}

std::shared_ptr<TrainingAgent::Session> TrainingAgent::CurrentSession() {
    MutexLock lock(mutex_);
    return session_;
}

TrainingOpResult TrainingAgent::OpHello(const OpRequest&) { return Hello(); }
TrainingOpResult TrainingAgent::OpStatus(const OpRequest&) { return Status(); }
TrainingOpResult TrainingAgent::OpStart(const OpRequest& r) { return StartSession(r.args, r.controllerId); }
TrainingOpResult TrainingAgent::OpTranscript(const OpRequest& r) { return Transcript(r.args); }

TrainingOpResult TrainingAgent::OpEnd(const OpRequest& r) {
    if (!HasSession()) return TrainingOpResult::Fail("no training session is active");
    std::string reason = "ended by controller";
    if (std::optional<std::string> summary = ArgString(r.args, "summary")) reason += ": " + *summary;
    return EndSession(reason, r.controllerId);
}

TrainingOpResult TrainingAgent::Hello() {
    json data = json::object();
    data["protocol"] = 1;
    data["hostVersion"] = hooks_.hostVersion;
    data["variant"] = "win7";
    data["quietMs"] = hooks_.quietMs;
    data["supported"] = hooks_.surface != nullptr;
    if (hooks_.surface) {
        data["features"] = {"overlay", "chat", "say", "audio", "modes", "events", "ui-tree", "transcript", "banner"};
    } else {
        data["reason"] = kNoSurfaceReason;
    }
    std::shared_ptr<Session> session = CurrentSession();
    data["active"] = session != nullptr;
    data["mode"] = TrainingModeName(gate_.Mode());
    data["seq"] = events_.LastSeq();
    data["screen"] = ScreenGeometry();
    if (session) data["sessionId"] = session->id;
    data["voices"] = VoiceList(hooks_.surface);
    return TrainingOpResult::Ok(std::move(data));
}

TrainingOpResult TrainingAgent::Status() {
    json data = json::object();
    std::shared_ptr<Session> session = CurrentSession();
    int64_t stopTime = 0;
    {
        MutexLock lock(mutex_);
        stopTime = traineeStopTime_;
    }
    data["active"] = session != nullptr;
    data["mode"] = TrainingModeName(gate_.Mode());
    data["paused"] = gate_.IsTraineeActive();
    data["seq"] = events_.LastSeq();
    if (session) data["sessionId"] = session->id;
    int64_t last = gate_.LastTraineeInput();
    if (last != 0) data["msSinceLocalInput"] = Elapsed(SteadyMs(), last);
    if (hooks_.foregroundWindow) {
        if (std::optional<WindowInfo> w = hooks_.foregroundWindow()) {
            auto origin = Origin();
            data["foreground"] = WindowInfoJson(*w, origin.first, origin.second);
        }
    }
    if (hooks_.surface) {
        if (BannerState banner = hooks_.surface->GetBannerState()) data["banner"] = MapPoint(*banner);
        data["muted"] = hooks_.surface->IsMuted();
        data["volume"] = hooks_.surface->GetVolume();
    }
    if (stopTime != 0) {
        int64_t secs = stopTime / 1000;
        if (stopTime < 0 && stopTime % 1000 != 0) --secs;
        data["stoppedByTraineeAt"] = FormatUtcSeconds(secs);
    }
    return TrainingOpResult::Ok(std::move(data));
}

TrainingOpResult TrainingAgent::StartSession(const json& args, const std::string& controllerId) {
    if (!hooks_.surface) {
        return TrainingOpResult::Fail(
            "unsupported: this host has no on-screen UI, and a training session must be visible to the person at "
            "the machine");
    }
    int64_t now = hooks_.clock();
    std::optional<TrainingMode> parsed = ParseTrainingMode(ArgString(args, "mode").value_or(""));
    TrainingMode mode = (!parsed || *parsed == TrainingMode::kOff) ? TrainingMode::kDemo : *parsed;

    std::shared_ptr<Session> live;
    std::shared_ptr<Session> session;
    {
        // Only the record changes under the lifecycle lock: the surface and the activity
        // source are called without it, so a stop never waits behind a start.
        MutexLock lifecycle(lifecycleMutex_);
        if (lifecycleClosed_) return TrainingOpResult::Fail(kShuttingDownMessage);
        {
            MutexLock lock(mutex_);
            if (traineeStopTime_ != 0) {
                // Measured on the steady clock: a time sync must neither lengthen nor lift it.
                int64_t ago = Elapsed(SteadyMs(), traineeStopSteady_);
                if (ago < hooks_.restartHoldOffMs) {
                    return TrainingOpResult::Fail("the trainee ended the last session " + std::to_string(ago / 60000) +
                                                  " min ago — do not restart until they ask again (\"Mulai pelatihan\" "
                                                  "on their Sorvane window, which shows up in list_session_requests)");
                }
            }
            live = session_;
        }
        if (!live) {
            // An earlier start or end still at work on the surface comes first; one that
            // does not finish in time turns this start away rather than hold it.
            if (!lifecycleIdle_.WaitFor(lifecycle, std::chrono::milliseconds(hooks_.bounds.beginWaitMs),
                                        [this]() SV_REQUIRES(lifecycleMutex_) {
                                            return transitions_ == 0 || lifecycleClosed_;
                                        })) {
                return TrainingOpResult::Fail(kBusyMessage);
            }
            if (lifecycleClosed_) return TrainingOpResult::Fail(kShuttingDownMessage);
            MutexLock lock(mutex_);
            live = session_;
            if (!live) {
                session = NewSession(args, controllerId, now, mode);
                session_ = session;
                gate_.SetMode(mode);
                ++transitions_;
            }
        }
    }
    if (live) {
        json data = {{"sessionId", live->id},
                     {"alreadyActive", true},
                     {"mode", TrainingModeName(gate_.Mode())},
                     {"seq", events_.LastSeq()},
                     {"screen", ScreenGeometry()}};
        return TrainingOpResult::Ok(std::move(data));
    }
    bool begun = false;
    {
        TransitionDone done{*this};
        begun = SetSessionGoing(session, controllerId);
    }
    if (!begun) return TrainingOpResult::Fail(kEndedBeforeBannerMessage);
    return TrainingOpResult::Ok(StartReply(*session, TrainingModeName(mode)));
}

std::shared_ptr<TrainingAgent::Session> TrainingAgent::NewSession(const json& args, const std::string& controllerId,
                                                                  int64_t now, TrainingMode mode) {
    auto session = std::make_shared<Session>();
    session->id = NewSessionId(now);
    session->title = CutToCodePoints(ArgString(args, "title"), 120).value_or("Sesi pelatihan");
    session->trainer = CutToCodePoints(ArgString(args, "trainer"), 80).value_or("Asisten AI");
    session->culture = ArgString(args, "language").value_or("id-ID");
    session->mode = mode;
    session->startTime = now;
    session->startSteady = SteadyMs();
    session->controller = controllerId;
    session->transcript = std::make_unique<TranscriptWriter>(session->id, hooks_.transcriptDirectory, hooks_.clock);
    session->openWait = std::chrono::milliseconds(hooks_.bounds.beginWaitMs);
    return session;
}

bool TrainingAgent::SetSessionGoing(const std::shared_ptr<Session>& session, const std::string& controllerId) {
    // The start is inside its session while it sets it going, before anyone else may enter:
    // an end that comes meanwhile waits for it (bounded), and ops wait for the banner.
    if (!session->live.EnterToOpen()) return false;
    struct Leave {
        EntryGate& gate;
        ~Leave() { gate.Leave(); }
    } leave{session->live};

    const TrainingMode mode = session->mode;
    const std::string modeName = TrainingModeName(mode);
    json startData = {{"title", session->title},
                      {"trainer", session->trainer},
                      {"language", session->culture},
                      {"mode", modeName}};
    if (!controllerId.empty()) startData["controller"] = controllerId;
    session->transcript->Append("start", startData);

    ITrainingSurface* surface = hooks_.surface;
    surface->BeginSession(*session);
    if (hooks_.trackAction) hooks_.trackAction("training_start");
    if (hooks_.trackScreenView) hooks_.trackScreenView("training_banner");
    surface->SetMode(mode, false);

    std::unique_ptr<IActivitySource> source;
    if (hooks_.makeActivitySource) {
        source = hooks_.makeActivitySource();
        if (source) {
            WireActivitySource(*source);
            source->Start();
        }
    }
    if (hooks_.inspector) hooks_.inspector->StartFocusTracking();

    bool setUp = false;
    std::string endReason;
    std::unique_ptr<IActivitySource> previous;
    {
        MutexLock lifecycle(lifecycleMutex_);
        {
            MutexLock lock(mutex_);
            if (session_ == session) {
                // From here the session's end stops what the start set going.
                session->setUp = true;
                setUp = true;
                previous = std::move(activitySource_);
                activitySource_ = std::move(source);
            }
        }
        if (setUp && hooks_.quietWatch) StartQuietWatch();
        endReason = session->endReason;
    }
    if (!setUp) {
        // The session ended while it started: what the start set going stops here, as no
        // end will stop it, and a banner that came up after the end goes again. No other
        // session starts before this start has finished.
        UnwireActivitySource(std::move(source));
        if (hooks_.inspector) hooks_.inspector->StopFocusTracking();
        surface->EndSession(endReason);
        return false;
    }
    // A source left over from before is stopped and destroyed outside the locks.
    UnwireActivitySource(std::move(previous));

    WriteAuditLine("training", "start session=" + session->id + " mode=" + modeName + " title=" + session->title,
                   controllerId);
    EmitEvent("session-started", json{{"sessionId", session->id}, {"mode", modeName}, {"title", session->title}});
    // The banner is up: the session's ops may enter now. Closed meanwhile: an end has it.
    return session->live.Open();
}

void TrainingAgent::UnwireActivitySource(std::unique_ptr<IActivitySource> source) {
    if (!source) return;
    source->Stop();
    source->OnTraineeActive = nullptr;
    source->OnActivity = nullptr;
    source->OnForeground = nullptr;
    source->OnDialog = nullptr;
}

json TrainingAgent::StartReply(const Session& session, const std::string& modeName) {
    ITrainingSurface* surface = hooks_.surface;
    json data = {{"sessionId", session.id},
                 {"mode", modeName},
                 {"seq", events_.LastSeq()},
                 {"screen", ScreenGeometry()}};
    if (BannerState banner = surface->GetBannerState()) data["banner"] = MapPoint(*banner);
    if (hooks_.foregroundWindow) {
        if (std::optional<WindowInfo> w = hooks_.foregroundWindow()) {
            auto origin = Origin();
            data["foreground"] = WindowInfoJson(*w, origin.first, origin.second);
        }
    }
    data["voices"] = VoiceList(surface);
    if (!session.transcript->FilePath().empty()) data["transcript"] = session.transcript->FilePath();
    return data;
}

TrainingOpResult TrainingAgent::EndSession(const std::string& reason, const std::string& actor) {
    return EndThisSession(CurrentSession(), reason, actor);
}

TrainingOpResult TrainingAgent::EndThisSession(const std::shared_ptr<Session>& session, const std::string& reason,
                                               const std::string& actor) {
    if (!session) return TrainingOpResult::Ok(json{{"ended", false}});
    // First of all, and under no lock, nothing more of the session gets in. What is on its
    // way to the trainee in its name gets a bounded time to finish, so the surface's end
    // below removes it; a call that does not return in time is reported and left to end
    // on its own (the surface refuses what comes from a session it no longer shows).
    const int32_t inside = session->live.Close(std::chrono::milliseconds(hooks_.bounds.endGateMs));
    if (inside > 0) {
        WriteAuditLine("training",
                       "end of session=" + session->id + " leaves " + std::to_string(inside) + " call(s) still inside",
                       "");
    }
    std::unique_ptr<IActivitySource> source;
    bool setUp = false;
    {
        MutexLock lifecycle(lifecycleMutex_);
        {
            MutexLock lock(mutex_);
            // Another end took it first, or a later session is live: nothing of ours to end.
            if (session_ != session) return TrainingOpResult::Ok(json{{"ended", false}});
            session_.reset();
            session->endReason = reason;
            setUp = session->setUp;
            if (setUp) source = std::move(activitySource_);
            gate_.SetMode(TrainingMode::kOff);
        }
        if (setUp) StopQuietWatch();
        ++transitions_;
    }
    TransitionDone done{*this};
    playbacks_.CancelAll();
    reports_.NoteDropped();

    UnwireActivitySource(std::move(source));
    if (setUp && hooks_.inspector) hooks_.inspector->StopFocusTracking();
    if (hooks_.surface) hooks_.surface->EndSession(reason);
    if (hooks_.trackAction) hooks_.trackAction("training_stop");
    if (hooks_.trackScreenView) hooks_.trackScreenView("window");
    if (session->transcript) session->transcript->Append("end", json{{"reason", reason}});
    WriteAuditLine("training", "end session=" + session->id + " reason=" + reason, actor);
    EmitEvent("session-ended", json{{"sessionId", session->id}, {"reason", reason}});

    int64_t chatCount = session->ChatCount();
    int64_t elapsed = Elapsed(SteadyMs(), session->startSteady);
    double minutes = std::round(static_cast<double>(elapsed) / 6000.0) / 10.0;
    json data = {{"ended", true}, {"sessionId", session->id}, {"chatMessages", chatCount}, {"minutes", minutes}};
    if (session->transcript && !session->transcript->FilePath().empty()) {
        data["transcript"] = session->transcript->FilePath();
    }
    return TrainingOpResult::Ok(std::move(data));
}

void TrainingAgent::OnStopRequested() {
    std::shared_ptr<Session> session = CurrentSession();
    if (!session) return;
    {
        MutexLock lock(mutex_);
        traineeStopTime_ = hooks_.clock();
        traineeStopSteady_ = SteadyMs();
    }
    EmitEvent("stopped", json{{"by", "trainee"}});
    WriteAuditLine("training", "stopped by the trainee (banner stop button)", "");
    EndThisSession(session, "stopped by the trainee", "");
    std::function<void()> hook;
    {
        MutexLock lock(mutex_);
        hook = endLocallyHook_;
    }
    if (hook) hook();
}

void TrainingAgent::OnControllersGone(int remaining) {
    if (remaining != 0 || closing_.load()) return;
    std::shared_ptr<Session> gone = CurrentSession();
    if (!gone) return;
    // No thread to spare: the session must still end, so end it on the caller's thread.
    if (!RunDetached([this, gone] { EndForAllGone(gone); }) && !closing_.load()) EndForAllGone(gone);
}

void TrainingAgent::EndForAllGone(const std::shared_ptr<Session>& session) {
    EndThisSession(session, "all controllers disconnected", "");
}

TrainingOpResult TrainingAgent::OpSessions(const OpRequest&) {
    json sessions = json::array();
    if (!hooks_.transcriptDirectory.empty()) {
        for (const TranscriptListEntry& e : ListTranscripts(hooks_.transcriptDirectory, 20)) {
            sessions.push_back(json{{"sessionId", e.sessionId}, {"bytes", e.bytes}, {"updated", e.updated}});
        }
    }
    return TrainingOpResult::Ok(json{{"sessions", sessions}});
}

TrainingOpResult TrainingAgent::Transcript(const json& args) {
    std::optional<std::string> id = ArgString(args, "sessionId");
    std::shared_ptr<Session> session = CurrentSession();
    if (!id && session) {
        json entries = json::array();
        if (session->transcript) {
            for (json& e : session->transcript->Entries()) entries.push_back(std::move(e));
        }
        return TrainingOpResult::Ok(json{{"sessionId", session->id}, {"active", true}, {"entries", entries}});
    }
    const std::string& dir = hooks_.transcriptDirectory;
    if (dir.empty()) return TrainingOpResult::Fail("no transcript directory on this host");
    if (!id) {
        std::vector<TranscriptListEntry> newest = ListTranscripts(dir, 1);
        if (newest.empty()) return TrainingOpResult::Fail("no training session has been recorded on this machine");
        id = newest.front().sessionId;
    }
    std::optional<std::vector<json>> lines = ReadTranscript(dir, *id);
    if (!lines) return TrainingOpResult::Fail("no transcript '" + *id + "' on this machine");
    json entries = json::array();
    for (json& e : *lines) entries.push_back(std::move(e));
    bool active = session && session->id == *id;
    return TrainingOpResult::Ok(json{{"sessionId", *id}, {"active", active}, {"entries", entries}});
}

}  // namespace training
}  // namespace sv
