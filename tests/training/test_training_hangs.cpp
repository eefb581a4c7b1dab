// Calls into the surface that never return, and the start and the end racing the
// trainer's ops: every wait has its bound, and nothing of a session comes before its
// banner or after its end.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "training_input_fakes.h"

namespace {

using nlohmann::json;
using sv::training::PlaybackCalls;
using sv::training::TrainingAgent;
using sv_test::AgentHarness;
using sv_test::CountContaining;
using sv_test::Latch;
using sv_test::WaitUntil;

constexpr const char* kNoSession = "no training session is active — call start first";

// An agent whose bounds are short, so a hung call costs the tests fractions of a second.
struct HangHarness : sv_test::InjectHarness {
    explicit HangHarness(int64_t endGateMs = 200) {
        h.hooks.bounds.endGateMs = endGateMs;
        h.hooks.bounds.beginWaitMs = 200;
        h.hooks.bounds.shutdownGraceMs = 100;
        h.hooks.bounds.shutdownFinalMs = 200;
    }
    std::vector<std::string> TranscriptKinds(const std::shared_ptr<sv::training::TrainingSession>& s) {
        std::vector<std::string> kinds;
        for (const json& e : s->transcript->Entries()) kinds.push_back(e["kind"]);
        return kinds;
    }
};

// A call hung at each point: the trainee's stop completes and closes the session while it
// hangs, the teardown returns at its final bound (saying that work remains), and once the
// call returns nothing of the session follows its end.
TEST(TrainingHangs, AHungCallHoldsNeitherTheStopNorTheShutdown) {
    struct Case {
        const char* hang;
        const char* op;
        json args;
    };
    const std::vector<Case> cases = {
        {"begin", "start", json::object()},
        {"overlay", "overlay", {{"kind", "highlight"}, {"width", 5}, {"height", 5}}},
        {"speak", "say", {{"text", "Halo"}}},
        {"voices", "voices", json::object()},
    };
    for (const Case& c : cases) {
        HangHarness t;
        AgentHarness& h = t.h;
        const bool atBegin = std::string(c.hang) == "begin";
        if (!atBegin) {
            ASSERT_EQ(h.Call("start")["ok"], true) << c.hang;
        }
        h.surface.HangNext(c.hang);
        h.Send("op", c.op, c.args);
        ASSERT_TRUE(h.surface.WaitHung()) << c.hang;
        auto session = h.Inside().CurrentSession();
        ASSERT_TRUE(session) << c.hang;

        h.surface.OnStopRequested();  // as the banner's button does
        ASSERT_TRUE(h.sink.WaitEvent("session-ended")) << c.hang;
        EXPECT_FALSE(h.Inside().HasSession()) << c.hang;
        EXPECT_FALSE(session->live.IsOpen()) << c.hang;
        EXPECT_EQ(h.Call("input", {{"kind", "key"}, {"key", "enter"}})["error"], kNoSession) << c.hang;

        EXPECT_FALSE(h.Agent().Shutdown()) << c.hang;
        EXPECT_EQ(CountContaining(h.Audit(), "shutdown gives up after"), 1) << c.hang;

        h.surface.Unhang();
        ASSERT_TRUE(h.sink.WaitReply("op")) << c.hang;
        ASSERT_TRUE(WaitUntil([&] { return h.Inside().InFlight() == 0; })) << c.hang;
        EXPECT_EQ(t.TranscriptKinds(session).back(), "end") << c.hang;
        EXPECT_EQ(h.surface.ShownSession(), "") << c.hang;
        EXPECT_EQ(t.inject.Calls(), "") << c.hang;
        if (atBegin) {
            EXPECT_EQ(h.sink.WaitReply("op")->at("error"), TrainingAgent::kEndedBeforeBannerMessage);
            EXPECT_TRUE(h.sink.Events("session-started").empty());
            // The start stopped the activity source it had set going, as no end would.
            EXPECT_EQ(h.activity->log.Count("start"), 1);
            EXPECT_EQ(h.activity->log.Count("stop"), 1);
        }
    }
}

// Ops that arrive while the banner is still coming up wait for it: they reach the surface
// and the desktop only after the session has begun, or are refused when it never does.
TEST(TrainingHangs, NothingOfASessionComesBeforeItsBanner) {
    for (bool stopFirst : {false, true}) {
        HangHarness t(5000);
        AgentHarness& h = t.h;
        h.hooks.bounds.beginWaitMs = sv_test::kPatienceMs;
        h.surface.HangNext("begin");
        h.Send("s", "start");
        ASSERT_TRUE(h.surface.WaitHung());
        h.Send("chat", "chat", {{"text", "Halo"}});
        h.Send("key", "input", {{"kind", "key"}, {"key", "enter"}});
        h.Send("overlay", "overlay", {{"kind", "highlight"}, {"width", 5}, {"height", 5}});
        const std::vector<std::string> ops = {"chat", "key", "overlay"};
        if (stopFirst) {
            // The stop shuts the session while its start still hangs: the waiting ops are
            // refused at once, and the start, once back, says that it never began.
            h.surface.OnStopRequested();
            for (const std::string& id : ops) {
                auto reply = h.sink.WaitReply(id);
                ASSERT_TRUE(reply) << id;
                EXPECT_EQ((*reply)["error"], kNoSession) << id;
            }
            h.surface.Unhang();
            EXPECT_EQ(h.sink.WaitReply("s")->at("error"), TrainingAgent::kEndedBeforeBannerMessage);
        } else {
            h.surface.Unhang();
            for (const std::string& id : ops) {
                auto reply = h.sink.WaitReply(id);
                ASSERT_TRUE(reply) << id;
                EXPECT_EQ((*reply)["ok"], true) << id;
            }
        }
        EXPECT_EQ(h.surface.Late(), std::vector<std::string>{}) << stopFirst;
        EXPECT_EQ(t.inject.Calls(), stopFirst ? "" : "key enter|") << stopFirst;
        EXPECT_EQ(h.surface.log.Count("chat ai Halo"), stopFirst ? 0 : 1) << stopFirst;
    }
}

// An op handed the session before its end and acting after it records nothing, and says
// so: no chat line, transcript, audit line or sound of a "say" or "audio" that never was.
TEST(TrainingHangs, AnOpActingAfterItsSessionEndedRecordsNothing) {
    const std::vector<std::pair<std::string, json>> cases = {
        {"say", {{"text", "Halo"}, {"wait", false}}},
        {"audio", {{"data", "UklGRiQAAABXQVZF"}, {"ext", "wav"}, {"caption", "Dengar"}, {"wait", false}}},
        {"input", {{"kind", "key"}, {"key", "enter"}}},
    };
    for (const auto& c : cases) {
        HangHarness t;
        AgentHarness& h = t.h;
        ASSERT_EQ(h.Call("start")["ok"], true);
        auto session = h.Inside().CurrentSession();
        ASSERT_EQ(h.Inside().EndSession("ended by controller", "c1").data["ended"], true);
        auto result = h.Inside().RunOp(c.first, session, c.second);
        EXPECT_EQ(result.error, kNoSession) << c.first;
        EXPECT_EQ(t.TranscriptKinds(session), (std::vector<std::string>{"start", "end"})) << c.first;
        EXPECT_TRUE(h.sink.Events("chat").empty()) << c.first;
        EXPECT_EQ(CountContaining(h.Audit(), "say len=") + CountContaining(h.Audit(), "audio wav") +
                      CountContaining(h.Audit(), "training-input |"),
                  0)
            << c.first;
        EXPECT_EQ(t.inject.Calls(), "") << c.first;
        EXPECT_EQ(h.surface.speeches.size() + h.surface.clips.size(), 0u) << c.first;
    }
}

// The stop falls while a key goes in: the end waits for the injection's pass, and its
// transcript line comes before "end" even when writing it is slow.
TEST(TrainingHangs, TheLastInjectionIsRecordedBeforeTheEnd) {
    HangHarness t(sv_test::kPatienceMs);
    AgentHarness& h = t.h;
    Latch latch;
    t.inject.holdFirst = &latch;
    std::atomic<std::thread::id> opThread{};
    auto clock = h.hooks.clock;
    h.hooks.pressKey = [&, press = h.hooks.pressKey](const std::string& key, const std::vector<std::string>& m) {
        opThread = std::this_thread::get_id();
        return press(key, m);
    };
    h.hooks.clock = [&, clock] {
        // The op's next record waits for the end, unless the end waits for it.
        if (opThread.load() == std::this_thread::get_id()) {
            opThread = std::thread::id();
            h.sink.WaitEvent("session-ended", 300);
        }
        return clock();
    };
    ASSERT_EQ(h.Call("start")["ok"], true);
    auto session = h.Inside().CurrentSession();
    h.Send("key", "input", {{"kind", "key"}, {"key", "enter"}});
    ASSERT_TRUE(latch.WaitHeld());
    h.surface.OnStopRequested();
    ASSERT_TRUE(h.sink.WaitEvent("stopped"));  // the end is on its way
    latch.Open();
    ASSERT_EQ(h.sink.WaitReply("key")->at("ok"), true);
    ASSERT_TRUE(h.sink.WaitEvent("session-ended"));
    EXPECT_EQ(t.TranscriptKinds(session), (std::vector<std::string>{"start", "ai-input", "end"}));
}

// A job cancelled by an end before its thread reaches the surface never starts a sound.
TEST(TrainingHangs, APlaybackCancelledBeforeItsThreadRunsNeverStarts) {
    std::function<void()> deferred;
    PlaybackCalls calls(PlaybackCalls::kMaxRunning, [&](std::function<void()> run) { deferred = std::move(run); });
    bool ran = false;
    auto pending = calls.Start([&] {
        ran = true;
        return sv::training::SpeechOutcome();
    });
    calls.CancelAll();
    deferred();
    EXPECT_FALSE(ran);
    EXPECT_EQ(calls.Wait(pending, std::chrono::milliseconds(0)).error, PlaybackCalls::kStopped);
}

// The entry gate: waits to open, is bounded at its close, and reports who is still inside.
TEST(EntryGate, OpensOnceClosesForGoodAndBoundsItsWait) {
    sv::training::EntryGate gate(false);
    EXPECT_FALSE(gate.Enter(std::chrono::milliseconds(0)));  // not open yet
    std::atomic<int> entered{-1};
    std::thread waiter([&] { entered = gate.Enter(std::chrono::milliseconds(sv_test::kPatienceMs)) ? 1 : 0; });
    ASSERT_TRUE(gate.EnterToOpen());
    EXPECT_TRUE(gate.Open());
    waiter.join();
    EXPECT_EQ(entered.load(), 1);
    EXPECT_EQ(gate.Close(std::chrono::milliseconds(10)), 2);  // both still inside: reported
    EXPECT_FALSE(gate.Enter());
    EXPECT_FALSE(gate.EnterToOpen());
    EXPECT_FALSE(gate.Open());
    gate.Leave();
    gate.Leave();
    EXPECT_EQ(gate.Close(std::chrono::milliseconds(0)), 0);
}

}  // namespace
