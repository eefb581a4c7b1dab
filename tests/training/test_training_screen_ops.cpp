#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "training_input_fakes.h"

namespace {

using nlohmann::json;
using sv_test::AgentHarness;
using sv_test::CountContaining;
using sv_test::WaitUntil;

// An agent with a recording surface and injection hooks; the preview kept to 1 ms.
struct InputHarness {
    InputHarness() {
        h.hooks.surface = &surface;
        h.hooks.previewMs = 1;
        inject.Wire(h.hooks);
    }
    std::vector<std::string> TranscriptKinds(size_t wait = 0) {
        auto session = h.Inside().CurrentSession();
        WaitUntil([&] { return session->transcript->Entries().size() >= wait; });
        std::vector<std::string> kinds;
        for (const json& e : session->transcript->Entries()) kinds.push_back(e["kind"]);
        return kinds;
    }
    // Declared before the harness: the agent it owns uses them until it is gone.
    sv_test::PreviewSurface surface;
    sv_test::FakeInjector inject;
    AgentHarness h;
};

const std::string kMoveDownUp = "move 0.5000,0.2500 |down 0.5000,0.2500 left|up 0.5000,0.2500 left|";

TEST(TrainingInput, TheTraineesTurnRefusesBeforeAnyCheck) {
    InputHarness t;
    t.h.Call("start", {{"mode", "your_turn"}});
    json r = t.h.Call("input", json::object());  // no kind at all
    EXPECT_EQ(r["data"]["refused"], true);
    EXPECT_EQ(r["data"]["reason"], "your_turn");
    EXPECT_TRUE(t.surface.Shapes().empty());
    EXPECT_TRUE(t.inject.Calls().empty());
    EXPECT_EQ(t.h.sink.Events("input-refused").at(0)["data"],
              json({{"reason", "your_turn"}, {"what", ""}, {"controller", "c1"}}));
}

TEST(TrainingInput, AClickShowsTheGhostWhereItWillLand) {
    InputHarness t;
    t.h.origin = {-1920, -8};
    t.h.Call("start");
    std::string label = std::string(59, 'a') + "é" + "zzz";  // cut after the 60th code point
    json r = t.h.Call("input", {{"kind", "Click"}, {"x", 960}, {"y", 270}, {"label", label}});
    EXPECT_EQ(r["data"], json({{"done", true}, {"refused", false}}));
    auto shapes = t.surface.Shapes();
    ASSERT_EQ(shapes.size(), 1u);
    EXPECT_EQ(std::make_tuple(shapes[0].id, shapes[0].x, shapes[0].y, shapes[0].ttlMs),
              std::make_tuple(std::string("ghost"), -960, 262, 401));
    EXPECT_EQ(shapes[0].label, std::string(59, 'a') + "é");
    EXPECT_EQ(t.inject.Calls(), kMoveDownUp);
    auto entries = t.h.Inside().CurrentSession()->transcript->Entries();
    EXPECT_EQ(entries.back()["data"],
              json({{"kind", "click"}, {"detail", "click 960,270"}, {"x", 960}, {"y", 270}, {"label", label}}));
    EXPECT_EQ(CountContaining(t.h.Audit(), "training-input | actor=c1 | click 960,270"), 1);
}

TEST(TrainingInput, KindsAndPreviews) {
    struct Case {
        json args;
        size_t ghosts;
        std::string calls;
        std::string detail;
    };
    const std::vector<Case> cases = {
        {{{"kind", "click"}, {"x", 960}, {"y", 270}, {"preview", false}}, 0, kMoveDownUp, "click 960,270"},
        {{{"kind", "move"}, {"x", 960}, {"y", 270}}, 0, "move 0.5000,0.2500 |", "move 960,270"},
        {{{"kind", "right-click"}, {"x", -5}, {"y", 5000}}, 1,
         "move 0.0000,1.0000 |down 0.0000,1.0000 right|up 0.0000,1.0000 right|", "right-click -5,5000"},
        {{{"kind", "double-click"}, {"x", 960}, {"y", 270}}, 1, kMoveDownUp + kMoveDownUp, "double-click 960,270"},
        {{{"kind", "key"}, {"key", "s"}, {"modifiers", {"ctrl", 5, "alt"}}}, 0, "key ctrl alt s|", "key ctrl+alt+s"},
        {{{"kind", "text"}, {"text", "héllo"}}, 0, "type héllo|", "text len=5"},
    };
    for (const Case& c : cases) {
        InputHarness t;
        t.h.Call("start");
        EXPECT_EQ(t.h.Call("input", c.args)["data"]["done"], true) << c.args;
        EXPECT_EQ(t.surface.Shapes().size(), c.ghosts) << c.args;
        EXPECT_EQ(t.inject.Calls(), c.calls) << c.args;
        EXPECT_EQ(CountContaining(t.h.Audit(), "training-input | actor=c1 | " + c.detail), 1) << c.args;
    }
}

TEST(TrainingInput, WhatHappensDuringThePreviewStopsTheClick) {
    struct Case {
        const char* name;
        std::function<void(InputHarness&)> during;
        std::string outcome;  // refusal reason, or the error
    };
    const std::vector<Case> cases = {
        {"the trainee moves",
         [](InputHarness& t) {
             t.h.clock.Advance(1);
             t.h.activity->current->OnTraineeActive();
         },
         "trainee-active"},
        {"the mode turns to your_turn", [](InputHarness& t) { t.h.Inside().Gate().SetMode(sv::training::TrainingMode::kYourTurn); }, "your_turn"},
        // The stop comes on a thread of its own and waits for the ghost; the click never lands.
        {"the trainee ends the session",
         [](InputHarness& t) {
             t.surface.OnStopRequested();
             WaitUntil([&] { return !t.h.Inside().HasSession(); });
         },
         "no training session is active — call start first"},
    };
    for (const Case& c : cases) {
        InputHarness t;
        t.surface.duringPreview = [&] { c.during(t); };
        t.h.Call("start");
        json r = t.h.Call("input", {{"kind", "click"}, {"x", 10}, {"y", 10}});
        EXPECT_EQ(r["ok"] == true ? r["data"]["reason"] : r["error"], c.outcome) << c.name;
        EXPECT_TRUE(t.inject.Calls().empty()) << c.name;
    }
}

TEST(TrainingInput, FailuresAreErrorsAndLeaveNoRecord) {
    struct Case {
        json args;
        std::function<void(InputHarness&)> setup;
        std::string error;
    };
    auto none = [](InputHarness&) {};
    const std::vector<Case> cases = {
        {{{"kind", "double-click"}, {"x", 10}, {"y", 20}}, [](InputHarness& t) { t.inject.failPointerAt = 4; },
         "the host could not double-click at 10,20"},
        {{{"kind", "move"}, {"x", 10}, {"y", 20}}, [](InputHarness& t) { t.h.hooks.pointerInput = nullptr; },
         "the host could not move at 10,20"},
        {{{"kind", "click"}, {"preview", false}},
         [](InputHarness& t) { t.h.hooks.screenSize = [] { return std::make_pair(0, 0); }; }, "screen size unknown"},
        {{{"kind", "text"}, {"text", ""}}, none, "text input needs text"},
        {{{"kind", "text"}, {"text", "x"}}, [](InputHarness& t) { t.inject.typeOk = false; },
         "the host could not type that text"},
        // Typed a piece at a time, a text above the host's cap is still refused whole.
        {{{"kind", "text"}, {"text", "abcdé"}}, [](InputHarness& t) { t.h.hooks.typedTextCapBytes = 5; },
         "the host could not type that text"},
        {{{"kind", "key"}}, none, "key input needs a key"},
        {{{"kind", "key"}, {"key", "f5"}}, [](InputHarness& t) { t.h.hooks.pressKey = nullptr; },
         "the host could not press 'f5'"},
        {{{"kind", "drag"}}, none, "input kind must be click, double-click, right-click, move, text or key"},
    };
    for (const Case& c : cases) {
        InputHarness t;
        c.setup(t);
        t.h.Call("start");
        EXPECT_EQ(t.h.Call("input", c.args)["error"], c.error) << c.args;
        EXPECT_EQ(t.TranscriptKinds(), std::vector<std::string>{"start"}) << c.args;
        EXPECT_EQ(CountContaining(t.h.Audit(), "training-input | "), 0) << c.args;
    }
    InputHarness stops;  // a failed down is not followed by more pointer calls
    stops.inject.failPointerAt = 1;
    stops.h.Call("start");
    stops.h.Call("input", {{"kind", "click"}, {"x", 960}, {"y", 270}});
    EXPECT_EQ(stops.inject.Calls(), "move 0.5000,0.2500 |down 0.5000,0.2500 left|");
}

TEST(TrainingInput, TextPiecesKeepEveryCodePointWhole) {
    using sv::training::TextPieces;
    const std::string e = "é";      // two bytes
    const std::string g = "😀";  // four bytes
    const struct {
        std::string text;
        size_t codePoints;
        std::vector<std::string> pieces;
    } cases[] = {
        {"", 2, {}},
        {"abc", 2, {"ab", "c"}},
        {"abcd", 2, {"ab", "cd"}},
        {e + g + "x", 2, {e + g, "x"}},
        {g + g + g, 1, {g, g, g}},
        {"ab", 0, {"a", "b"}},  // no empty pieces, however it is asked
    };
    for (const auto& c : cases) EXPECT_EQ(TextPieces(c.text, c.codePoints), c.pieces) << c.text;
}

TEST(TrainingUiReading, TreeAndElementThroughTheInspector) {
    AgentHarness h;
    h.origin = {-1280, 0};
    h.inspector.tree = {json{{"name", "Notepad"}}, ""};
    sv::training::UiElement field;
    field.name = "Nama";
    field.rect = {-1270, 20, 200, 24};
    h.inspector.element = field;
    h.Call("start");

    EXPECT_EQ(h.Call("ui-tree", {{"window", "Notepad"}, {"depth", 40}, {"maxNodes", 3}})["data"], h.inspector.tree.first);
    EXPECT_EQ(std::make_tuple(h.inspector.lastQuery->depth, h.inspector.lastQuery->maxNodes,
                              h.inspector.lastQuery->originX, h.inspector.lastTreeTimeoutMs.load()),
              std::make_tuple(15, 10, -1280, 15000u));
    h.inspector.tree = {json{{"partial", true}}, "UI Automation did not answer in time"};
    json late = h.Call("ui-tree");
    EXPECT_EQ(late["error"], "UI Automation did not answer in time");
    EXPECT_EQ(late["data"], h.inspector.tree.first);
    EXPECT_EQ(CountContaining(h.Audit(), "training | actor=c1 | ui-tree window=Notepad depth=15"), 1);
    EXPECT_EQ(CountContaining(h.Audit(), "training | actor=c1 | ui-tree window=foreground depth=6"), 1);

    json at = h.Call("element-at", {{"x", 10}, {"y", 20}});
    EXPECT_EQ(h.inspector.log.Count("element-at -1270,20"), 1);
    EXPECT_EQ(h.inspector.lastElementTimeoutMs.load(), 5000u);
    EXPECT_EQ(at["data"]["rect"], json({10, 20, 200, 24}));
    EXPECT_FALSE(at["data"].contains("value"));
    h.inspector.element.reset();
    EXPECT_EQ(h.Call("element-at", {{"x", 10}, {"y", 20}})["error"], "no element there");
    EXPECT_EQ(CountContaining(h.Audit(), "element"), 0);

    AgentHarness bare;
    bare.hooks.inspector = nullptr;
    bare.Call("start");
    EXPECT_EQ(bare.Call("ui-tree")["error"], "UI Automation is not available on this host");
    EXPECT_EQ(bare.Call("element-at")["error"], "UI Automation is not available on this host");
}

sv::training::Activity Act(const char* device, const char* action, std::optional<int32_t> x = std::nullopt) {
    sv::training::Activity a;
    a.device = device;
    a.action = action;
    a.x = x;
    a.y = x;
    return a;
}

TEST(TrainingActivity, ASlowLookupHoldsNeitherTheGateNorTheOrder) {
    InputHarness t;
    AgentHarness& h = t.h;
    h.inspector.element = sv::training::UiElement{};
    h.inspector.holdElementAt = true;
    h.Call("start");
    auto* source = h.activity->current;
    source->OnActivity(Act("mouse", "click", 5));
    ASSERT_TRUE(WaitUntil([&] { return h.inspector.insideElementAt.load(); }));
    source->OnTraineeActive();  // the same callback thread, while the lookup hangs
    EXPECT_FALSE(h.Agent().GateControllerInput("c1", "mouse"));
    source->OnDialog(sv::training::WindowInfo{});
    source->OnActivity(Act("keyboard", "typing"));
    EXPECT_TRUE(h.inspector.insideElementAt.load());

    h.inspector.holdElementAt = false;
    h.inspector.Release();
    EXPECT_EQ(t.TranscriptKinds(4), (std::vector<std::string>{"start", "trainee-input", "dialog", "trainee-input"}));
    EXPECT_EQ(h.sink.EventKinds(), (std::vector<std::string>{"session-started", "ai-paused", "input-refused", "local-input",
                                                       "dialog", "local-input"}));
    EXPECT_TRUE(h.sink.Events("local-input").at(0)["data"].contains("element"));
}

TEST(TrainingActivity, ABacklogSkipsLookupsAndAnEndedSessionDropsItsReports) {
    AgentHarness h;
    h.inspector.element = sv::training::UiElement{};
    h.inspector.holdElementAt = true;
    h.Call("start");
    auto* source = h.activity->current;
    source->OnActivity(Act("mouse", "click", 0));
    ASSERT_TRUE(WaitUntil([&] { return h.inspector.insideElementAt.load(); }));
    for (int i = 1; i <= 5; ++i) source->OnActivity(Act("mouse", "click", i));
    h.inspector.holdElementAt = false;
    h.inspector.Release();
    ASSERT_TRUE(WaitUntil([&] { return h.sink.Events("local-input").size() == 6; }));
    std::string seen;
    for (const json& e : h.sink.Events("local-input")) {
        seen += std::to_string(e["data"]["x"].get<int>()) + (e["data"].contains("element") ? "+" : "-");
    }
    EXPECT_EQ(seen, "0+1-2+3+4+5+");

    h.inspector.holdElementAt = true;
    h.activity->current->OnActivity(Act("mouse", "click", 6));
    ASSERT_TRUE(WaitUntil([&] { return h.inspector.insideElementAt.load(); }));
    h.Call("end");
    h.inspector.holdElementAt = false;
    h.inspector.Release();
    ASSERT_EQ(h.Call("start")["ok"], true);
    h.activity->current->OnActivity(Act("keyboard", "typing"));
    ASSERT_TRUE(WaitUntil([&] { return h.sink.Events("local-input").back()["data"]["action"] == "typing"; }));
    EXPECT_EQ(h.sink.Events("local-input").size(), 7u);  // the click of the ended session is gone
}

}  // namespace
