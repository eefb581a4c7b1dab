#pragma once
// Fakes of the three training seams, an injected clock and a capturing send callback.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "base/audit_log.h"
#include "test_support.h"
#include "training/training_agent.h"
#include "training/training_interfaces.h"

namespace sv {
namespace training {

// The agent's inner steps, for the tests that force an interleaving the wire cannot.
class TrainingAgentProbe {
public:
    explicit TrainingAgentProbe(TrainingAgent& agent) : agent_(agent) {}
    std::shared_ptr<TrainingSession> CurrentSession() { return agent_.CurrentSession(); }
    bool HasSession() { return agent_.HasSession(); }
    TrainingOpResult StartSession(const nlohmann::json& args, const std::string& controllerId) {
        return agent_.StartSession(args, controllerId);
    }
    TrainingOpResult EndSession(const std::string& reason, const std::string& actor) {
        return agent_.EndSession(reason, actor);
    }
    void EndForAllGone(const std::shared_ptr<TrainingSession>& session) { agent_.EndForAllGone(session); }
    void OnStopRequested() { agent_.OnStopRequested(); }
    void CheckQuiet() { agent_.CheckQuiet(); }
    nlohmann::json ExplainRefusal(const std::string& what, const std::string& reason, const std::string& controllerId) {
        return agent_.ExplainRefusal(what, reason, controllerId);
    }
    TrainingAgent::Playback StartPlayback(PlaybackCalls::Job job, bool wait, const std::string& opName) {
        return agent_.StartPlayback(std::move(job), wait, opName);
    }
    TrainingOpResult FinishPlayback(const TrainingAgent::Playback& playback, bool wait, uint32_t timeoutMs) {
        return agent_.FinishPlayback(playback, wait, timeoutMs);
    }
    void EmitEvent(const std::string& kind, nlohmann::json data) { agent_.EmitEvent(kind, std::move(data)); }
    void RunTrainingRequest(const std::string& id, const std::string& op, const nlohmann::json& args,
                            const std::string& controllerId) {
        agent_.RunTrainingRequest(id, op, args, controllerId);
    }
    // Runs op's handler for session as the dispatch would have handed it over, whether or
    // not that session is still live.
    TrainingOpResult RunOp(const std::string& op, const std::shared_ptr<TrainingSession>& session,
                           const nlohmann::json& args) {
        TrainingAgent::OpRequest request{op, args, "c1", session};
        if (op == "say") return agent_.OpSay(request);
        if (op == "audio") return agent_.OpAudio(request);
        if (op == "input") return agent_.OpInput(request);
        return TrainingOpResult::Fail("no op " + op);
    }
    TraineeActivityGate& Gate() { return agent_.gate_; }
    TrainingEventLog& Events() { return agent_.events_; }
    int32_t InFlight() { return agent_.InFlight(); }

private:
    TrainingAgent& agent_;
};

}  // namespace training
}  // namespace sv

namespace sv_test {

using nlohmann::json;

// The wall clock and the steady clock move together, unless the wall clock is stepped
// back or forth (a time sync), which the steady one never is.
struct FakeClock {
    std::atomic<int64_t> now{1700000000000};  // 2023-11-14T22:13:20Z
    std::atomic<int64_t> steady{5000};
    void Advance(int64_t ms) {
        now.fetch_add(ms);
        steady.fetch_add(ms);
    }
    void StepWall(int64_t ms) { now.fetch_add(ms); }
    std::function<int64_t()> Fn() {
        return [this] { return now.load(); };
    }
    std::function<int64_t()> SteadyFn() {
        return [this] { return steady.load(); };
    }
};

// A door one thread waits at until another opens it.
class Latch {
public:
    // Blocks the caller until Open (or 10 s); tells WaitHeld that someone is there.
    void Hold() {
        std::unique_lock<std::mutex> lock(mutex_);
        ++held_;
        cv_.notify_all();
        cv_.wait_for(lock, std::chrono::seconds(10), [this] { return open_; });
    }
    bool WaitHeld(int n = 1) {
        std::unique_lock<std::mutex> lock(mutex_);
        return cv_.wait_for(lock, std::chrono::milliseconds(sv_test::kPatienceMs), [&] { return held_ >= n; });
    }
    void Open() {
        std::lock_guard<std::mutex> lock(mutex_);
        open_ = true;
        cv_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    int held_ = 0;
    bool open_ = false;
};

// A session of its own for a unit that asks which session is live, with a transcript
// kept in memory; End() ends it as the agent does (closed first, then no longer live).
struct LiveSession {
    LiveSession() {
        session->transcript = std::make_unique<sv::training::TranscriptWriter>(session->id, "", [] { return 0; });
        session->live.Open();
    }
    void End() {
        session->live.Close(std::chrono::seconds(10));
        std::lock_guard<std::mutex> lock(mutex);
        current.reset();
    }
    sv::training::CurrentSessionFn Fn() {
        return [this] {
            std::lock_guard<std::mutex> lock(mutex);
            return current;
        };
    }

    std::shared_ptr<sv::training::TrainingSession> session = std::make_shared<sv::training::TrainingSession>();
    std::mutex mutex;
    std::shared_ptr<sv::training::TrainingSession> current = session;
};

// Records every call the agent makes into it.
class CallLog {
public:
    void Add(const std::string& call) {
        std::lock_guard<std::mutex> lock(mutex_);
        calls_.push_back(call);
        cv_.notify_all();
    }
    std::vector<std::string> Calls() {
        std::lock_guard<std::mutex> lock(mutex_);
        return calls_;
    }
    bool WaitFor(const std::string& call, int timeoutMs = sv_test::kPatienceMs) {
        std::unique_lock<std::mutex> lock(mutex_);
        return cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
            for (auto& c : calls_)
                if (c == call) return true;
            return false;
        });
    }
    int Count(const std::string& call) {
        std::lock_guard<std::mutex> lock(mutex_);
        int n = 0;
        for (auto& c : calls_)
            if (c == call) ++n;
        return n;
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    std::vector<std::string> calls_;
};

class FakeSurface : public sv::training::ITrainingSurface {
public:
    CallLog log;
    std::vector<sv::training::VoiceInfo> voices;
    sv::training::BannerState banner;
    bool muted = false;
    double volume = 0.75;
    // Makes ListVoices block until released (or the limit passes), to stand for a slow op.
    std::mutex blockMutex;
    std::condition_variable blockCv;
    bool blockVoices = false;
    bool blockChat = false;
    bool released = false;
    std::atomic<bool> inVoices{false};
    std::atomic<bool> inChat{false};
    bool throwInVoices = false;

    // --- what the trainee would see: calls that change the screen or sound while no
    // session is shown are "late" (the surface must never get one), and a call can be held
    // inside while another thread ends the session.

    // The next call of this name (overlay, clear, step, mode, chat, banner, speak, play)
    // stays inside until the surface's end arrives, which a sound agent does not let
    // happen for a screen call, or 300 ms pass.
    void HoldNext(const std::string& call) {
        std::lock_guard<std::mutex> lock(sessionMutex_);
        holdCall_ = call;
    }
    bool WaitHeld() {
        std::unique_lock<std::mutex> lock(sessionMutex_);
        return sessionCv_.wait_for(lock, std::chrono::milliseconds(sv_test::kPatienceMs), [this] { return holding_; });
    }
    bool EndArrivedWhileHeld() {
        std::lock_guard<std::mutex> lock(sessionMutex_);
        return endWhileHeld_;
    }
    std::vector<std::string> Late() {
        std::lock_guard<std::mutex> lock(sessionMutex_);
        return late_;
    }
    // The session whose banner shows; empty when none.
    std::string ShownSession() {
        std::lock_guard<std::mutex> lock(sessionMutex_);
        return shown_;
    }
    // The shapes a surface would still show.
    size_t OnScreen() {
        std::lock_guard<std::mutex> lock(sessionMutex_);
        return onScreen_;
    }

    // A call that does not return, as a hung window or speech engine: the next call of
    // this name (begin, end, mode, overlay, chat, speak, play, voices) stays inside until
    // Unhang (or 30 s), and whoever ends the test must let it go first.
    void HangNext(const std::string& call) {
        std::lock_guard<std::mutex> lock(hangMutex_);
        hangCall_ = call;
        hung_ = false;
        unhung_ = false;
    }
    bool WaitHung() {
        std::unique_lock<std::mutex> lock(hangMutex_);
        return hangCv_.wait_for(lock, std::chrono::milliseconds(sv_test::kPatienceMs), [this] { return hung_; });
    }
    void Unhang() {
        std::lock_guard<std::mutex> lock(hangMutex_);
        unhung_ = true;
        hangCv_.notify_all();
    }

    void BeginSession(const sv::training::TrainingSession& s) override {
        Hang("begin");
        {
            std::lock_guard<std::mutex> lock(sessionMutex_);
            shown_ = s.id;
        }
        log.Add("begin " + s.id);
    }
    void EndSession(const std::string& reason) override {
        Hang("end");
        {
            std::lock_guard<std::mutex> lock(sessionMutex_);
            if (holding_) endWhileHeld_ = true;
            shown_.clear();
            onScreen_ = 0;
            ended_ = true;
        }
        sessionCv_.notify_all();
        log.Add("end " + reason);
    }
    void SetMode(sv::training::TrainingMode mode, bool paused) override {
        Hang("mode");
        Enter("mode");
        log.Add("mode " + std::to_string(static_cast<uint32_t>(mode)) + (paused ? " paused" : " running"));
    }
    void SetStep(std::optional<int32_t> index, std::optional<int32_t> total, const std::string& text) override {
        Enter("step");
        auto n = [](std::optional<int32_t> v) { return v ? std::to_string(*v) : std::string("-"); };
        log.Add("step " + n(index) + " " + n(total) + " " + text);
    }
    void ShowOverlay(const sv::training::OverlayShape& s) override {
        Hang("overlay");
        if (Enter("overlay")) {
            std::lock_guard<std::mutex> lock(sessionMutex_);
            ++onScreen_;
        }
        {
            std::lock_guard<std::mutex> lock(playMutex);
            shapes.push_back(s);
            if (bannerOnShow) banner = *bannerOnShow;
        }
        log.Add("overlay " + s.id);
    }
    void ClearOverlays(const std::string& id) override {
        if (Enter("clear") && id.empty()) {
            std::lock_guard<std::mutex> lock(sessionMutex_);
            onScreen_ = 0;
        }
        log.Add("clear " + id);
    }
    void AppendChat(const sv::training::ChatMessage& m) override {
        Hang("chat");
        Enter("chat");
        log.Add("chat " + m.from + " " + m.text);
        if (blockChat) {
            inChat.store(true);
            std::unique_lock<std::mutex> lock(blockMutex);
            blockCv.wait_for(lock, std::chrono::seconds(10), [this] { return released; });
        }
    }
    sv::training::SpeechOutcome Speak(const sv::training::SpeechRequest& r, uint32_t timeoutMs) override {
        Hang("speak");
        if (!Enter("speak", r.session)) return Stopped();
        {
            std::lock_guard<std::mutex> lock(playMutex);
            speeches.push_back(r);
            timeouts.push_back(timeoutMs);
        }
        log.Add("speak " + r.text);
        return Play(speakOutcome, "speak-done", r.session);
    }
    sv::training::SpeechOutcome PlayAudio(const sv::training::AudioClipRequest& r, uint32_t timeoutMs) override {
        Hang("play");
        if (!Enter("play", r.session)) return Stopped();
        {
            std::lock_guard<std::mutex> lock(playMutex);
            clips.push_back(r);
            timeouts.push_back(timeoutMs);
        }
        log.Add("play " + r.extension + " " + std::to_string(r.bytes ? r.bytes->size() : 0));
        return Play(audioOutcome, "play-done", r.session);
    }
    std::vector<sv::training::VoiceInfo> ListVoices(bool refresh) override {
        Hang("voices");
        log.Add(std::string("voices ") + (refresh ? "refresh" : "cached"));
        if (throwInVoices) throw std::runtime_error("voice registry unreadable");
        if (blockVoices) {
            inVoices.store(true);
            std::unique_lock<std::mutex> lock(blockMutex);
            blockCv.wait_for(lock, std::chrono::seconds(10), [this] { return released; });
        }
        return voices;
    }
    sv::training::BannerState GetBannerState() override { return banner; }
    sv::training::BannerPlacement SetBannerPosition(const std::string& position, std::optional<bool> compact) override {
        Enter("banner");
        log.Add("banner " + position + " " + (compact ? (*compact ? "compact" : "full") : "-"));
        return placement;
    }
    bool IsMuted() override { return muted; }
    double GetVolume() override { return volume; }

    // Scripted results of Speak, PlayAudio and SetBannerPosition. With blockPlayback set,
    // Speak and PlayAudio stay inside until ReleasePlayback (or 10 s), so tests see waits.
    sv::training::SpeechOutcome speakOutcome;
    sv::training::SpeechOutcome audioOutcome;
    sv::training::BannerPlacement placement;
    bool blockPlayback = false;
    std::vector<sv::training::OverlayShape> shapes;
    // Where the banner is once a shape is shown (it moves out of the shape's way).
    std::optional<sv::training::BannerState> bannerOnShow;
    std::vector<sv::training::SpeechRequest> speeches;
    std::vector<sv::training::AudioClipRequest> clips;
    std::vector<uint32_t> timeouts;
    std::mutex playMutex;
    std::condition_variable playCv;
    bool playReleased = false;
    int inPlayback = 0;

    ~FakeSurface() override {
        // A job thread may still be inside a blocked call; it must leave before we go.
        Unhang();
        ReleasePlayback();
        std::unique_lock<std::mutex> lock(playMutex);
        playCv.wait_for(lock, std::chrono::seconds(10), [this] { return inPlayback == 0; });
    }
    void ReleasePlayback() {
        {
            std::lock_guard<std::mutex> lock(playMutex);
            playReleased = true;
        }
        playCv.notify_all();
    }
    bool WaitInPlayback(int n) {
        std::unique_lock<std::mutex> lock(playMutex);
        return playCv.wait_for(lock, std::chrono::milliseconds(sv_test::kPatienceMs), [&] { return inPlayback >= n; });
    }
    std::vector<uint32_t> Timeouts() {
        std::lock_guard<std::mutex> lock(playMutex);
        return timeouts;
    }

    void Release() {
        {
            std::lock_guard<std::mutex> lock(blockMutex);
            released = true;
        }
        blockCv.notify_all();
    }

private:
    void Hang(const std::string& call) {
        std::unique_lock<std::mutex> lock(hangMutex_);
        if (hangCall_ != call) return;
        hangCall_.clear();
        hung_ = true;
        hangCv_.notify_all();
        hangCv_.wait_for(lock, std::chrono::seconds(30), [this] { return unhung_; });
    }
    std::mutex hangMutex_;
    std::condition_variable hangCv_;
    std::string hangCall_;
    bool hung_ = false;
    bool unhung_ = false;

    static sv::training::SpeechOutcome Stopped() {
        sv::training::SpeechOutcome o;
        o.error = "stopped";
        return o;
    }
    // A sound whose session ended while it played was cut off, as the real surface does.
    sv::training::SpeechOutcome Shown(const std::string& session, const sv::training::SpeechOutcome& outcome) {
        std::lock_guard<std::mutex> lock(sessionMutex_);
        return session == shown_ ? outcome : Stopped();
    }
    // Holds the call when asked to; then whether it acts in the session shown (as the
    // real surface, a sound of another session is refused and "stopped"). A call made
    // while no session is shown is recorded as late.
    bool Enter(const std::string& call, const std::optional<std::string>& session = std::nullopt) {
        std::unique_lock<std::mutex> lock(sessionMutex_);
        if (holdCall_ == call) {
            holdCall_.clear();
            holding_ = true;
            ended_ = false;
            sessionCv_.notify_all();
            sessionCv_.wait_for(lock, std::chrono::milliseconds(300), [this] { return ended_; });
            holding_ = false;
        }
        if (session) return *session == shown_ && !shown_.empty();
        if (shown_.empty()) late_.push_back(call);
        return !shown_.empty();
    }

    std::mutex sessionMutex_;
    std::condition_variable sessionCv_;
    std::string shown_;
    std::string holdCall_;
    bool holding_ = false;
    bool ended_ = false;
    bool endWhileHeld_ = false;
    size_t onScreen_ = 0;
    std::vector<std::string> late_;

    // The destructor waits for inPlayback to reach 0: nothing of this object is touched after.
    sv::training::SpeechOutcome Play(const sv::training::SpeechOutcome& scripted, const std::string& done,
                                     const std::string& session) {
        sv::training::SpeechOutcome out;
        {
            std::unique_lock<std::mutex> lock(playMutex);
            ++inPlayback;
            playCv.notify_all();
            if (blockPlayback) playCv.wait_for(lock, std::chrono::seconds(10), [this] { return playReleased; });
            out = scripted;
        }
        out = Shown(session, out);
        log.Add(done);
        std::lock_guard<std::mutex> lock(playMutex);
        --inPlayback;
        playCv.notify_all();
        return out;
    }
};

class FakeInspector : public sv::training::IUiInspector {
public:
    CallLog log;
    std::optional<sv::training::UiElement> element;
    // What QueryTree answers: a tree and an error text (a time-out gives a partial tree and
    // "UI Automation did not answer in time").
    std::pair<json, std::string> tree{json::object(), ""};
    std::optional<sv::training::WindowTreeQuery> lastQuery;
    std::atomic<uint32_t> lastTreeTimeoutMs{0};
    std::atomic<uint32_t> lastElementTimeoutMs{0};
    // Makes ElementAt hang until Release (or 10 s), as an application that does not answer.
    std::atomic<bool> holdElementAt{false};
    std::atomic<bool> insideElementAt{false};

    void StartFocusTracking() override { log.Add("focus-on"); }
    void StopFocusTracking() override { log.Add("focus-off"); }
    std::pair<json, std::string> QueryTree(const sv::training::WindowTreeQuery& query, uint32_t timeoutMs) override {
        log.Add("tree");
        lastQuery = query;
        lastTreeTimeoutMs.store(timeoutMs);
        return tree;
    }
    std::optional<sv::training::UiElement> ElementAt(int32_t x, int32_t y, uint32_t timeoutMs) override {
        log.Add("element-at " + std::to_string(x) + "," + std::to_string(y));
        lastElementTimeoutMs.store(timeoutMs);
        if (holdElementAt.load()) {
            insideElementAt.store(true);
            std::unique_lock<std::mutex> lock(holdMutex_);
            holdCv_.wait_for(lock, std::chrono::seconds(10), [this] { return released_; });
            released_ = false;
            insideElementAt.store(false);
        }
        return element;
    }
    // Lets one held lookup go.
    void Release() {
        std::lock_guard<std::mutex> lock(holdMutex_);
        released_ = true;
        holdCv_.notify_all();
    }

private:
    std::mutex holdMutex_;
    std::condition_variable holdCv_;
    bool released_ = false;
};

// Activity sources live inside the agent; the test keeps a shared record of them.
struct ActivityRecord {
    CallLog log;
    std::mutex mutex;
    sv::training::IActivitySource* current = nullptr;
    int made = 0;
};

class FakeActivitySource : public sv::training::IActivitySource {
public:
    explicit FakeActivitySource(std::shared_ptr<ActivityRecord> r) : record_(std::move(r)) {}
    ~FakeActivitySource() override {
        record_->log.Add("destroyed");
        std::lock_guard<std::mutex> lock(record_->mutex);
        if (record_->current == this) record_->current = nullptr;
    }
    void Start() override {
        record_->log.Add("start");
        std::lock_guard<std::mutex> lock(record_->mutex);
        record_->current = this;
    }
    void Stop() override { record_->log.Add("stop"); }

private:
    std::shared_ptr<ActivityRecord> record_;
};

// Collects what the agent sends and waits for it.
class CapturingSink {
public:
    void operator()(const std::string& text) {
        std::lock_guard<std::mutex> lock(mutex_);
        texts_.push_back(text);
        cv_.notify_all();
    }
    std::function<void(const std::string&)> Fn() {
        return [this](const std::string& t) { (*this)(t); };
    }
    std::vector<std::string> Texts() {
        std::lock_guard<std::mutex> lock(mutex_);
        return texts_;
    }
    // The first message (as text) satisfying pred; empty when none came in time.
    std::optional<std::string> WaitText(const std::function<bool(const json&)>& pred, int timeoutMs = sv_test::kPatienceMs) {
        std::unique_lock<std::mutex> lock(mutex_);
        std::optional<std::string> found;
        cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
            for (const auto& t : texts_) {
                json j = json::parse(t, nullptr, false);
                if (!j.is_discarded() && pred(j)) {
                    found = t;
                    return true;
                }
            }
            return false;
        });
        return found;
    }
    std::optional<json> WaitReply(const std::string& id, int timeoutMs = sv_test::kPatienceMs) {
        auto t = WaitText([&](const json& j) { return j.value("type", "") == "training-result" && j.value("id", "") == id; },
                          timeoutMs);
        if (!t) return std::nullopt;
        return json::parse(*t);
    }
    std::optional<json> WaitEvent(const std::string& kind, int timeoutMs = sv_test::kPatienceMs) {
        auto t = WaitText(
            [&](const json& j) { return j.value("type", "") == "training-event" && j.value("kind", "") == kind; },
            timeoutMs);
        if (!t) return std::nullopt;
        return json::parse(*t);
    }
    std::vector<json> Events(const std::string& kind) {
        std::vector<json> out;
        for (const auto& t : Texts()) {
            json j = json::parse(t);
            if (j.value("type", "") == "training-event" && j.value("kind", "") == kind) out.push_back(j);
        }
        return out;
    }
    // The kinds of every event sent, in sending order.
    std::vector<std::string> EventKinds() {
        std::vector<std::string> kinds;
        for (const auto& t : Texts()) {
            json j = json::parse(t);
            if (j.value("type", "") == "training-event") kinds.push_back(j.value("kind", ""));
        }
        return kinds;
    }
    std::vector<std::string> ReplyIdsInOrder() {
        std::vector<std::string> out;
        for (const auto& t : Texts()) {
            json j = json::parse(t);
            if (j.value("type", "") == "training-result") out.push_back(j.value("id", ""));
        }
        return out;
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    std::vector<std::string> texts_;
};


inline int CountContaining(const std::vector<std::string>& lines, const std::string& part) {
    int n = 0;
    for (auto& l : lines)
        if (l.find(part) != std::string::npos) ++n;
    return n;
}

// An agent wired to the fakes. withSurface false stands for the service host.
class AgentHarness {
public:
    explicit AgentHarness(bool withSurface = true, bool quietWatch = false) {
        sv::SetAuditDirectory(dir.Path());
        hooks.surface = withSurface ? &surface : nullptr;
        hooks.inspector = withSurface ? &inspector : nullptr;
        auto rec = activity;
        hooks.makeActivitySource = [rec] {
            {
                std::lock_guard<std::mutex> lock(rec->mutex);
                ++rec->made;
            }
            return std::unique_ptr<sv::training::IActivitySource>(new FakeActivitySource(rec));
        };
        hooks.screenSize = [] { return std::make_pair(1920, 1080); };
        hooks.screenOrigin = [this] { return origin; };
        hooks.transcriptDirectory = dir.Path() + "/training";
        hooks.clock = clock.Fn();
        hooks.steadyMs = clock.SteadyFn();
        hooks.quietMs = 2500;
        hooks.previewMs = 700;
        hooks.restartHoldOffMs = 600000;
        hooks.hostVersion = "1.1.6";
        hooks.quietWatch = quietWatch;
    }
    ~AgentHarness() {
        agent.reset();
        sv::SetAuditDirectory("");
    }
    // Tests call it from several threads at once: the agent is made exactly once.
    sv::training::TrainingAgent& Agent() {
        std::lock_guard<std::mutex> lock(agentMutex);
        if (!agent) agent = std::make_unique<sv::training::TrainingAgent>(sink.Fn(), hooks);
        return *agent;
    }
    sv::training::TrainingAgentProbe Inside() { return sv::training::TrainingAgentProbe(Agent()); }
    void Send(const std::string& id, const std::string& op, const json& args = json::object(),
              const std::string& controller = "c1") {
        Agent().QueueTrainingRequest(json{{"type", "training-request"}, {"id", id}, {"op", op}, {"args", args}},
                                     controller);
    }
    // Sends a request and returns its reply (null json when none came within 5 s).
    json Call(const std::string& op, const json& args = json::object(), const std::string& controller = "c1") {
        std::string id = "r" + std::to_string(++counter_);
        Send(id, op, args, controller);
        auto reply = sink.WaitReply(id);
        return reply ? *reply : json();
    }
    std::vector<std::string> Audit() { return AuditLines(dir.Path()); }

    ScratchDir dir;
    FakeClock clock;
    FakeSurface surface;
    FakeInspector inspector;
    std::shared_ptr<ActivityRecord> activity = std::make_shared<ActivityRecord>();
    std::pair<int, int> origin{0, 0};
    CapturingSink sink;
    sv::training::TrainingHostHooks hooks;
    std::mutex agentMutex;
    std::unique_ptr<sv::training::TrainingAgent> agent;

private:
    int counter_ = 0;
};

}  // namespace sv_test
