// The Host hands training requests to the agent, asks its gate before injecting input,
// tells it when controllers are gone and shuts it down: with the real agent, and with a
// stand-in that records each of those calls.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "net/ws_test_server.h"
#include "session/host.h"
#include "session/host_test_support.h"
#include "session/screen/screen_capture.h"
#include "training/training_fakes.h"

namespace {

using nlohmann::json;

class HostWiring : public ::testing::Test {
protected:
    void SetUp() override {
        sv::SetAuditDirectory(dir.Path());
        sv::HostOptions options;
        options.dataDir = dir.Path();
        options.trainingEnabled = 1;
        options.usage.trackAction = [this](const std::string& a) { Note("action " + a); };
        options.usage.trackScreenView = [this](const std::string& s) { Note("screen " + s); };
        options.trainingFactories = {
            [](const std::string&) { return std::unique_ptr<sv::training::ITrainingSurface>(new sv_test::FakeSurface); },
            [] { return std::unique_ptr<sv::training::IUiInspector>(new sv_test::FakeInspector); }, nullptr, [] {
                sv::training::WindowInfo w;
                w.hwnd = 0x42;
                w.title = "Kalkulator";
                return std::optional<sv::training::WindowInfo>(w);
            },
            sv::MakeTrainingAgent};
        options.relayUrl = relay.Url();
        options.seams.input.injectPointer = [this](const std::string&, double, double, const std::string&) {
            pointer.fetch_add(1);
            return true;
        };
        options.seams.input.injectKey = [this](const std::string&, const std::vector<std::string>&) {
            keys.fetch_add(1);
            return true;
        };
        options.seams.input.setInputBlocked = [](bool) { return true; };
        // What the host says reaches the sink, also while it is being destroyed.
        options.seams.sendRelayText = [this](const std::string& text) {
            sink(text);
            return true;
        };
        host = std::make_unique<sv::Host>(options);
        running = std::make_unique<sv_test::RunningHost>(*host);
        ASSERT_TRUE(relay.WaitRegistered());
    }
    void TearDown() override {
        running.reset();
        host.reset();
        sv::SetAuditDirectory("");
    }
    // Sends a text as the relay and returns once the host has handled it (it answers the
    // block request that follows it only after).
    void Relay1(const std::string& text) {
        const std::string id = "sync-" + std::to_string(++syncs);
        ASSERT_TRUE(relay.Send(text));
        ASSERT_TRUE(relay.Send(R"({"type":"input-block-request","blocked":false,"id":")" + id + "\"}"));
        ASSERT_TRUE(sink.WaitText([&](const json& j) { return j.value("id", "") == id; }));
    }

    void Note(const std::string& what) {
        std::lock_guard<std::mutex> lock(usageMutex);
        usageSeen.push_back(what);
    }
    std::vector<std::string> UsageSeen() {
        std::lock_guard<std::mutex> lock(usageMutex);
        return usageSeen;
    }

    std::mutex usageMutex;
    std::vector<std::string> usageSeen;
    sv_test::ScratchDir dir;
    sv_test::CapturingSink sink;
    sv_test::FakeRelay relay;
    std::unique_ptr<sv::Host> host;
    std::unique_ptr<sv_test::RunningHost> running;
    int syncs = 0;
    std::atomic<int> pointer{0};
    std::atomic<int> keys{0};
};

TEST_F(HostWiring, TrainingRequestsAreAnsweredThroughSendText) {
    Relay1(R"({"type":"training-request","id":"h","op":"hello","from":"c1"})");
    auto r = sink.WaitReply("h");
    ASSERT_TRUE(r);
    EXPECT_EQ((*r)["data"]["supported"], true);
    // A non-string id is dropped at the message boundary, not answered.
    Relay1(R"({"type":"training-request","id":5,"op":"hello"})");
    Relay1(R"({"type":"training-request","id":"after","op":"status"})");
    auto status = sink.WaitReply("after");
    ASSERT_TRUE(status);
    // The Host passes the foreground-window lookup it was given on to the agent.
    EXPECT_EQ((*status)["data"]["foreground"]["title"], "Kalkulator");
    EXPECT_EQ((*status)["data"]["foreground"]["hwnd"], 0x42);
    for (auto& t : sink.Texts()) EXPECT_EQ(t.find("\"id\":5"), std::string::npos);
}

TEST_F(HostWiring, TrainingSessionsReachTheUsageHooks) {
    Relay1(R"({"type":"training-request","id":"s","op":"start","from":"c1"})");
    ASSERT_TRUE(sink.WaitReply("s"));
    Relay1(R"({"type":"training-request","id":"e","op":"end","from":"c1"})");
    ASSERT_TRUE(sink.WaitReply("e"));
    EXPECT_EQ(UsageSeen(), (std::vector<std::string>{"action training_start", "screen training_banner",
                                                     "action training_stop", "screen window"}));
}

TEST_F(HostWiring, TheGateStopsControllerInputDuringTheTraineesTurn) {
    Relay1(R"({"type":"input","kind":"move","x":0.5,"y":0.5,"from":"c1"})");
    EXPECT_EQ(pointer.load(), 1);
    Relay1(R"({"type":"training-request","id":"s","op":"start","args":{"mode":"your_turn"},"from":"c1"})");
    ASSERT_TRUE(sink.WaitReply("s"));
    Relay1(R"({"type":"input","kind":"move","x":0.5,"y":0.5,"from":"c1"})");
    Relay1(R"({"type":"key-input","kind":"key","key":"a","from":"c1"})");
    EXPECT_EQ(pointer.load(), 1);
    EXPECT_EQ(keys.load(), 0);
    auto ev = sink.WaitEvent("input-refused");
    ASSERT_TRUE(ev);
    EXPECT_EQ((*ev)["data"]["what"], "mouse");
    Relay1(R"({"type":"training-request","id":"e","op":"end","from":"c1"})");
    ASSERT_TRUE(sink.WaitReply("e"));
    Relay1(R"({"type":"key-input","kind":"key","key":"a","from":"c1"})");
    EXPECT_EQ(keys.load(), 1);
}

// A stop ends a training session at once, as the host's own end: neither the last relay
// pass, which leaves no controller, nor the destruction that follows ends it again.
TEST_F(HostWiring, StoppingTheHostEndsTheSessionOnce) {
    Relay1(R"({"type":"training-request","id":"s","op":"start","from":"c1"})");
    ASSERT_TRUE(sink.WaitReply("s"));
    running.reset();
    auto ev = sink.WaitEvent("session-ended");
    ASSERT_TRUE(ev);
    EXPECT_EQ((*ev)["data"]["reason"], "host shutting down");
    host.reset();
    EXPECT_EQ(sink.Events("session-ended").size(), 1u);
}

// A surface that notes, as it goes, what held at that moment.
class WitnessSurface : public sv_test::FakeSurface {
public:
    explicit WitnessSurface(std::function<void()> onGone) : onGone_(std::move(onGone)) {}
    ~WitnessSurface() override { onGone_(); }

private:
    std::function<void()> onGone_;
};

// Windows, fonts and GDI+ objects of the training side must go while GDI+ still runs.
TEST(HostTeardown, TrainingSurfaceGoesBeforeGdiplusStops) {
    ASSERT_TRUE(sv::StartGdiplus());
    ASSERT_TRUE(sv::HaveJpegEncoder());
    std::atomic<int> seen{-1};
    sv_test::ScratchDir dir;
    sv::HostOptions options;
    options.dataDir = dir.Path();
    options.trainingEnabled = 1;
    options.trainingFactories.makeSurface = [&](const std::string&) {
        return std::unique_ptr<sv::training::ITrainingSurface>(
            new WitnessSurface([&seen] { seen.store(sv::HaveJpegEncoder() ? 1 : 0); }));
    };
    options.trainingFactories.makeAgent = sv::MakeTrainingAgent;
    auto host = std::make_unique<sv::Host>(options);
    ASSERT_EQ(seen.load(), -1);  // made and still there
    host.reset();
    sv::SetAuditDirectory("");
    EXPECT_EQ(seen.load(), 1);
}

class HostAgent : public ::testing::Test {
protected:
    void SetUp() override {
        options = sv_test::TestHostOptions(dir.Path());
        options.trainingFactories.makeAgent = agent.Maker();
        options.seams.input.injectPointer = [this](const std::string&, double, double, const std::string&) {
            ++injected;
            return true;
        };
        options.seams.input.injectKey = [this](const std::string&, const std::vector<std::string>&) {
            ++injected;
            return true;
        };
        options.seams.input.setInputBlocked = [](bool) { return true; };
        options.seams.captureScreen = [](sv::ScreenFrame&) { return false; };  // a join's stream idles
        options.seams.screenSize = [] { return std::make_pair(800, 600); };
        sv::SetAuditDirectory(dir.Path());
    }
    void TearDown() override {
        running.reset();
        host.reset();
        sv::SetAuditDirectory("");
    }
    // A Host registered with the fake relay.
    void StartHost() {
        options.relayUrl = relay.Url();
        host = std::make_unique<sv::Host>(options);
        running = std::make_unique<sv_test::RunningHost>(*host);
        ASSERT_TRUE(relay.WaitRegistered());
    }
    void Relay1(const std::string& text) {
        ASSERT_TRUE(relay.Send(text));
        ASSERT_TRUE(relay.Sync());
    }

    sv_test::ScratchDir dir;
    sv_test::FakeAgent agent;
    sv::HostOptions options;
    sv_test::FakeRelay relay;
    std::unique_ptr<sv::Host> host;
    std::unique_ptr<sv_test::RunningHost> running;
    std::atomic<int> injected{0};
};

TEST_F(HostAgent, RequestsAndControllerInputGoThroughTheAgent) {
    StartHost();
    Relay1(R"({"type":"training-request","id":"r","op":"hello","from":"c1"})");
    Relay1(R"({"type":"input","x":0.5,"y":0.5,"from":"c1"})");
    Relay1(R"({"type":"key-input","kind":"key","key":"a","from":"c2"})");
    EXPECT_EQ(injected.load(), 2);
    agent.allowInput = false;  // the trainee's turn: nothing reaches the machine
    Relay1(R"({"type":"input","x":0.5,"y":0.5,"from":"c1"})");
    Relay1(R"({"type":"key-input","kind":"text","text":"x","from":"c1"})");
    EXPECT_EQ(injected.load(), 2);
    EXPECT_EQ(agent.Calls(), (std::vector<std::string>{"queue c1 hello", "gate c1 mouse", "gate c2 keyboard",
                                                       "gate c1 mouse", "gate c1 keyboard"}));
}

TEST_F(HostAgent, ControllersGoneAtEachLeaveAndAtTheEndOfARelayPass) {
    StartHost();
    Relay1(R"({"type":"controller-joined","controllerId":"a"})");
    Relay1(R"({"type":"controller-joined","controllerId":"b"})");
    Relay1(R"({"type":"peer-left","id":"a"})");
    const std::vector<std::string> counted = {"gone 1", "gone 2", "gone 1"};  // told at every change
    EXPECT_EQ(agent.Calls(), counted);

    // The relay drops the connection: the pass ends.
    relay.Drop();
    ASSERT_TRUE(relay.WaitClosed());
    ASSERT_TRUE(sv_test::WaitUntil([&] { return agent.Calls().size() > counted.size(); }, 20000));
    EXPECT_EQ(agent.Calls().back(), "gone 0");
    EXPECT_EQ(host->ConnectedControllers(), 0u);
}

// A stop ends the training session while the relay still carries what the agent says
// of it, and only then closes the relay connection, with a close frame (1000).
TEST_F(HostAgent, AStopEndsTheSessionAndThenClosesTheRelayConnection) {
    const std::string ended = R"({"type":"training-event","kind":"session-ended"})";
    agent.onStopping = [&] { agent.sink(ended); };
    StartHost();
    host->Stop();
    ASSERT_TRUE(relay.WaitClosed());
    EXPECT_EQ(relay.CloseCode(), 1000);
    const std::vector<std::string> texts = relay.Texts();
    EXPECT_NE(std::find(texts.begin(), texts.end(), ended), texts.end());
    running.reset();  // stops the Host again: the agent is not asked twice
    const std::vector<std::string> calls = agent.Calls();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "stopping"), 1);
}

// An agent kept for a thread still running at the host's end: what that thread calls
// later (the sink, the injection hooks, the local end) finds the Host's door shut and
// never reaches the freed Host, whose seams would count the call.
TEST_F(HostAgent, AKeptAgentsLateCallsNeverReachTheDestroyedHost) {
    agent.shutdownResult = false;
    std::atomic<int> sent{0};
    options.seams.sendRelayText = [&sent](const std::string&) {
        ++sent;
        return true;
    };
    host = std::make_unique<sv::Host>(options);
    auto& h = agent.hooks;
    agent.sink("{}");
    EXPECT_TRUE(h.pointerInput("move", 0.5, 0.5, ""));
    EXPECT_TRUE(h.pressKey("a", {}));
    ASSERT_EQ(sent.load(), 1);
    ASSERT_EQ(injected.load(), 2);

    host.reset();
    agent.sink("{}");
    EXPECT_FALSE(h.pointerInput("move", 0.5, 0.5, ""));
    EXPECT_FALSE(h.pressKey("a", {}));
    EXPECT_FALSE(h.typeText("a"));
    agent.endLocally();
    EXPECT_EQ(sent.load(), 1);
    EXPECT_EQ(injected.load(), 2);
    EXPECT_EQ(sv_test::AuditText(dir.Path()).find("session-ended-locally"), std::string::npos);
}

TEST_F(HostAgent, ShutdownFreesTheAgentBeforeTheSurfaceOrKeepsBothWhileWorkRemains) {
    const struct {
        bool shutdownResult;
        int agentFreed;
        int surfaceSawAgentFreed;  // -1: the surface is kept
    } cases[] = {{true, 1, 1}, {false, 0, -1}};
    for (const auto& c : cases) {
        sv_test::FakeAgent fake;
        fake.shutdownResult = c.shutdownResult;
        std::atomic<int> seen{-1};
        sv::HostOptions o = sv_test::TestHostOptions(dir.Path());
        o.trainingEnabled = 1;
        o.trainingFactories.makeAgent = fake.Maker();
        o.trainingFactories.makeSurface = [&](const std::string&) {
            // Notes whether the agent was already freed when the surface went.
            return std::unique_ptr<sv::training::ITrainingSurface>(
                new WitnessSurface([&] { seen.store(fake.freed.load()); }));
        };
        auto h = std::make_unique<sv::Host>(o);
        ASSERT_NE(fake.surfaceSeen, nullptr);
        h.reset();
        EXPECT_EQ(fake.Calls(), std::vector<std::string>{"shutdown"}) << c.shutdownResult;
        EXPECT_EQ(fake.freed.load(), c.agentFreed) << c.shutdownResult;
        EXPECT_EQ(seen.load(), c.surfaceSawAgentFreed) << c.shutdownResult;
    }
    // The kept agent is reported once.
    EXPECT_NE(sv_test::AuditText(dir.Path()).find(" | training | agent kept for threads still running at exit\n"),
              std::string::npos);
}

}  // namespace
