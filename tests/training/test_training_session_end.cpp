// What an operation under way does when its session ends under it, on another thread.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "training_input_fakes.h"

namespace {

using nlohmann::json;
using sv::training::PlaybackCalls;
using sv_test::AgentHarness;
using sv_test::CountContaining;
using sv_test::Latch;
using sv_test::WaitUntil;

constexpr const char* kNoSession = "no training session is active — call start first";

using EndHarness = sv_test::InjectHarness;

// The trainee presses stop while a call that changes the screen is inside the surface:
// the end waits for it and then removes everything, so nothing is left and nothing
// arrives once the surface has ended the session.
TEST(SessionEnd, TheTraineesStopWaitsForAScreenCallAndLeavesNothing) {
    struct Case {
        const char* held;
        const char* op;
        json args;
    };
    const std::vector<Case> cases = {
        {"overlay", "overlay", {{"kind", "spotlight"}, {"x", 10}, {"y", 10}, {"width", 50}, {"height", 50}}},
        {"step", "overlay", {{"kind", "step"}, {"title", "Buka menu"}}},
        {"clear", "clear", json::object()},
        {"banner", "banner", {{"position", "top-left"}}},
        {"mode", "mode", {{"mode", "your_turn"}}},
        {"chat", "chat", {{"text", "Halo"}}},
        {"overlay", "input", {{"kind", "click"}, {"x", 10}, {"y", 10}}},  // the ghost
    };
    for (const Case& c : cases) {
        EndHarness t;
        AgentHarness& h = t.h;
        h.surface.placement.visible = true;
        ASSERT_EQ(h.Call("start")["ok"], true);
        h.surface.HoldNext(c.held);
        h.Send("op", c.op, c.args);
        ASSERT_TRUE(h.surface.WaitHeld()) << c.held;
        h.surface.OnStopRequested();  // as the banner's button does, on the UI thread
        auto reply = h.sink.WaitReply("op");
        ASSERT_TRUE(reply) << c.held;
        ASSERT_TRUE(h.sink.WaitEvent("session-ended")) << c.held;
        EXPECT_FALSE(h.surface.EndArrivedWhileHeld()) << c.held;
        EXPECT_EQ(h.surface.Late(), std::vector<std::string>{}) << c.held;
        EXPECT_EQ(h.surface.OnScreen(), 0u) << c.held;
        if (std::string(c.op) == "input") {
            EXPECT_EQ((*reply)["error"], kNoSession);
            EXPECT_EQ(t.inject.Calls(), "");
        } else {
            EXPECT_EQ((*reply)["ok"], true) << c.held;
        }
    }
}

// The session ends after the op was dispatched and before it reached the surface: the op
// does nothing and its reply says why. The hook it reads first is held meanwhile.
TEST(SessionEnd, AnOpWhoseSessionEndedBeforeItActedSaysSo) {
    struct Case {
        const char* op;
        json args;
        bool holdSize;  // else the origin
    };
    const std::vector<Case> cases = {
        {"overlay", {{"kind", "highlight"}, {"width", 5}, {"height", 5}}, false},
        {"overlay", {{"kind", "step"}, {"title", "Langkah"}}, false},
        {"input", {{"kind", "move"}, {"x", 5}}, true},
        {"input", {{"kind", "click"}, {"preview", false}}, true},
        {"input", {{"kind", "text"}, {"text", "rahasia"}}, true},
        {"input", {{"kind", "key"}, {"key", "enter"}}, true},
    };
    for (const Case& c : cases) {
        EndHarness t;
        AgentHarness& h = t.h;
        Latch latch;
        std::atomic<bool> armed{false};
        h.hooks.screenOrigin = [&] {
            if (armed.load() && !c.holdSize) latch.Hold();
            return std::make_pair(0, 0);
        };
        h.hooks.screenSize = [&] {
            if (armed.load() && c.holdSize) latch.Hold();
            return std::make_pair(1920, 1080);
        };
        ASSERT_EQ(h.Call("start")["ok"], true);
        armed = true;
        h.Send("op", c.op, c.args);
        ASSERT_TRUE(latch.WaitHeld()) << c.args;
        EXPECT_EQ(h.Inside().EndSession("stopped by the trainee", "").data["ended"], true);
        latch.Open();
        auto reply = h.sink.WaitReply("op");
        ASSERT_TRUE(reply);
        EXPECT_EQ((*reply)["error"], kNoSession) << c.args;
        EXPECT_EQ(t.inject.Calls(), "") << c.args;
        EXPECT_EQ(h.surface.log.Count("overlay o1") + h.surface.log.Count("step - - Langkah"), 0) << c.args;
        EXPECT_EQ(h.surface.Late(), std::vector<std::string>{}) << c.args;
    }
}

TEST(SessionEnd, InputStopsBetweenStepsAndNeverLeavesAButtonHeld) {
    {  // the stop comes while the pointer moves: the end waits, and the press never follows
        EndHarness t;
        Latch latch;
        t.inject.holdFirst = &latch;
        ASSERT_EQ(t.h.Call("start")["ok"], true);
        t.h.Send("click", "input", {{"kind", "click"}, {"x", 960}, {"y", 270}, {"preview", false}});
        ASSERT_TRUE(latch.WaitHeld());
        t.h.surface.OnStopRequested();
        ASSERT_TRUE(WaitUntil([&] { return !t.h.Inside().HasSession(); }));
        latch.Open();
        auto reply = t.h.sink.WaitReply("click");
        ASSERT_TRUE(reply);
        EXPECT_EQ((*reply)["error"], kNoSession);
        EXPECT_EQ(t.inject.Calls(), "move 0.5000,0.2500 |");
    }
    struct Case {
        int failAt, failFrom;
        std::string calls;
        std::string error;  // empty: done
    };
    const std::string press = "move 0.5000,0.2500 |down 0.5000,0.2500 left|";
    const std::string up = "up 0.5000,0.2500 left|";
    const std::vector<Case> cases = {
        {2, -1, press + up + up, ""},  // released at the second try
        {-1, 2, press + up + up, "the host pressed the left button at 960,270 but could not release it"},
    };
    for (const Case& c : cases) {
        EndHarness t;
        t.inject.failPointerAt = c.failAt;
        t.inject.failPointerFrom = c.failFrom;
        ASSERT_EQ(t.h.Call("start")["ok"], true);
        json r = t.h.Call("input", {{"kind", "click"}, {"x", 960}, {"y", 270}, {"preview", false}});
        EXPECT_EQ(t.inject.Calls(), c.calls);
        auto entries = t.h.Inside().CurrentSession()->transcript->Entries();
        EXPECT_EQ(entries.back()["kind"], "ai-input");
        if (c.error.empty()) {
            EXPECT_EQ(r["data"]["done"], true);
            continue;
        }
        EXPECT_EQ(r["error"], c.error);
        EXPECT_EQ(entries.back()["data"]["error"], c.error);
        EXPECT_EQ(CountContaining(t.h.Audit(), "training-input | actor=c1 | click 960,270 (button not released)"), 1);
    }
}

// An end or the trainee's stop that falls while a long text is typed waits only for the
// piece under way: the rest is never typed, the reply says how much was, and the record of
// it comes before the end's own lines.
TEST(SessionEnd, AnEndHaltsALongTextAfterThePieceUnderWay) {
    const std::vector<std::pair<const char*, std::function<void(EndHarness&)>>> ends = {
        {"the controller's end", [](EndHarness& t) { t.h.Send("end", "end"); }},
        {"the trainee's stop", [](EndHarness& t) { t.h.surface.OnStopRequested(); }},
    };
    const std::string text = "é" + std::string(999, 'a');  // a first piece of 16 code points, 17 bytes
    for (const auto& end : ends) {
        EndHarness t;
        Latch latch;
        t.inject.holdFirst = &latch;
        ASSERT_EQ(t.h.Call("start")["ok"], true);
        auto session = t.h.Inside().CurrentSession();
        t.h.Send("type", "input", {{"kind", "text"}, {"text", text}});
        ASSERT_TRUE(latch.WaitHeld());
        end.second(t);
        ASSERT_TRUE(WaitUntil([&] { return !session->live.IsOpen(); })) << end.first;  // the end has shut it
        latch.Open();
        auto reply = t.h.sink.WaitReply("type");
        ASSERT_TRUE(reply) << end.first;
        EXPECT_EQ((*reply)["error"], "the training session ended while the text was typed: 16 of 1000 characters "
                                     "were typed") << end.first;
        EXPECT_EQ((*reply)["data"], json({{"typed", 16}, {"length", 1000}})) << end.first;
        EXPECT_EQ(t.inject.Calls(), "type " + text.substr(0, 17) + "|") << end.first;
        ASSERT_TRUE(t.h.sink.WaitEvent("session-ended")) << end.first;
        std::vector<std::string> kinds;
        for (const json& e : session->transcript->Entries()) kinds.push_back(e["kind"]);
        EXPECT_EQ(kinds, (std::vector<std::string>{"start", "ai-input", "end"})) << end.first;
        EXPECT_EQ(session->transcript->Entries()[1]["data"]["typed"], 16) << end.first;
        const std::vector<std::string> audit = t.h.Audit();
        auto input = std::find_if(audit.begin(), audit.end(), [](const std::string& l) {
            return l.find("training-input | actor=c1 | text len=1000 typed=16") != std::string::npos;
        });
        auto ended = std::find_if(audit.begin(), audit.end(), [](const std::string& l) {
            return l.find("| training | ") != std::string::npos && l.find("end session=") != std::string::npos;
        });
        ASSERT_NE(input, audit.end()) << end.first;
        EXPECT_LT(input - audit.begin(), ended - audit.begin()) << end.first;
    }
}

TEST(SessionEnd, SoundOfAnEndedSessionIsNeverHeardAndTheReplySaysSo) {
    {  // the end falls while the surface is asked: the surface is told the session, and stops
        AgentHarness h;
        ASSERT_EQ(h.Call("start")["ok"], true);
        h.surface.speakOutcome.played = true;
        h.surface.HoldNext("speak");
        h.Send("say", "say", {{"text", "Halo"}});
        ASSERT_TRUE(h.surface.WaitHeld());
        h.surface.OnStopRequested();
        auto reply = h.sink.WaitReply("say");
        ASSERT_TRUE(reply);
        EXPECT_EQ((*reply)["error"], PlaybackCalls::kStopped);
        EXPECT_EQ(h.surface.log.Count("speak Halo"), 0);
    }
    {  // a "say" refused at the cap is not claimed as spoken anywhere
        AgentHarness h;
        ASSERT_EQ(h.Call("start")["ok"], true);
        h.surface.blockPlayback = true;
        for (int i = 0; i < PlaybackCalls::kMaxRunning; ++i) {
            EXPECT_EQ(h.Call("say", {{"text", "satu"}, {"wait", false}})["data"]["queued"], true);
        }
        ASSERT_TRUE(h.surface.WaitInPlayback(PlaybackCalls::kMaxRunning));
        json refused = h.Call("say", {{"text", "dua"}, {"wait", false}});
        EXPECT_EQ(refused["error"], PlaybackCalls::kBusy);
        EXPECT_EQ(h.sink.Events("chat").size(), static_cast<size_t>(PlaybackCalls::kMaxRunning));
        EXPECT_EQ(CountContaining(h.Audit(), "say len=3"), 0);
        for (const json& e : h.Inside().CurrentSession()->transcript->Entries()) EXPECT_NE(e["data"].value("text", ""), "dua");
        h.surface.ReleasePlayback();
        ASSERT_TRUE(WaitUntil([&] { return h.sink.Events("speech-done").size() == static_cast<size_t>(PlaybackCalls::kMaxRunning); }));
    }
}

// Reports of the trainee's activity that wait while the session ends are dropped, and
// those turned away at the cap are counted in one audit line.
TEST(SessionEnd, WaitingReportsDieWithTheirSessionAndDropsAreCounted) {
    AgentHarness h;
    h.inspector.element = sv::training::UiElement{};
    h.inspector.holdElementAt = true;
    ASSERT_EQ(h.Call("start")["ok"], true);
    sv::training::Activity click;
    click.device = "mouse";
    click.action = "click";
    click.x = 5;
    click.y = 5;
    auto* source = h.activity->current;
    source->OnActivity(click);
    ASSERT_TRUE(WaitUntil([&] { return h.inspector.insideElementAt.load(); }));
    for (int i = 0; i < 300; ++i) source->OnActivity(click);
    source->OnForeground(sv::training::WindowInfo{});  // dropped too
    source->OnDialog(sv::training::WindowInfo{});
    ASSERT_EQ(h.Call("end")["ok"], true);
    h.inspector.holdElementAt = false;
    h.inspector.Release();
    EXPECT_EQ(CountContaining(h.Audit(), "dropped 46 report(s) of the trainee's activity"), 1);
    ASSERT_EQ(h.Call("start")["ok"], true);  // the worker has gone through the old reports
    std::vector<std::string> kinds = h.sink.EventKinds();
    EXPECT_EQ(std::count(kinds.begin(), kinds.end(), "local-input"), 0);
}

// A wall clock that steps (a time sync) moves no interval: the gate, the hold-off after
// a trainee stop, the refusal notices, the focus throttle and the session's length.
TEST(TrainingClocks, AStepOfTheWallClockChangesNoInterval) {
    for (int64_t step : {int64_t{-3600000}, int64_t{3600000}}) {
        AgentHarness h;
        sv::training::UiElement a, b;
        a.name = "A";
        b.name = "B";
        ASSERT_EQ(h.Call("start")["ok"], true);
        h.activity->current->OnTraineeActive();
        h.clock.StepWall(step);
        h.clock.Advance(2499);
        EXPECT_FALSE(h.Agent().GateControllerInput("c1", "mouse")) << step;
        h.clock.Advance(1);
        EXPECT_TRUE(h.Agent().GateControllerInput("c1", "mouse")) << step;

        h.inspector.OnFocus(a);
        h.clock.StepWall(step);
        h.clock.Advance(150);
        h.inspector.OnFocus(b);
        EXPECT_EQ(h.sink.Events("focus").size(), 2u) << step;

        h.Call("mode", {{"mode", "your_turn"}});
        h.clock.Advance(1001);
        h.Agent().GateControllerInput("c1", "mouse");
        EXPECT_EQ(h.sink.Events("input-refused").size(), 2u) << step;
        h.clock.StepWall(step);
        h.clock.Advance(500);
        h.Agent().GateControllerInput("c1", "mouse");
        EXPECT_EQ(h.sink.Events("input-refused").size(), 2u) << step;
        h.clock.Advance(501);
        h.Agent().GateControllerInput("c1", "mouse");
        EXPECT_EQ(h.sink.Events("input-refused").size(), 3u) << step;

        h.clock.StepWall(step);
        h.clock.Advance(95000 - 2499 - 1 - 150 - 1001 - 500 - 501);
        EXPECT_EQ(h.Call("end")["data"]["minutes"], 1.6) << step;

        ASSERT_EQ(h.Call("start")["ok"], true);
        h.surface.OnStopRequested();
        ASSERT_TRUE(WaitUntil([&] { return h.sink.Events("session-ended").size() == 2; }));
        h.clock.StepWall(step);
        h.clock.Advance(599999);
        EXPECT_NE(h.Call("start")["error"].get<std::string>().find(" 9 min ago"), std::string::npos) << step;
        h.clock.Advance(1);
        EXPECT_EQ(h.Call("start")["ok"], true) << step;
    }
}

}  // namespace
