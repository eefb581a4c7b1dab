#pragma once
// The platform-free heart of training mode: requests, sessions, events and the input gate.
// Ordered requests run on one SerialWorker, the others on counted detached threads; the
// chat is a TrainingChat and the trainee's activity an ActivityReports, both of which act
// only while their session is live (the session's entry gate, see WhileLive).
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "base/annotated_mutex.h"
#include "base/worker_group.h"
#include "training/activity_reports.h"
#include "training/entry_gate.h"
#include "training/playback_calls.h"
#include "training/remote_input.h"
#include "training/serial_worker.h"
#include "training/trainee_activity_gate.h"
#include "training/training_chat.h"
#include "training/training_event_log.h"
#include "training/training_host_hooks.h"
#include "training/training_interfaces.h"
#include "training/training_records.h"
#include "training/training_session.h"

namespace sv {
namespace training {

class TrainingAgent {
public:
    using Session = TrainingSession;

    // Above these the request is answered at once with kBusyMessage; the trainee's stop and
    // the end after all controllers left never count against them.
    static constexpr size_t kMaxQueuedRequests = 256;
    static constexpr int32_t kMaxRequestThreads = 64;
    static constexpr const char* kBusyMessage =
        "the host is busy with earlier training requests — retry shortly";
    static constexpr const char* kShuttingDownMessage = "the host is shutting down — retry once it is back";
    // A start whose session was ended (by the trainee, the controllers or the host) before
    // its banner came up.
    static constexpr const char* kEndedBeforeBannerMessage =
        "the training session was ended before its banner came up — start again if it is still wanted";
    static constexpr uint32_t kTreeTimeoutMs = 15000;
    static constexpr uint32_t kElementTimeoutMs = 5000;

    TrainingAgent(std::function<void(const std::string&)> sink, const TrainingHostHooks& hooks);
    ~TrainingAgent();
    TrainingAgent(const TrainingAgent&) = delete;
    TrainingAgent& operator=(const TrainingAgent&) = delete;

    void SetEndLocallyHook(std::function<void()> hook) SV_EXCLUDES(mutex_);
    void QueueTrainingRequest(const nlohmann::json& message, const std::string& controllerId)
        SV_EXCLUDES(lifecycleMutex_, mutex_);
    // False when the controller's input must be dropped (the agent reports the refusal).
    bool GateControllerInput(const std::string& controllerId, const std::string& what) SV_EXCLUDES(mutex_);
    // May end the session on the caller's thread.
    void OnControllersGone(int remaining) SV_EXCLUDES(lifecycleMutex_, mutex_);
    // The host is stopping while its connections still carry what is sent: every request
    // from here on is answered "shutting down", the end after all controllers left no
    // longer comes, and a live session ends now with "host shutting down" (on the caller's
    // thread), so its controllers hear it. Shutdown still does the rest.
    void BeginShutdown() SV_EXCLUDES(lifecycleMutex_, mutex_, quietMutex_);
    // Ends the session and waits for the agent's threads. False when some were still
    // running at the final bound: the owner must then keep the agent (and what it points
    // at) alive rather than free it under them.
    bool Shutdown() SV_EXCLUDES(lifecycleMutex_, mutex_, quietMutex_);

private:
    // The unit tests drive the inner steps below through this (it lives beside the fakes).
    friend class TrainingAgentProbe;

    // Request running. False when the task could not start (shutting down, no thread).
    bool RunDetached(std::function<void()> task);
    void RunTrainingRequest(const std::string& id, const std::string& op, const nlohmann::json& args,
                            const std::string& controllerId);
    TrainingOpResult DispatchOp(const std::string& op, const nlohmann::json& args, const std::string& controllerId);

    // Sessions.
    bool HasSession() SV_EXCLUDES(mutex_);
    std::shared_ptr<Session> CurrentSession() SV_EXCLUDES(mutex_);
    TrainingOpResult Hello() SV_EXCLUDES(mutex_);
    TrainingOpResult Status() SV_EXCLUDES(mutex_);
    TrainingOpResult StartSession(const nlohmann::json& args, const std::string& controllerId)
        SV_EXCLUDES(lifecycleMutex_, mutex_);
    TrainingOpResult EndSession(const std::string& reason, const std::string& actor)
        SV_EXCLUDES(lifecycleMutex_, mutex_);
    // Ends session when it is still the live one ({"ended": false} otherwise).
    TrainingOpResult EndThisSession(const std::shared_ptr<Session>& session, const std::string& reason,
                                    const std::string& actor) SV_EXCLUDES(lifecycleMutex_, mutex_);
    void OnStopRequested() SV_EXCLUDES(lifecycleMutex_, mutex_);
    // Ends `session` when it is still the live one: a session started after the last
    // controller left belongs to whoever started it.
    void EndForAllGone(const std::shared_ptr<Session>& session) SV_EXCLUDES(lifecycleMutex_, mutex_);

    // Events and transcripts. The sink is called out to, never under a lock of ours.
    void EmitEvent(const std::string& kind, nlohmann::json data) SV_EXCLUDES(lifecycleMutex_, mutex_);
    TrainingOpResult Transcript(const nlohmann::json& args);

    // The input gate and the trainee's activity.
    nlohmann::json ExplainRefusal(const std::string& what, const std::string& reason, const std::string& controllerId);
    void OnTraineeActive() SV_EXCLUDES(mutex_);
    void CheckQuiet() SV_EXCLUDES(mutex_);

    // Remote input and reading the screen.
    TrainingOpResult PerformInput(const std::shared_ptr<Session>& session, const nlohmann::json& args,
                                  const std::string& controllerId);
    // Types the text of an "input" a piece at a time: an end halts it after the piece
    // under way, and the reply says how much was typed.
    TrainingOpResult TypeText(const std::shared_ptr<Session>& session, const InputRequest& req,
                              const std::string& detail, const std::string& controllerId);
    TrainingOpResult UiTree(const nlohmann::json& args, const std::string& controllerId);
    TrainingOpResult ElementAt(const nlohmann::json& args);

    // Speech and audio: starts job in the surface; the caller is inside its session's
    // entry gate, and the session's end cancels the job. A job that cannot start (too many
    // playing, no thread, shutting down) is refused at once: refused holds the reply.
    // Otherwise Finish waits for the outcome (an op error when it carries one) or answers
    // {"queued": true}, the outcome following as the event opName + "-done".
    struct Playback {
        std::shared_ptr<PlaybackCalls::Pending> pending;
        std::optional<TrainingOpResult> refused;
    };
    Playback StartPlayback(PlaybackCalls::Job job, bool wait, const std::string& opName);
    TrainingOpResult FinishPlayback(const Playback& playback, bool wait, uint32_t timeoutMs);

    // Geometry.
    nlohmann::json ScreenGeometry();
    nlohmann::json MapPoint(const Box& box);

    TraineeActivityGate& Gate() { return gate_; }
    TrainingEventLog& Events() { return events_; }
    int32_t InFlight() const;

    // What one dispatched request carries to its handler.
    struct OpRequest {
        const std::string& op;
        const nlohmann::json& args;
        const std::string& controllerId;
        std::shared_ptr<Session> session;  // set for the ops behind the session check
    };
    using OpHandler = TrainingOpResult (TrainingAgent::*)(const OpRequest&);

    // Wraps a member call so it runs only while the callback gate is open.
    template <typename F>
    auto Forward(F f);
    // Runs act only while session is the live one; its end waits until act has returned.
    // False (act not run) once the session has ended. Never call the end from inside.
    template <typename F>
    bool WhileLive(const std::shared_ptr<Session>& session, F&& act) {
        return training::WhileLive(session, [this] { return CurrentSession(); }, std::forward<F>(act));
    }
    // Intervals (throttles, hold-offs, durations): the steady clock, never the wall clock.
    int64_t SteadyMs() const;

    void WireActivitySource(IActivitySource& source);
    // Stops source (if any) and empties its callbacks.
    static void UnwireActivitySource(std::unique_ptr<IActivitySource> source);
    void RunQuietWatch(uint64_t generation) SV_EXCLUDES(quietMutex_, mutex_);
    void StartQuietWatch() SV_REQUIRES(lifecycleMutex_) SV_EXCLUDES(quietMutex_);
    void StopQuietWatch() SV_REQUIRES(lifecycleMutex_) SV_EXCLUDES(quietMutex_);
    // The teardown's end of the live session, on a thread of its own.
    void EndForShutdown() SV_EXCLUDES(lifecycleMutex_, mutex_);
    // Waits until deadline for the agent's threads and the calls still inside it; true
    // when none is left.
    bool WaitForWork(std::chrono::steady_clock::time_point deadline);
    // The three steps of a start: the record, what it sets going, and the answer.
    std::shared_ptr<Session> NewSession(const nlohmann::json& args, const std::string& controllerId, int64_t now,
                                        TrainingMode mode);
    // False when the session ended before its banner came up.
    bool SetSessionGoing(const std::shared_ptr<Session>& session, const std::string& controllerId)
        SV_EXCLUDES(lifecycleMutex_, mutex_);
    nlohmann::json StartReply(const Session& session, const std::string& modeName);
    void SendReply(const nlohmann::json& reply);
    // The one "training-result" of a request.
    void SendResult(const std::string& id, const TrainingOpResult& result);
    void AnswerAtOnce(const std::string& id, const std::string& error);
    std::pair<int32_t, int32_t> Origin();

    // Op handlers, in the dispatch order.
    TrainingOpResult OpHello(const OpRequest& r);
    TrainingOpResult OpStatus(const OpRequest& r);
    TrainingOpResult OpStart(const OpRequest& r);
    TrainingOpResult OpEnd(const OpRequest& r);
    TrainingOpResult OpEvents(const OpRequest& r);
    TrainingOpResult OpTranscript(const OpRequest& r);
    TrainingOpResult OpVoices(const OpRequest& r);
    TrainingOpResult OpSessions(const OpRequest& r);
    TrainingOpResult OpMode(const OpRequest& r);
    TrainingOpResult OpOverlay(const OpRequest& r);
    TrainingOpResult OpClear(const OpRequest& r);
    TrainingOpResult OpChat(const OpRequest& r);
    TrainingOpResult OpChatRead(const OpRequest& r);
    TrainingOpResult OpSay(const OpRequest& r);
    TrainingOpResult OpAudio(const OpRequest& r);
    TrainingOpResult OpBanner(const OpRequest& r);
    TrainingOpResult OpMascot(const OpRequest& r);
    TrainingOpResult OpSpeechText(const OpRequest& r);
    TrainingOpResult OpInput(const OpRequest& r);
    TrainingOpResult OpUiTree(const OpRequest& r);
    TrainingOpResult OpElementAt(const OpRequest& r);

    struct OpEntry {
        const char* op;
        bool needsSession;
        OpHandler handler;
    };
    static const OpEntry kOpTable[];

    const std::function<void(const std::string&)> sink_;
    const TrainingHostHooks hooks_;
    const std::function<int64_t()> steadyMs_;
    TraineeActivityGate gate_;
    TrainingEventLog events_;
    TrainingChat chat_;
    ActivityReports reports_;  // its worker is stopped by Shutdown

    // Installing and removing a session, its activity source and its quiet watch happen
    // under this, never a call into the surface: a stop never waits behind a start. A start
    // or end at work on the surface counts in transitions_, and a new session begins only
    // once none is (so an end's surface calls never land on the next session). Taken
    // before mutex_ and quietMutex_. A session's setUp and endReason are guarded by it too.
    Mutex lifecycleMutex_;
    CondVar lifecycleIdle_;
    int32_t transitions_ SV_GUARDED_BY(lifecycleMutex_) = 0;
    // Counts one transition out when it goes, however it ends.
    struct TransitionDone {
        TrainingAgent& agent;
        ~TransitionDone();
    };
    bool lifecycleClosed_ SV_GUARDED_BY(lifecycleMutex_) = false;

    // Main mutex: session, activity source, trainee-stop and refusal-notice times, the
    // end-locally hook.
    Mutex mutex_ SV_ACQUIRED_AFTER(lifecycleMutex_);
    std::shared_ptr<Session> session_ SV_GUARDED_BY(mutex_);
    std::unique_ptr<IActivitySource> activitySource_ SV_GUARDED_BY(mutex_);
    int64_t traineeStopTime_ SV_GUARDED_BY(mutex_) = 0;    // wall clock, for "stoppedByTraineeAt"
    int64_t traineeStopSteady_ SV_GUARDED_BY(mutex_) = 0;  // steady clock, for the restart hold-off
    int64_t refusalNoticeTime_ SV_GUARDED_BY(mutex_) = 0;  // steady clock
    bool refusalNoticeSent_ SV_GUARDED_BY(mutex_) = false;
    std::function<void()> endLocallyHook_ SV_GUARDED_BY(mutex_);

    // Quiet watch: runs on workers_ while its generation is the current one.
    Mutex quietMutex_ SV_ACQUIRED_AFTER(lifecycleMutex_);
    CondVar quietWake_;
    uint64_t quietGeneration_ SV_GUARDED_BY(quietMutex_) = 0;

    // Numbers the overlays sent without an id; never reset, so ids stay unique across sessions.
    std::atomic<uint32_t> overlayIds_{0};
    // Speech and audio jobs; cancelled when a session ends, closed by the teardown.
    PlaybackCalls playbacks_;

    std::shared_ptr<EntryGate> callbackGate_;
    WorkerGroup workers_;  // detached requests and lifecycle work; joined by Shutdown
    std::atomic<int32_t> requestThreads_{0};
    std::atomic<bool> closing_{false};
    std::once_flag shutdownOnce_;
    bool allWorkEnded_ = true;  // written once by Shutdown

    // The ordered ops ("overlay", "clear", "banner", "chat", "mode"), one at a time in arrival order.
    SerialWorker orderedWorker_{kMaxQueuedRequests};
};

}  // namespace training
}  // namespace sv
