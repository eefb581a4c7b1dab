#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "training/training_json.h"
#include "training_fakes.h"

namespace {

using nlohmann::json;
using sv_test::AgentHarness;

const char* kNoSession = "no training session is active — call start first";

TEST(TrainingAgentDispatch, HelloWithoutSurfaceSaysUnsupported) {
    AgentHarness h(false);
    json r = h.Call("hello");
    ASSERT_FALSE(r.is_null());
    EXPECT_EQ(r["ok"], true);
    const json& d = r["data"];
    EXPECT_EQ(d["supported"], false);
    EXPECT_EQ(d["reason"],
              "this Windows 7 host runs as a service with no on-screen UI; live training needs the host started on the "
              "desktop (the TMHost logon task)");
    EXPECT_FALSE(d.contains("features"));
    EXPECT_EQ(d["protocol"], 1);
    EXPECT_EQ(d["hostVersion"], "1.1.6");
    EXPECT_EQ(d["variant"], "win7");
    EXPECT_EQ(d["quietMs"], 2500);
    EXPECT_EQ(d["active"], false);
    EXPECT_EQ(d["mode"], "off");
    EXPECT_EQ(d["seq"], 0);
    EXPECT_EQ(d["screen"], json({{"width", 1920}, {"height", 1080}, {"originX", 0}, {"originY", 0}}));
    EXPECT_EQ(d["voices"], json::array());
    EXPECT_FALSE(d.contains("sessionId"));
}

TEST(TrainingAgentDispatch, HelloWithSurfaceListsFeaturesAndVoices) {
    AgentHarness h;
    h.surface.voices = {{"Microsoft Andika", "id-ID", "sapi"}};
    json d = h.Call("hello")["data"];
    EXPECT_EQ(d["supported"], true);
    EXPECT_FALSE(d.contains("reason"));
    EXPECT_EQ(d["features"],
              json({"overlay", "chat", "say", "audio", "modes", "events", "ui-tree", "transcript", "banner"}));
    EXPECT_EQ(d["voices"], json::parse(R"([{"culture":"id-ID","engine":"sapi","name":"Microsoft Andika"}])"));
    EXPECT_EQ(h.surface.log.Count("voices cached"), 1);
}

TEST(TrainingAgentDispatch, ReplyBytesAreCompactAndSorted) {
    AgentHarness h(false);
    h.Call("mascot");
    auto texts = h.sink.Texts();
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0], R"({"error":")" + std::string(kNoSession) + R"(","id":"r1","ok":false,"type":"training-result"})");
}

TEST(TrainingAgentDispatch, SessionCheckAndUnknownOps) {
    AgentHarness h;
    EXPECT_EQ(h.Call("frobnicate")["error"], kNoSession);
    EXPECT_EQ(h.Call("")["error"], kNoSession);
    EXPECT_EQ(h.Call("Hello")["error"], kNoSession);  // case-sensitive
    for (const char* op : {"mode", "overlay", "clear", "chat", "chat-read", "say", "audio", "input", "ui-tree",
                           "element-at", "banner", "mascot", "speech-text"}) {
        EXPECT_EQ(h.Call(op)["error"], kNoSession) << op;
    }
    json end = h.Call("end");
    EXPECT_EQ(end["ok"], false);
    EXPECT_EQ(end["error"], "no training session is active");
    ASSERT_EQ(h.Call("start")["ok"], true);
    EXPECT_EQ(h.Call("frobnicate")["error"], "unknown training op 'frobnicate'");
    EXPECT_EQ(h.Call("")["error"], "unknown training op ''");
    EXPECT_EQ(h.Call("mascot")["error"], "this host has no mascot");
    json st = h.Call("speech-text");
    EXPECT_EQ(st["ok"], true);
    EXPECT_EQ(st["data"], json({{"accepted", false}}));
}

TEST(TrainingAgentDispatch, OpsWorkingWithoutASession) {
    AgentHarness h;
    h.surface.voices = {{"A", "en-US", "sapi"}};
    EXPECT_EQ(h.Call("status")["ok"], true);
    EXPECT_EQ(h.Call("events")["data"], json::parse(R"({"events":[],"seq":0})"));
    EXPECT_EQ(h.Call("sessions")["data"], json::parse(R"({"sessions":[]})"));
    json v = h.Call("voices", {{"refresh", true}});
    EXPECT_EQ(v["data"]["voices"][0]["name"], "A");
    EXPECT_EQ(h.surface.log.Count("voices refresh"), 1);
    EXPECT_EQ(h.Call("transcript")["error"], "no training session has been recorded on this machine");
}

TEST(TrainingAgentDispatch, MissingIdNonObjectAndNonStringOp) {
    AgentHarness h;
    h.Agent().QueueTrainingRequest(json{{"op", "hello"}}, "c1");
    auto r = h.sink.WaitReply("");
    ASSERT_TRUE(r);
    EXPECT_EQ((*r)["ok"], true);
    h.Agent().QueueTrainingRequest(json{{"id", "n"}, {"op", 5}}, "c1");
    auto n = h.sink.WaitReply("n");
    ASSERT_TRUE(n);
    EXPECT_EQ((*n)["error"], kNoSession);
    h.Agent().QueueTrainingRequest(json::array({1, 2}), "c1");
    EXPECT_TRUE(h.sink.WaitText([](const json& j) { return j.value("error", "") == kNoSession && j["id"] == ""; }));
    EXPECT_THROW(h.Agent().QueueTrainingRequest(json{{"id", 7}, {"op", "hello"}}, "c1"), std::exception);
}

TEST(TrainingAgentDispatch, AThrowingOperationIsAnsweredAndAudited) {
    AgentHarness h;
    h.surface.throwInVoices = true;
    json r = h.Call("voices", json::object(), "ctl-9");
    EXPECT_EQ(r["ok"], false);
    EXPECT_EQ(r["error"], "voice registry unreadable");
    EXPECT_EQ(sv_test::CountContaining(h.Audit(), "training-error | actor=ctl-9 | voices: voice registry unreadable"), 1);
}

TEST(TrainingAgentQueue, OrderedOpsAnswerInOrderAndOthersMayOvertake) {
    AgentHarness h;
    ASSERT_EQ(h.Call("start")["ok"], true);
    h.surface.blockVoices = true;
    std::vector<std::string> ordered;
    for (int i = 0; i < 12; ++i) {
        const char* op = (i % 5 == 0) ? "overlay" : (i % 5 == 1) ? "clear" : (i % 5 == 2) ? "banner" : (i % 5 == 3) ? "chat" : "mode";
        std::string id = "o" + std::to_string(i);
        ordered.push_back(id);
        h.Send(id, op, json{{"text", "hi"}, {"mode", "demo"}});
    }
    h.Send("v", "voices");  // detached, blocks in the surface
    ASSERT_TRUE(h.sink.WaitReply("o11"));
    h.Send("s", "status");  // detached: answered while "voices" still blocks
    ASSERT_TRUE(h.sink.WaitReply("s"));
    EXPECT_FALSE(h.sink.WaitReply("v", 0));
    h.surface.Release();
    ASSERT_TRUE(h.sink.WaitReply("v"));
    std::vector<std::string> got;
    for (auto& id : h.sink.ReplyIdsInOrder())
        if (id.size() > 1 && id[0] == 'o') got.push_back(id);
    EXPECT_EQ(got, ordered);
}

TEST(TrainingAgentQueue, TooManyRunningRequestsAreRefusedWithARetrySentence) {
    AgentHarness h;
    h.surface.blockVoices = true;
    const int n = sv::training::TrainingAgent::kMaxRequestThreads;
    for (int i = 0; i < n; ++i) h.Send("v" + std::to_string(i), "voices");
    h.Send("extra", "voices");
    auto r = h.sink.WaitReply("extra");
    ASSERT_TRUE(r);
    EXPECT_EQ((*r)["ok"], false);
    EXPECT_EQ((*r)["error"], sv::training::TrainingAgent::kBusyMessage);
    h.surface.Release();
    for (int i = 0; i < n; ++i) ASSERT_TRUE(h.sink.WaitReply("v" + std::to_string(i))) << i;
    // Capacity comes back once the threads end.
    ASSERT_TRUE(sv_test::WaitUntil([&] { return h.Inside().InFlight() == 0; }));
    EXPECT_EQ(h.Call("voices")["ok"], true);
}

TEST(TrainingAgentQueue, TheOrderedQueueIsBounded) {
    AgentHarness h;
    ASSERT_EQ(h.Call("start")["ok"], true);
    // Stall the worker inside an ordered "chat", then fill the queue behind it.
    h.surface.blockChat = true;
    h.Send("first", "chat", json{{"text", "hi"}});
    ASSERT_TRUE(sv_test::WaitUntil([&] { return h.surface.inChat.load(); }));
    const size_t n = sv::training::TrainingAgent::kMaxQueuedRequests;
    for (size_t i = 0; i < n; ++i) h.Send("q" + std::to_string(i), "mode", json{{"mode", "demo"}});
    h.Send("over", "clear");
    auto over = h.sink.WaitReply("over");
    ASSERT_TRUE(over);
    EXPECT_EQ((*over)["error"], sv::training::TrainingAgent::kBusyMessage);
    EXPECT_FALSE(h.sink.WaitReply("q0", 0));
    h.surface.Release();
    for (size_t i = 0; i < n; ++i) {
        auto r = h.sink.WaitReply("q" + std::to_string(i));
        ASSERT_TRUE(r) << i;
        EXPECT_EQ((*r)["ok"], true);
    }
    // The trainee's stop is never refused, however full the agent is.
    h.surface.OnStopRequested();
    EXPECT_TRUE(h.sink.WaitEvent("session-ended"));
}

TEST(TrainingAgentEvents, EventsOperationRoundsMaxTruncatesSinceAndSkipsKindsThatAreNotText) {
    AgentHarness h;
    for (int i = 0; i < 10; ++i) h.Inside().EmitEvent(i % 2 ? "chat" : "mode", nullptr);
    json d = h.Call("events", {{"max", 2.5}, {"since", 3.9}})["data"];
    ASSERT_EQ(d["events"].size(), 3u);
    EXPECT_EQ(d["events"][0]["seq"], 4);
    EXPECT_EQ(d["seq"], 10);
    EXPECT_FALSE(d["events"][0].contains("data"));
    json k = h.Call("events", {{"kinds", {"chat", 4}}, {"max", "x"}})["data"];
    EXPECT_EQ(k["events"].size(), 5u);
    for (auto& e : k["events"]) EXPECT_EQ(e["kind"], "chat");
    EXPECT_EQ(h.Call("events", {{"max", 0}})["data"]["events"].size(), 1u);
    EXPECT_EQ(h.Call("events", {{"max", 1e30}, {"since", -1e30}})["data"]["events"].size(), 10u);
    // Each emitted event also went out as a message.
    EXPECT_EQ(h.sink.Events("chat").size(), 5u);
}

TEST(TrainingAgentEvents, ASinkThatThrowsLosesTheMessageButNotTheRecord) {
    AgentHarness h;
    sv::training::TrainingAgent agent([](const std::string&) { throw std::runtime_error("down"); }, h.hooks);
    sv::training::TrainingAgentProbe inside(agent);
    inside.EmitEvent("x", json{{"a", 1}});
    EXPECT_EQ(inside.Events().LastSeq(), 1);
    inside.RunTrainingRequest("id", "hello", nullptr, "");  // must not throw
}

TEST(TrainingAgentShutdown, WaitsForARunningOpAndAuditsTheLongWait) {
    AgentHarness h;
    h.hooks.bounds.shutdownGraceMs = 100;
    h.surface.blockVoices = true;
    h.Send("slow", "voices");
    ASSERT_TRUE(sv_test::WaitUntil([&] { return h.surface.inVoices.load(); }));
    std::atomic<bool> done{false};
    std::thread stopper([&] {
        h.Agent().Shutdown();
        done.store(true);
    });
    // After the notice time the teardown says what it waits for, and still waits.
    ASSERT_TRUE(sv_test::WaitUntil(
        [&] { return sv_test::CountContaining(h.Audit(), "shutdown waits for 1 training thread(s)") == 1; }, 8000));
    EXPECT_FALSE(done.load());
    h.surface.Release();
    stopper.join();
    EXPECT_TRUE(done.load());
    EXPECT_TRUE(h.sink.WaitReply("slow", 0));
    EXPECT_EQ(h.Inside().InFlight(), 0);
    // New requests after teardown are answered at once.
    h.Send("late", "hello");
    auto late = h.sink.WaitReply("late", 0);
    ASSERT_TRUE(late);
    EXPECT_EQ((*late)["error"], sv::training::TrainingAgent::kShuttingDownMessage);
}

TEST(TrainingAgentShutdown, CallbacksAfterTeardownDoNothing) {
    AgentHarness h;
    ASSERT_EQ(h.Call("start")["ok"], true);
    auto chat = h.surface.OnTraineeChat;
    auto stop = h.surface.OnStopRequested;
    h.Agent().Shutdown();
    size_t before = h.sink.Texts().size();
    chat("hello?");
    stop();
    EXPECT_EQ(h.sink.Texts().size(), before);
    EXPECT_EQ(h.Inside().InFlight(), 0);
}

}  // namespace
