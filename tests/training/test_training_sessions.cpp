#include <gtest/gtest.h>

#include <atomic>
#include <regex>
#include <set>
#include <thread>
#include <vector>

#include "training/training_json.h"
#include "training/training_time.h"
#include "training_fakes.h"

namespace {

using nlohmann::json;
using sv_test::AgentHarness;
using sv_test::CountContaining;

std::vector<json> TranscriptLines(const std::string& path) {
    std::vector<json> out;
    std::string text = sv_test::ReadFile(path);
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find("\r\n", start);
        if (end == std::string::npos) break;
        out.push_back(json::parse(text.substr(start, end - start)));
        start = end + 2;
    }
    return out;
}

TEST(TrainingSessions, StartWithoutSurfaceIsRefused) {
    AgentHarness h(false);
    json r = h.Call("start");
    EXPECT_EQ(r["ok"], false);
    EXPECT_EQ(r["error"],
              "unsupported: this host has no on-screen UI, and a training session must be visible to the person at the "
              "machine");
    EXPECT_EQ(h.Call("status")["data"]["active"], false);
}

TEST(TrainingSessions, StartBuildsTheSessionAndTellsEveryone) {
    AgentHarness h;
    h.origin = {-1920, 0};
    h.surface.banner = sv::training::Box{-1900, 40, 300, 200};
    h.hooks.foregroundWindow = [] {
        sv::training::WindowInfo w;
        w.hwnd = 42;
        w.title = "Calc";
        w.rect = {-1920, 0, 100, 50};
        return std::optional<sv::training::WindowInfo>(w);
    };
    json r = h.Call("start", json::object(), "ctl-1");
    ASSERT_EQ(r["ok"], true) << r.dump();
    const json& d = r["data"];
    std::string id = d["sessionId"];
    EXPECT_TRUE(std::regex_match(id, std::regex("^[0-9]{8}-[0-9]{6}-[0-9a-f]{6}$"))) << id;
    EXPECT_EQ(d["mode"], "demo");
    EXPECT_EQ(d["seq"], 1);
    EXPECT_EQ(d["banner"], json({20, 40, 300, 200}));
    EXPECT_EQ(d["foreground"]["rect"], json({0, 0, 100, 50}));
    EXPECT_EQ(d["screen"]["originX"], -1920);
    EXPECT_EQ(d["voices"], json::array());
    ASSERT_TRUE(d.contains("transcript"));
    EXPECT_FALSE(d.contains("alreadyActive"));

    auto calls = h.surface.log.Calls();
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ(calls[0], "begin " + id);
    EXPECT_EQ(calls[1], "mode 1 running");
    EXPECT_EQ(h.inspector.log.Count("focus-on"), 1);
    EXPECT_EQ(h.activity->log.Count("start"), 1);

    auto ev = h.sink.Events("session-started");
    ASSERT_EQ(ev.size(), 1u);
    EXPECT_EQ(ev[0]["data"], json({{"sessionId", id}, {"mode", "demo"}, {"title", "Sesi pelatihan"}}));
    EXPECT_EQ(CountContaining(h.Audit(), "training | actor=ctl-1 | start session=" + id +
                                             " mode=demo title=Sesi pelatihan"),
              1);

    auto lines = TranscriptLines(d["transcript"]);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0]["kind"], "start");
    EXPECT_EQ(lines[0]["ts"], h.clock.now.load());
    EXPECT_EQ(lines[0]["data"], json({{"title", "Sesi pelatihan"},
                                      {"trainer", "Asisten AI"},
                                      {"language", "id-ID"},
                                      {"mode", "demo"},
                                      {"controller", "ctl-1"}}));
}

TEST(TrainingSessions, StartArgumentsAreCutAndModesParsed) {
    AgentHarness h;
    std::string title;
    for (int i = 0; i < 200; ++i) title += "\xC3\xA9";
    json r = h.Call("start", {{"title", title}, {"trainer", "Budi"}, {"language", "en-US"}, {"mode", "Your_Turn"}}, "");
    ASSERT_EQ(r["ok"], true);
    EXPECT_EQ(r["data"]["mode"], "your_turn");
    EXPECT_EQ(h.Inside().Gate().Mode(), sv::training::TrainingMode::kYourTurn);
    auto session = h.Inside().CurrentSession();
    ASSERT_TRUE(session);
    EXPECT_EQ(session->title.size(), 240u);
    EXPECT_EQ(session->trainer, "Budi");
    EXPECT_EQ(session->culture, "en-US");
    EXPECT_EQ(session->controller, "");
    // No controller: no "controller" key in the transcript's first line.
    EXPECT_FALSE(session->transcript->Entries()[0]["data"].contains("controller"));
    h.Call("end");
    EXPECT_EQ(h.Inside().Gate().Mode(), sv::training::TrainingMode::kOff);
    EXPECT_EQ(h.Call("start", {{"mode", "off"}})["data"]["mode"], "demo");
    h.Call("end");
    EXPECT_EQ(h.Call("start", {{"mode", "later"}})["data"]["mode"], "demo");
}

TEST(TrainingSessions, SecondStartReportsAlreadyActive) {
    AgentHarness h;
    std::string id = h.Call("start")["data"]["sessionId"];
    json r = h.Call("start", {{"mode", "your_turn"}});
    EXPECT_EQ(r["ok"], true);
    EXPECT_EQ(r["data"]["alreadyActive"], true);
    EXPECT_EQ(r["data"]["sessionId"], id);
    EXPECT_EQ(r["data"]["mode"], "demo");
    EXPECT_EQ(h.surface.log.Count("begin " + id), 1);
}

TEST(TrainingSessions, EndWithSummaryReportsMinutesAndTidiesUp) {
    AgentHarness h;
    json s = h.Call("start", json::object(), "ctl");
    std::string id = s["data"]["sessionId"];
    std::string path = s["data"]["transcript"];
    h.Call("chat", {{"text", "one"}});
    h.Call("chat", {{"text", "two"}});
    h.clock.Advance(95000);
    json r = h.Call("end", {{"summary", "done well"}}, "ctl");
    ASSERT_EQ(r["ok"], true);
    EXPECT_EQ(r["data"]["ended"], true);
    EXPECT_EQ(r["data"]["sessionId"], id);
    EXPECT_EQ(r["data"]["chatMessages"], 2);
    EXPECT_DOUBLE_EQ(r["data"]["minutes"].get<double>(), 1.6);
    EXPECT_EQ(r["data"]["transcript"], path);
    std::string reason = "ended by controller: done well";
    EXPECT_EQ(h.sink.Events("session-ended").at(0)["data"], json({{"sessionId", id}, {"reason", reason}}));
    EXPECT_EQ(h.surface.log.Count("end " + reason), 1);
    EXPECT_EQ(h.inspector.log.Count("focus-off"), 1);
    EXPECT_EQ(h.activity->log.Count("stop"), 1);
    EXPECT_EQ(h.activity->log.Count("destroyed"), 1);
    EXPECT_EQ(CountContaining(h.Audit(), "training | actor=ctl | end session=" + id + " reason=" + reason), 1);
    auto lines = TranscriptLines(path);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back()["kind"], "end");
    EXPECT_EQ(lines.back()["data"]["reason"], reason);
    // An empty summary still counts as given.
    h.Call("start");
    EXPECT_EQ(h.Call("end", {{"summary", ""}})["ok"], true);
    EXPECT_EQ(h.sink.Events("session-ended").at(1)["data"]["reason"], "ended by controller: ");
    h.Call("start");
    h.Call("end");
    EXPECT_EQ(h.sink.Events("session-ended").at(2)["data"]["reason"], "ended by controller");
}

TEST(TrainingSessions, TraineeStopHoldsOffRestartForTenMinutes) {
    AgentHarness h;
    std::atomic<int> endedLocally{0};
    h.Agent().SetEndLocallyHook([&] { endedLocally.fetch_add(1); });
    h.Call("start");
    int64_t stopAt = h.clock.now.load();
    h.surface.OnStopRequested();
    ASSERT_TRUE(h.sink.WaitEvent("session-ended"));
    ASSERT_TRUE(sv_test::WaitUntil([&] { return endedLocally.load() == 1; }));
    EXPECT_EQ(h.sink.Events("stopped").at(0)["data"], json({{"by", "trainee"}}));
    EXPECT_EQ(h.sink.Events("session-ended").at(0)["data"]["reason"], "stopped by the trainee");
    EXPECT_EQ(CountContaining(h.Audit(), "training | stopped by the trainee (banner stop button)"), 1);
    json st = h.Call("status")["data"];
    EXPECT_EQ(st["stoppedByTraineeAt"], sv::training::FormatUtcSeconds(stopAt / 1000));

    h.clock.Advance(9 * 60000 + 59000);
    json r = h.Call("start");
    EXPECT_EQ(r["ok"], false);
    EXPECT_EQ(r["error"],
              "the trainee ended the last session 9 min ago — do not restart until they ask again (\"Mulai "
              "pelatihan\" on their Sorvane window, which shows up in list_session_requests)");
    h.clock.Advance(999);
    EXPECT_EQ(h.Call("start")["ok"], false);
    h.clock.Advance(1);
    EXPECT_EQ(h.Call("start")["ok"], true);
}

TEST(TrainingSessions, StopWithoutSessionDoesNothing) {
    AgentHarness h;
    std::atomic<int> endedLocally{0};
    h.Agent().SetEndLocallyHook([&] { endedLocally.fetch_add(1); });
    h.Inside().OnStopRequested();
    EXPECT_EQ(endedLocally.load(), 0);
    EXPECT_TRUE(h.sink.Texts().empty());
    EXPECT_EQ(h.Call("start")["ok"], true);
}

TEST(TrainingSessions, StatusReportsInputTimeOnlyOnceThereWasInput) {
    AgentHarness h;
    h.surface.muted = true;
    json d = h.Call("status")["data"];
    EXPECT_FALSE(d.contains("msSinceLocalInput"));
    EXPECT_FALSE(d.contains("stoppedByTraineeAt"));
    EXPECT_FALSE(d.contains("banner"));
    EXPECT_FALSE(d.contains("foreground"));
    EXPECT_EQ(d["muted"], true);
    EXPECT_DOUBLE_EQ(d["volume"].get<double>(), 0.75);
    h.Call("start");
    h.activity->current->OnTraineeActive();
    h.clock.Advance(700);
    d = h.Call("status")["data"];
    EXPECT_EQ(d["msSinceLocalInput"], 700);
    EXPECT_EQ(d["paused"], true);
    EXPECT_EQ(d["active"], true);
    h.Call("end");
    h.clock.Advance(300);
    EXPECT_EQ(h.Call("status")["data"]["msSinceLocalInput"], 1000);
}

TEST(TrainingSessions, LastControllerLeavingEndsTheSession) {
    AgentHarness h;
    h.Call("start");
    h.Agent().OnControllersGone(1);
    EXPECT_TRUE(h.Inside().HasSession());
    h.Agent().OnControllersGone(0);
    auto ev = h.sink.WaitEvent("session-ended");
    ASSERT_TRUE(ev);
    EXPECT_EQ((*ev)["data"]["reason"], "all controllers disconnected");
    EXPECT_FALSE(h.Inside().HasSession());
    EXPECT_TRUE(sv_test::WaitUntil([&] { return h.Inside().InFlight() == 0; }));
}

TEST(TrainingSessions, LeaveOfAllEndsOnlyTheSessionThatWasLiveThen) {
    // The end for "everyone left" runs later on its own thread; a session that a newly
    // joined controller started in the meantime must survive it.
    AgentHarness h;
    h.Call("start");
    auto old = h.Inside().CurrentSession();
    ASSERT_TRUE(old);
    h.Inside().EndSession("x", "");
    h.Call("start");
    auto fresh = h.Inside().CurrentSession();
    ASSERT_TRUE(fresh);
    ASSERT_NE(fresh, old);
    h.Inside().EndForAllGone(old);
    EXPECT_EQ(h.Inside().CurrentSession(), fresh);
    h.Inside().EndForAllGone(fresh);
    EXPECT_FALSE(h.Inside().HasSession());
}

TEST(TrainingSessions, RacingStartsMakeOneSessionAndRacingEndsEndItOnce) {
    AgentHarness h;
    const int n = 8;
    for (int i = 0; i < n; ++i) h.Send("s" + std::to_string(i), "start");
    int fresh = 0;
    int already = 0;
    for (int i = 0; i < n; ++i) {
        auto r = h.sink.WaitReply("s" + std::to_string(i));
        ASSERT_TRUE(r);
        ((*r)["data"].contains("alreadyActive") ? already : fresh)++;
    }
    EXPECT_EQ(fresh, 1);
    EXPECT_EQ(already, n - 1);
    std::vector<std::thread> enders;
    std::atomic<int> ended{0};
    for (int i = 0; i < n; ++i) {
        enders.emplace_back([&] {
            auto r = h.Inside().EndSession("race", "");
            if (r.data["ended"] == true) ended.fetch_add(1);
        });
    }
    for (auto& t : enders) t.join();
    EXPECT_EQ(ended.load(), 1);
    EXPECT_EQ(h.sink.Events("session-ended").size(), 1u);
}

TEST(TrainingSessions, StartEndStopAndAllGoneInterleavedLeaveNothingBehind) {
    AgentHarness h(true, true);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 15; ++i) {
                switch ((i + t) % 4) {
                    case 0: h.Inside().StartSession(json::object(), "c"); break;
                    case 1: h.Inside().EndSession("x", ""); break;
                    case 2: h.Agent().OnControllersGone(0); break;
                    default: h.Inside().StartSession(json{{"mode", "your_turn"}}, "c"); break;
                }
            }
        });
    }
    for (auto& t : threads) t.join();
    // The quiet watch of a session still live counts among the agent's threads.
    h.Inside().EndSession("final", "");
    ASSERT_TRUE(sv_test::WaitUntil([&] { return h.Inside().InFlight() == 0; }));
    // Every source made was stopped and destroyed; the gate is off; focus tracking balanced.
    int made = 0;
    {
        std::lock_guard<std::mutex> lock(h.activity->mutex);
        made = h.activity->made;
    }
    EXPECT_GT(made, 0);
    EXPECT_EQ(h.activity->log.Count("start"), made);
    EXPECT_EQ(h.activity->log.Count("stop"), made);
    EXPECT_EQ(h.activity->log.Count("destroyed"), made);
    EXPECT_EQ(h.inspector.log.Count("focus-on"), h.inspector.log.Count("focus-off"));
    EXPECT_EQ(h.Inside().Gate().Mode(), sv::training::TrainingMode::kOff);
    // Every session announced is ended once. A session ended while its banner was still
    // coming up is ended (the trainer hears of the stop) without ever being announced.
    std::multiset<std::string> endedIds;
    for (const json& e : h.sink.Events("session-ended")) endedIds.insert(e["data"]["sessionId"].get<std::string>());
    for (const std::string& id : endedIds) EXPECT_EQ(endedIds.count(id), 1u) << id;
    for (const json& e : h.sink.Events("session-started")) {
        EXPECT_EQ(endedIds.count(e["data"]["sessionId"].get<std::string>()), 1u);
    }
}

TEST(TrainingSessions, ShutdownEndsTheLiveSession) {
    AgentHarness h;
    h.Call("start");
    h.Agent().Shutdown();
    auto ev = h.sink.Events("session-ended");
    ASSERT_EQ(ev.size(), 1u);
    EXPECT_EQ(ev[0]["data"]["reason"], "host shutting down");
    EXPECT_EQ(h.surface.log.Count("end host shutting down"), 1);
    EXPECT_EQ(h.activity->log.Count("destroyed"), 1);
}

TEST(TrainingTranscripts, LiveStoredAndRefused) {
    AgentHarness h;
    json s = h.Call("start");
    std::string id = s["data"]["sessionId"];
    json live = h.Call("transcript")["data"];
    EXPECT_EQ(live["sessionId"], id);
    EXPECT_EQ(live["active"], true);
    EXPECT_EQ(live["entries"].size(), 1u);
    EXPECT_EQ(h.Call("transcript", {{"sessionId", id}})["data"]["active"], true);
    h.Call("end");
    json stored = h.Call("transcript")["data"];
    EXPECT_EQ(stored["sessionId"], id);
    EXPECT_EQ(stored["active"], false);
    ASSERT_EQ(stored["entries"].size(), 2u);
    EXPECT_EQ(stored["entries"][1]["kind"], "end");
    json bad = h.Call("transcript", {{"sessionId", "../" + id}});
    EXPECT_EQ(bad["error"], "no transcript '../" + id + "' on this machine");
    EXPECT_EQ(h.Call("transcript", {{"sessionId", "CON"}})["error"], "no transcript 'CON' on this machine");
    json sessions = h.Call("sessions")["data"]["sessions"];
    ASSERT_EQ(sessions.size(), 1u);
    EXPECT_EQ(sessions[0]["sessionId"], id);
    EXPECT_GT(sessions[0]["bytes"].get<int64_t>(), 0);
}

TEST(TrainingTranscripts, NoDirectory) {
    AgentHarness h;
    h.hooks.transcriptDirectory = "";
    json s = h.Call("start");
    EXPECT_FALSE(s["data"].contains("transcript"));
    EXPECT_EQ(h.Call("transcript")["data"]["active"], true);  // still answered from memory
    json e = h.Call("end");
    EXPECT_FALSE(e["data"].contains("transcript"));
    EXPECT_EQ(h.Call("transcript")["error"], "no transcript directory on this host");
    EXPECT_EQ(h.Call("sessions")["data"]["sessions"], json::array());
}

TEST(TrainingGate, NoSessionAllowsAll) {
    AgentHarness h;
    h.Inside().Gate().SetMode(sv::training::TrainingMode::kYourTurn);
    EXPECT_TRUE(h.Agent().GateControllerInput("c", "mouse"));
}

TEST(TrainingGate, YourTurnRefusalsAreAnnouncedAtMostOncePerSecond) {
    AgentHarness h;
    h.Call("start", {{"mode", "your_turn"}});
    EXPECT_FALSE(h.Agent().GateControllerInput("c1", "mouse"));
    h.clock.Advance(500);
    EXPECT_FALSE(h.Agent().GateControllerInput("c1", "keyboard"));
    h.clock.Advance(500);  // exactly 1000 ms: still quiet
    EXPECT_FALSE(h.Agent().GateControllerInput("c1", "mouse"));
    auto ev = h.sink.Events("input-refused");
    ASSERT_EQ(ev.size(), 1u);
    EXPECT_EQ(ev[0]["data"], json({{"reason", "your_turn"}, {"what", "mouse"}, {"controller", "c1"}}));
    EXPECT_EQ(CountContaining(h.Audit(), "training-input-refused | actor=c1 | mouse reason=your_turn"), 1);
    h.clock.Advance(1);
    EXPECT_FALSE(h.Agent().GateControllerInput("", "keyboard"));
    ev = h.sink.Events("input-refused");
    ASSERT_EQ(ev.size(), 2u);
    EXPECT_FALSE(ev[1]["data"].contains("controller"));
}

TEST(TrainingGate, DemoPausesOnTraineeInputAndResumesAfterQuiet) {
    AgentHarness h;
    h.Call("start");
    auto* source = h.activity->current;
    ASSERT_NE(source, nullptr);
    source->OnTraineeActive();
    source->OnTraineeActive();
    EXPECT_EQ(h.sink.Events("ai-paused").size(), 1u);
    EXPECT_EQ(h.sink.Events("ai-paused")[0]["data"], json({{"reason", "trainee-active"}}));
    EXPECT_EQ(h.surface.log.Count("mode 1 paused"), 1);
    h.clock.Advance(2499);
    EXPECT_FALSE(h.Agent().GateControllerInput("c", "mouse"));
    h.Inside().CheckQuiet();
    EXPECT_TRUE(h.sink.Events("ai-resumed").empty());
    h.clock.Advance(1);
    EXPECT_TRUE(h.Agent().GateControllerInput("c", "mouse"));
    h.Inside().CheckQuiet();
    auto resumed = h.sink.Events("ai-resumed");
    ASSERT_EQ(resumed.size(), 1u);
    EXPECT_EQ(resumed[0]["data"], json({{"quietMs", 2500}}));
}

TEST(TrainingGate, TheQuietWatchResumesOnItsOwn) {
    AgentHarness h(true, true);
    h.Call("start");
    h.activity->current->OnTraineeActive();
    ASSERT_TRUE(h.sink.WaitEvent("ai-paused"));
    h.clock.Advance(2500);
    EXPECT_TRUE(h.sink.WaitEvent("ai-resumed"));
    h.Call("end");
}

TEST(TrainingGate, ModeChangeClearsPauseWithoutResumeEvent) {
    AgentHarness h;
    h.Call("start");
    h.activity->current->OnTraineeActive();
    json r = h.Call("mode", {{"mode", " Your-Turn "}}, "ctl");
    EXPECT_EQ(r["data"], json({{"mode", "your_turn"}}));
    EXPECT_FALSE(h.Inside().Gate().Paused());
    h.clock.Advance(5000);
    h.Inside().CheckQuiet();
    EXPECT_TRUE(h.sink.Events("ai-resumed").empty());
    EXPECT_EQ(h.sink.Events("mode").at(0)["data"], json({{"mode", "your_turn"}, {"controller", "ctl"}}));
    EXPECT_EQ(CountContaining(h.Audit(), "training | actor=ctl | mode your_turn"), 1);
    EXPECT_EQ(h.Inside().CurrentSession()->transcript->Entries().back()["data"], json({{"mode", "your_turn"}}));
    for (const char* bad : {"off", "", "show"}) {
        EXPECT_EQ(h.Call("mode", {{"mode", bad}})["error"],
                  "mode must be demo or your_turn (use end to stop the session)");
    }
    EXPECT_EQ(h.Call("mode")["error"], "mode must be demo or your_turn (use end to stop the session)");
    EXPECT_EQ(h.Inside().Gate().Mode(), sv::training::TrainingMode::kYourTurn);
}

TEST(TrainingGate, ExplainRefusalTexts) {
    AgentHarness h;
    json a = h.Inside().ExplainRefusal("click", "your_turn", "c");
    EXPECT_EQ(a, json({{"done", false},
                       {"refused", true},
                       {"reason", "your_turn"},
                       {"explain",
                        "It is the trainee's turn: the host refuses remote input. Switch to demo mode first if you must "
                        "drive."}}));
    json b = h.Inside().ExplainRefusal("click", "trainee-active", "");
    EXPECT_EQ(b["explain"],
              "The trainee is using the mouse or keyboard right now. Wait for them (wait_for_event) and try again once "
              "they stop.");
    EXPECT_EQ(h.sink.Events("input-refused").size(), 2u);  // no throttle here
}

TEST(TrainingChat, TheChatListIsBoundedButCounted) {
    AgentHarness h;
    h.Call("start");
    auto session = h.Inside().CurrentSession();
    const int n = static_cast<int>(sv::training::TrainingSession::kMaxChatMessages) + 100;
    for (int i = 0; i < n; ++i) {
        sv::training::ChatMessage m;
        m.seq = i + 1;
        session->AddChat(m);
    }
    EXPECT_EQ(session->ChatSince(0).size(), sv::training::TrainingSession::kMaxChatMessages);
    EXPECT_EQ(session->ChatSince(0).front().seq, 101);
    EXPECT_EQ(h.Call("end")["data"]["chatMessages"], n);
}

}  // namespace
