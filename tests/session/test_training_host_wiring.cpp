// The Host hands training requests to the agent, asks its gate before injecting input,
// tells it when controllers are gone and shuts it down: with the real agent, and with a
// stand-in that records each of those calls.
#include <gtest/gtest.h>

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
        host = std::make_unique<sv::Host>(options);
        auto& p = host->PlatformSeams();
        p.injectPointer = [this](const std::string&, double, double, const std::string&) {
            pointer.fetch_add(1);
            return true;
        };
        p.injectKey = [this](const std::string&, const std::vector<std::string>&) {
            keys.fetch_add(1);
            return true;
        };
        p.sendRelayText = [this](const std::string& text) {
            sink(text);
            return true;
        };
    }
    void TearDown() override {
        host.reset();
        sv::SetAuditDirectory("");
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
    std::unique_ptr<sv::Host> host;
    sv_test::CapturingSink sink;
    std::atomic<int> pointer{0};
    std::atomic<int> keys{0};
};

TEST_F(HostWiring, TrainingRequestsAreAnsweredThroughSendText) {
    host->RouteIncomingText(R"({"type":"training-request","id":"h","op":"hello","from":"c1"})");
    auto r = sink.WaitReply("h");
    ASSERT_TRUE(r);
    EXPECT_EQ((*r)["data"]["supported"], true);
    // A non-string id is dropped at the message boundary, not answered.
    host->RouteIncomingText(R"({"type":"training-request","id":5,"op":"hello"})");
    host->RouteIncomingText(R"({"type":"training-request","id":"after","op":"status"})");
    auto status = sink.WaitReply("after");
    ASSERT_TRUE(status);
    // The Host passes the foreground-window lookup it was given on to the agent.
    EXPECT_EQ((*status)["data"]["foreground"]["title"], "Kalkulator");
    EXPECT_EQ((*status)["data"]["foreground"]["hwnd"], 0x42);
    for (auto& t : sink.Texts()) EXPECT_EQ(t.find("\"id\":5"), std::string::npos);
}

TEST_F(HostWiring, TrainingSessionsReachTheUsageHooks) {
    host->RouteIncomingText(R"({"type":"training-request","id":"s","op":"start","from":"c1"})");
    ASSERT_TRUE(sink.WaitReply("s"));
    host->RouteIncomingText(R"({"type":"training-request","id":"e","op":"end","from":"c1"})");
    ASSERT_TRUE(sink.WaitReply("e"));
    EXPECT_EQ(UsageSeen(), (std::vector<std::string>{"action training_start", "screen training_banner",
                                                     "action training_stop", "screen window"}));
}

TEST_F(HostWiring, TheGateStopsControllerInputDuringTheTraineesTurn) {
    host->RouteIncomingText(R"({"type":"input","kind":"move","x":0.5,"y":0.5,"from":"c1"})");
    EXPECT_EQ(pointer.load(), 1);
    host->RouteIncomingText(R"({"type":"training-request","id":"s","op":"start","args":{"mode":"your_turn"},"from":"c1"})");
    ASSERT_TRUE(sink.WaitReply("s"));
    host->RouteIncomingText(R"({"type":"input","kind":"move","x":0.5,"y":0.5,"from":"c1"})");
    host->RouteIncomingText(R"({"type":"key-input","kind":"key","key":"a","from":"c1"})");
    EXPECT_EQ(pointer.load(), 1);
    EXPECT_EQ(keys.load(), 0);
    auto ev = sink.WaitEvent("input-refused");
    ASSERT_TRUE(ev);
    EXPECT_EQ((*ev)["data"]["what"], "mouse");
    host->RouteIncomingText(R"({"type":"training-request","id":"e","op":"end","from":"c1"})");
    ASSERT_TRUE(sink.WaitReply("e"));
    host->RouteIncomingText(R"({"type":"key-input","kind":"key","key":"a","from":"c1"})");
    EXPECT_EQ(keys.load(), 1);
}

TEST_F(HostWiring, DestroyingTheHostEndsTheSession) {
    host->RouteIncomingText(R"({"type":"training-request","id":"s","op":"start","from":"c1"})");
    ASSERT_TRUE(sink.WaitReply("s"));
    host.reset();
    auto ev = sink.WaitEvent("session-ended", 0);
    ASSERT_TRUE(ev);
    EXPECT_EQ((*ev)["data"]["reason"], "host shutting down");
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
    ASSERT_NE(host->Surface(), nullptr);
    host.reset();
    sv::SetAuditDirectory("");
    EXPECT_EQ(seen.load(), 1);
}

class HostAgent : public ::testing::Test {
protected:
    void SetUp() override {
        options = sv_test::TestHostOptions(dir.Path());
        options.trainingFactories.makeAgent = agent.Maker();
        sv::SetAuditDirectory(dir.Path());
    }
    void TearDown() override {
        host.reset();
        sv::SetAuditDirectory("");
    }
    void MakeHost() {
        host = std::make_unique<sv::Host>(options);
        auto& p = host->PlatformSeams();
        p.injectPointer = [this](const std::string&, double, double, const std::string&) {
            ++injected;
            return true;
        };
        p.injectKey = [this](const std::string&, const std::vector<std::string>&) {
            ++injected;
            return true;
        };
        p.sendRelayText = [](const std::string&) { return true; };
        p.captureScreen = [](sv::ScreenFrame&) { return false; };  // a join's stream idles
        p.screenSize = [] { return std::make_pair(800, 600); };
    }

    sv_test::ScratchDir dir;
    sv_test::FakeAgent agent;
    sv::HostOptions options;
    std::unique_ptr<sv::Host> host;
    std::atomic<int> injected{0};
};

TEST_F(HostAgent, RequestsAndControllerInputGoThroughTheAgent) {
    MakeHost();
    host->RouteIncomingText(R"({"type":"training-request","id":"r","op":"hello","from":"c1"})");
    host->RouteIncomingText(R"({"type":"input","x":0.5,"y":0.5,"from":"c1"})");
    host->RouteIncomingText(R"({"type":"key-input","kind":"key","key":"a","from":"c2"})");
    EXPECT_EQ(injected.load(), 2);
    agent.allowInput = false;  // the trainee's turn: nothing reaches the machine
    host->RouteIncomingText(R"({"type":"input","x":0.5,"y":0.5,"from":"c1"})");
    host->RouteIncomingText(R"({"type":"key-input","kind":"text","text":"x","from":"c1"})");
    EXPECT_EQ(injected.load(), 2);
    EXPECT_EQ(agent.Calls(), (std::vector<std::string>{"queue c1 hello", "gate c1 mouse", "gate c2 keyboard",
                                                       "gate c1 mouse", "gate c1 keyboard"}));
}

TEST_F(HostAgent, ControllersGoneAtEachLeaveAndAtTheEndOfARelayPass) {
    // The relay registers the host, then drops the connection: the pass ends.
    std::promise<void> registered;
    sv_test::RawServer relay([&](sv_test::RawPeer& peer) {
        sv_test::RawPeer::Frame frame;
        if (peer.Handshake() && peer.ReadFrame(frame)) registered.set_value();
    });
    options.relayUrl = relay.Url();
    MakeHost();
    host->RouteIncomingText(R"({"type":"controller-joined","controllerId":"a"})");
    host->RouteIncomingText(R"({"type":"controller-joined","controllerId":"b"})");
    host->RouteIncomingText(R"({"type":"peer-left","id":"a"})");
    const std::vector<std::string> counted = {"gone 1", "gone 2", "gone 1"};  // told at every change
    EXPECT_EQ(agent.Calls(), counted);

    auto loop = std::async(std::launch::async, [this] { return host->RunRelayLoop(false); });
    struct StopOnExit {
        sv::Host* host;
        ~StopOnExit() { host->Stop(); }  // before the loop's future waits for it
    } stopOnExit{host.get()};
    ASSERT_EQ(registered.get_future().wait_for(std::chrono::seconds(20)), std::future_status::ready);
    ASSERT_TRUE(relay.WaitDone());
    ASSERT_TRUE(sv_test::WaitUntil([&] { return agent.Calls().size() > counted.size(); }, 20000));
    EXPECT_EQ(agent.Calls().back(), "gone 0");
    EXPECT_EQ(host->ConnectedControllers(), 0u);
}

// An agent kept for a thread still running at the host's end: what that thread calls
// later (the sink, the injection hooks, the local end) finds the Host's door shut and
// never reaches the freed Host, whose seams would count the call.
TEST_F(HostAgent, AKeptAgentsLateCallsNeverReachTheDestroyedHost) {
    agent.shutdownResult = false;
    MakeHost();
    std::atomic<int> sent{0};
    host->PlatformSeams().sendRelayText = [&sent](const std::string&) {
        ++sent;
        return true;
    };
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
        ASSERT_NE(h->Surface(), nullptr);
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
