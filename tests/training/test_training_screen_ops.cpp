#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "training_input_fakes.h"

namespace {

using nlohmann::json;
using sv_test::AgentHarness;
using sv_test::CountContaining;
using sv_test::FakeInjector;
using sv_test::PreviewSurface;

const char* kNoSession = "no training session is active — call start first";

// An agent with a recording surface and injection hooks; previewMs kept tiny.
struct InputHarness {
    explicit InputHarness(int32_t previewMs = 1) {
        h.hooks.surface = &surface;
        h.hooks.previewMs = previewMs;
        inject.Wire(h.hooks);
    }
    std::vector<std::string> TranscriptKinds() {
        std::vector<std::string> kinds;
        for (const json& e : h.Agent().CurrentSession()->transcript->Entries()) kinds.push_back(e["kind"]);
        return kinds;
    }
    // Declared before the harness: the agent it owns uses them until it is gone.
    PreviewSurface surface;
    FakeInjector inject;
    AgentHarness h;
};

std::vector<std::string> EventKinds(AgentHarness& h) {
    std::vector<std::string> kinds;
    for (const std::string& t : h.sink.Texts()) {
        json j = json::parse(t);
        if (j["type"] == "training-event") kinds.push_back(j["kind"]);
    }
    return kinds;
}

TEST(TrainingInput, TheTraineesTurnRefusesBeforeAnyCheck) {
    InputHarness t;
    ASSERT_EQ(t.h.Call("start", {{"mode", "your_turn"}})["ok"], true);
    json r = t.h.Call("input", json::object());  // no kind at all
    EXPECT_EQ(r["ok"], true);
    EXPECT_EQ(r["data"]["done"], false);
    EXPECT_EQ(r["data"]["refused"], true);
    EXPECT_EQ(r["data"]["reason"], "your_turn");
    EXPECT_EQ(r["data"]["explain"],
              "It is the trainee's turn: the host refuses remote input. Switch to demo mode first if you must drive.");
    EXPECT_TRUE(t.surface.Shapes().empty());
    EXPECT_TRUE(t.inject.log.Calls().empty());
    auto refused = t.h.sink.Events("input-refused");
    ASSERT_EQ(refused.size(), 1u);
    EXPECT_EQ(refused[0]["data"], json({{"reason", "your_turn"}, {"what", ""}, {"controller", "c1"}}));
}

TEST(TrainingInput, AClickShowsTheGhostWhereItWillLand) {
    InputHarness t(5);
    t.h.origin = {-1920, -8};
    t.h.Call("start");
    json r = t.h.Call("input", {{"kind", "click"}, {"x", 960}, {"y", 540}, {"label", "Simpan"}});
    EXPECT_EQ(r["data"], json({{"done", true}, {"refused", false}}));
    auto shapes = t.surface.Shapes();
    ASSERT_EQ(shapes.size(), 1u);
    EXPECT_EQ(shapes[0].id, "ghost");
    EXPECT_EQ(shapes[0].x, -960);
    EXPECT_EQ(shapes[0].y, 532);
    EXPECT_EQ(shapes[0].ttlMs, 405);
    EXPECT_EQ(shapes[0].label, "Simpan");
    EXPECT_EQ(t.inject.log.Calls(),
              (std::vector<std::string>{"move 0.5000,0.5000 ", "down 0.5000,0.5000 left", "up 0.5000,0.5000 left"}));
    auto entries = t.h.Agent().CurrentSession()->transcript->Entries();
    EXPECT_EQ(entries.back()["kind"], "ai-input");
    EXPECT_EQ(entries.back()["data"],
              json({{"kind", "click"}, {"detail", "click 960,540"}, {"x", 960}, {"y", 540}, {"label", "Simpan"}}));
    EXPECT_EQ(CountContaining(t.h.Audit(), "training-input | actor=c1 | click 960,540"), 1);
}

TEST(TrainingInput, KindsAndPreviews) {
    struct Case {
        json args;
        size_t ghosts;
        std::vector<std::string> calls;
    };
    const std::vector<Case> cases = {
        {{{"kind", "CLICK"}, {"x", 0}, {"y", 0}, {"preview", false}},
         0,
         {"move 0.0000,0.0000 ", "down 0.0000,0.0000 left", "up 0.0000,0.0000 left"}},
        {{{"kind", "move"}, {"x", 480}, {"y", 270}}, 0, {"move 0.2500,0.2500 "}},
        {{{"kind", "right-click"}, {"x", -5}, {"y", 5000}},
         1,
         {"move 0.0000,1.0000 ", "down 0.0000,1.0000 right", "up 0.0000,1.0000 right"}},
        {{{"kind", "double-click"}, {"x", 1920}, {"y", 1080}},
         1,
         {"move 1.0000,1.0000 ", "down 1.0000,1.0000 left", "up 1.0000,1.0000 left", "move 1.0000,1.0000 ",
          "down 1.0000,1.0000 left", "up 1.0000,1.0000 left"}},
        {{{"kind", "key"}, {"key", "s"}, {"modifiers", {"ctrl", 5, "alt"}}}, 0, {"key ctrl alt s"}},
        {{{"kind", "text"}, {"text", "halo"}}, 0, {"type halo"}},
    };
    for (const Case& c : cases) {
        InputHarness t;
        t.h.Call("start");
        EXPECT_EQ(t.h.Call("input", c.args)["data"]["done"], true) << c.args;
        EXPECT_EQ(t.surface.Shapes().size(), c.ghosts) << c.args;
        EXPECT_EQ(t.inject.log.Calls(), c.calls) << c.args;
    }
}

TEST(TrainingInput, WhatHappensDuringThePreviewIsHeard) {
    struct Case {
        const char* name;
        std::function<void(InputHarness&)> during;
        json expected;  // the reply without "id" and "type"
    };
    auto refusal = [](const char* reason) {
        return json{{"ok", true}, {"data", {{"done", false}, {"refused", true}, {"reason", reason}}}};
    };
    const std::vector<Case> cases = {
        {"the trainee moves",
         [](InputHarness& t) {
             t.h.clock.Advance(1);
             t.h.activity->current->OnTraineeActive();
         },
         refusal("trainee-active")},
        {"the trainer's own mode switch", [](InputHarness& t) { t.h.Agent().Gate().SetMode(2); }, refusal("your_turn")},
        {"the trainee ends the session",
         [](InputHarness& t) { t.h.Agent().EndSession("stopped by the trainee", ""); },
         json{{"ok", false}, {"error", kNoSession}}},
    };
    for (const Case& c : cases) {
        InputHarness t;
        t.surface.duringPreview = [&] { c.during(t); };
        t.h.Call("start");
        json r = t.h.Call("input", {{"kind", "click"}, {"x", 10}, {"y", 10}});
        r.erase("id");
        r.erase("type");
        if (r.contains("data")) r["data"].erase("explain");
        EXPECT_EQ(r, c.expected) << c.name;
        EXPECT_EQ(t.surface.Shapes().size(), 1u) << c.name;
        EXPECT_TRUE(t.inject.log.Calls().empty()) << c.name;
    }
}

TEST(TrainingInput, FailuresAreErrorsAndLeaveNoRecord) {
    struct Case {
        json args;
        std::function<void(InputHarness&)> setup;
        std::string error;
        size_t pointerCalls;
    };
    auto none = [](InputHarness&) {};
    const std::vector<Case> cases = {
        {{{"kind", "click"}, {"x", 10}, {"y", 20}}, [](InputHarness& t) { t.inject.failPointerAt = 0; },
         "the host could not click at 10,20", 1},
        {{{"kind", "double-click"}, {"x", 10}, {"y", 20}}, [](InputHarness& t) { t.inject.failPointerAt = 4; },
         "the host could not double-click at 10,20", 5},
        {{{"kind", "move"}, {"x", 10}, {"y", 20}}, [](InputHarness& t) { t.h.hooks.pointerInput = nullptr; },
         "the host could not move at 10,20", 0},
        {{{"kind", "click"}, {"preview", false}},
         [](InputHarness& t) { t.h.hooks.screenSize = [] { return std::make_pair(0, 0); }; }, "screen size unknown", 0},
        {{{"kind", "text"}}, none, "text input needs text", 0},
        {{{"kind", "text"}, {"text", ""}}, none, "text input needs text", 0},
        {{{"kind", "text"}, {"text", "x"}}, [](InputHarness& t) { t.inject.typeOk = false; },
         "the host could not type that text", 0},
        {{{"kind", "text"}, {"text", "x"}}, [](InputHarness& t) { t.h.hooks.typeText = nullptr; },
         "the host could not type that text", 0},
        {{{"kind", "key"}, {"modifiers", {"ctrl"}}}, none, "key input needs a key", 0},
        {{{"kind", "key"}, {"key", "f5"}}, [](InputHarness& t) { t.inject.keyOk = false; },
         "the host could not press 'f5'", 0},
        {{{"kind", "drag"}}, none, "input kind must be click, double-click, right-click, move, text or key", 0},
        {json::object(), none, "input kind must be click, double-click, right-click, move, text or key", 0},
    };
    for (const Case& c : cases) {
        InputHarness t;
        c.setup(t);
        t.h.Call("start");
        json r = t.h.Call("input", c.args);
        EXPECT_EQ(r["ok"], false) << c.args;
        EXPECT_EQ(r["error"], c.error) << c.args;
        size_t pointer = 0;
        for (const std::string& call : t.inject.log.Calls()) {
            if (call.rfind("type", 0) != 0 && call.rfind("key", 0) != 0) ++pointer;
        }
        EXPECT_EQ(pointer, c.pointerCalls) << c.args;
        EXPECT_EQ(t.TranscriptKinds(), std::vector<std::string>{"start"}) << c.args;
        EXPECT_EQ(CountContaining(t.h.Audit(), "training-input | "), 0) << c.args;
    }
}

TEST(TrainingUiReading, TreeQueriesAreBoundedAndAudited) {
    AgentHarness h;
    h.origin = {-1280, 0};
    h.inspector.tree = {json{{"name", "Notepad"}, {"children", json::array()}}, ""};
    h.Call("start");
    json ok = h.Call("ui-tree", {{"window", "Notepad"}, {"depth", 40}, {"maxNodes", 3}});
    EXPECT_EQ(ok["ok"], true);
    EXPECT_EQ(ok["data"], h.inspector.tree.first);
    ASSERT_TRUE(h.inspector.lastQuery);
    EXPECT_EQ(h.inspector.lastQuery->window, "Notepad");
    EXPECT_EQ(h.inspector.lastQuery->depth, 15);
    EXPECT_EQ(h.inspector.lastQuery->maxNodes, 10);
    EXPECT_EQ(h.inspector.lastQuery->originX, -1280);
    EXPECT_EQ(h.inspector.lastTreeTimeoutMs.load(), 15000u);

    h.inspector.tree = {json{{"name", "Notepad"}, {"truncated", true}}, "UI Automation did not answer in time"};
    json late = h.Call("ui-tree");
    EXPECT_EQ(late["ok"], false);
    EXPECT_EQ(late["error"], "UI Automation did not answer in time");
    EXPECT_EQ(late["data"], h.inspector.tree.first);
    EXPECT_EQ(h.inspector.lastQuery->depth, 6);
    EXPECT_EQ(h.inspector.lastQuery->maxNodes, 250);
    auto audit = h.Audit();
    EXPECT_EQ(CountContaining(audit, "training | actor=c1 | ui-tree window=Notepad depth=15"), 1);
    EXPECT_EQ(CountContaining(audit, "training | actor=c1 | ui-tree window=foreground depth=6"), 1);
}

TEST(TrainingUiReading, ElementAtMapsThroughNegativeOrigins) {
    AgentHarness h;
    h.origin = {-1280, 0};
    sv::training::UiElement field;
    field.name = "Nama";
    field.controlType = "Edit";
    field.rect = {-1270, 20, 200, 24};
    field.enabled = true;
    h.inspector.element = field;
    h.Call("start");
    json r = h.Call("element-at", {{"x", 10}, {"y", 20}});
    EXPECT_EQ(h.inspector.log.Count("element-at -1270,20"), 1);
    EXPECT_EQ(h.inspector.lastElementTimeoutMs.load(), 5000u);
    EXPECT_EQ(r["data"], json::parse(R"({"automationId":"","className":"","controlType":"Edit","enabled":true,)"
                                     R"("name":"Nama","rect":[10,20,200,24]})"));
    h.inspector.element->value = "";
    EXPECT_EQ(h.Call("element-at", {{"x", 10}, {"y", 20}})["data"]["value"], "");
    h.inspector.element.reset();
    EXPECT_EQ(h.Call("element-at", {{"x", 10}, {"y", 20}})["error"], "no element there");
    EXPECT_EQ(CountContaining(h.Audit(), "element"), 0);
}

TEST(TrainingUiReading, WithoutAnInspector) {
    AgentHarness h;
    h.hooks.inspector = nullptr;
    h.Call("start");
    EXPECT_EQ(h.Call("ui-tree")["error"], "UI Automation is not available on this host");
    EXPECT_EQ(h.Call("element-at")["error"], "UI Automation is not available on this host");
}

sv::training::Activity Click(int32_t x, int32_t y) {
    sv::training::Activity a;
    a.device = "mouse";
    a.action = "click";
    a.x = x;
    a.y = y;
    return a;
}

TEST(TrainingActivity, ASlowLookupHoldsNeitherTheGateNorTheOrder) {
    AgentHarness h;
    sv::training::UiElement button;
    button.name = "OK";
    h.inspector.element = button;
    h.inspector.holdElementAt = true;
    h.Call("start");
    auto* source = h.activity->current;
    source->OnActivity(Click(5, 6));
    ASSERT_TRUE(sv_test::WaitUntil([&] { return h.inspector.insideElementAt.load(); }));
    source->OnTraineeActive();  // the same callback thread, while the lookup hangs
    EXPECT_TRUE(h.sink.WaitEvent("ai-paused", 0));
    EXPECT_FALSE(h.Agent().GateControllerInput("c1", "mouse"));
    sv::training::WindowInfo dialog;
    dialog.title = "Simpan sebagai";
    source->OnDialog(dialog);
    sv::training::Activity typing;
    typing.device = "keyboard";
    typing.action = "typing";
    typing.count = 3;
    source->OnActivity(typing);
    EXPECT_TRUE(h.inspector.insideElementAt.load());
    EXPECT_TRUE(h.sink.Events("local-input").empty());

    h.inspector.holdElementAt = false;
    h.inspector.Release();
    ASSERT_TRUE(sv_test::WaitUntil([&] { return h.sink.Events("local-input").size() == 2; }));
    auto local = h.sink.Events("local-input");
    EXPECT_EQ(local[0]["data"]["element"]["name"], "OK");
    EXPECT_EQ(local[1]["data"], json({{"device", "keyboard"}, {"action", "typing"}, {"count", 3}}));
    EXPECT_EQ(EventKinds(h), (std::vector<std::string>{"session-started", "ai-paused", "input-refused", "local-input",
                                                       "dialog", "local-input"}));
    auto session = h.Agent().CurrentSession();
    ASSERT_TRUE(sv_test::WaitUntil([&] { return session->transcript->Entries().size() == 4; }));
    std::vector<std::string> kinds;
    for (const json& e : session->transcript->Entries()) kinds.push_back(e["kind"]);
    EXPECT_EQ(kinds, (std::vector<std::string>{"start", "trainee-input", "dialog", "trainee-input"}));
}

TEST(TrainingActivity, ABacklogSkipsLookupsToCatchUp) {
    AgentHarness h;
    h.inspector.element = sv::training::UiElement{};
    h.inspector.holdElementAt = true;
    h.Call("start");
    auto* source = h.activity->current;
    source->OnActivity(Click(0, 0));
    ASSERT_TRUE(sv_test::WaitUntil([&] { return h.inspector.insideElementAt.load(); }));
    for (int i = 1; i <= 5; ++i) source->OnActivity(Click(i, 0));
    h.inspector.holdElementAt = false;
    h.inspector.Release();
    ASSERT_TRUE(sv_test::WaitUntil([&] { return h.sink.Events("local-input").size() == 6; }));
    std::vector<std::string> seen;
    for (const json& e : h.sink.Events("local-input")) {
        seen.push_back(std::to_string(e["data"]["x"].get<int>()) + (e["data"].contains("element") ? "+" : "-"));
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"0+", "1-", "2+", "3+", "4+", "5+"}));
}

TEST(TrainingActivity, AReportOfAnEndedSessionIsDropped) {
    AgentHarness h;
    h.inspector.element = sv::training::UiElement{};
    h.inspector.holdElementAt = true;
    h.Call("start");
    h.activity->current->OnActivity(Click(1, 1));
    ASSERT_TRUE(sv_test::WaitUntil([&] { return h.inspector.insideElementAt.load(); }));
    ASSERT_EQ(h.Call("end")["ok"], true);
    h.inspector.holdElementAt = false;
    h.inspector.Release();
    json again = h.Call("start");
    ASSERT_EQ(again["ok"], true) << again;
    ASSERT_NE(h.activity->current, nullptr) << h.activity->log.Calls().size();
    sv::training::Activity key;
    key.device = "keyboard";
    key.action = "key";
    key.key = "enter";
    h.activity->current->OnActivity(key);
    ASSERT_TRUE(h.sink.WaitEvent("local-input"));
    auto local = h.sink.Events("local-input");
    ASSERT_EQ(local.size(), 1u);  // the worker is in order: the click was dropped before this
    EXPECT_EQ(local[0]["data"]["key"], "enter");
}

}  // namespace
