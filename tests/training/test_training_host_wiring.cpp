// The Host hands training requests to the agent and asks its gate before injecting input.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "session/host.h"
#include "session/screen/screen_capture.h"
#include "training_fakes.h"

namespace {

using nlohmann::json;

class HostWiring : public ::testing::Test {
protected:
    void SetUp() override {
        sv::SetAuditDirectory(dir.Path());
        sv::HostOptions options;
        options.dataDir = dir.Path();
        options.trainingEnabled = 1;
        options.trainingFactories = {
            [](const std::string&) { return std::unique_ptr<sv::training::ITrainingSurface>(new sv_test::FakeSurface); },
            [] { return std::unique_ptr<sv::training::IUiInspector>(new sv_test::FakeInspector); }, nullptr, [] {
                sv::training::WindowInfo w;
                w.hwnd = 0x42;
                w.title = "Kalkulator";
                return std::optional<sv::training::WindowInfo>(w);
            }};
        host = std::make_unique<sv::Host>(options);
        auto& p = host->PlatformSeams();
        p.injectPointer = [this](const std::string& kind, double, double, const std::string&) {
            pointer.fetch_add(1);
            (void)kind;
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

    sv_test::ScratchDir dir;
    std::unique_ptr<sv::Host> host;
    sv_test::CapturingSink sink;
    std::atomic<int> pointer{0};
    std::atomic<int> keys{0};
};

TEST_F(HostWiring, TrainingRequestsAreAnsweredThroughSendText) {
    host->DispatchMessage(R"({"type":"training-request","id":"h","op":"hello","from":"c1"})");
    auto r = sink.WaitReply("h");
    ASSERT_TRUE(r);
    EXPECT_EQ((*r)["data"]["supported"], true);
    // A non-string id is dropped at the message boundary, not answered.
    host->DispatchMessage(R"({"type":"training-request","id":5,"op":"hello"})");
    host->DispatchMessage(R"({"type":"training-request","id":"after","op":"status"})");
    auto status = sink.WaitReply("after");
    ASSERT_TRUE(status);
    // The Host passes the foreground-window lookup it was given on to the agent.
    EXPECT_EQ((*status)["data"]["foreground"]["title"], "Kalkulator");
    EXPECT_EQ((*status)["data"]["foreground"]["hwnd"], 0x42);
    for (auto& t : sink.Texts()) EXPECT_EQ(t.find("\"id\":5"), std::string::npos);
}

TEST_F(HostWiring, TheGateStopsControllerInputDuringTheTraineesTurn) {
    host->DispatchMessage(R"({"type":"input","kind":"move","x":0.5,"y":0.5,"from":"c1"})");
    EXPECT_EQ(pointer.load(), 1);
    host->DispatchMessage(R"({"type":"training-request","id":"s","op":"start","args":{"mode":"your_turn"},"from":"c1"})");
    ASSERT_TRUE(sink.WaitReply("s"));
    host->DispatchMessage(R"({"type":"input","kind":"move","x":0.5,"y":0.5,"from":"c1"})");
    host->DispatchMessage(R"({"type":"key-input","kind":"key","key":"a","from":"c1"})");
    EXPECT_EQ(pointer.load(), 1);
    EXPECT_EQ(keys.load(), 0);
    auto ev = sink.WaitEvent("input-refused");
    ASSERT_TRUE(ev);
    EXPECT_EQ((*ev)["data"]["what"], "mouse");
    host->DispatchMessage(R"({"type":"training-request","id":"e","op":"end","from":"c1"})");
    ASSERT_TRUE(sink.WaitReply("e"));
    host->DispatchMessage(R"({"type":"key-input","kind":"key","key":"a","from":"c1"})");
    EXPECT_EQ(keys.load(), 1);
}

TEST_F(HostWiring, DestroyingTheHostEndsTheSession) {
    host->DispatchMessage(R"({"type":"training-request","id":"s","op":"start","from":"c1"})");
    ASSERT_TRUE(sink.WaitReply("s"));
    host.reset();
    auto ev = sink.WaitEvent("session-ended", 0);
    ASSERT_TRUE(ev);
    EXPECT_EQ((*ev)["data"]["reason"], "host shutting down");
}

}  // namespace

namespace {

// Windows, fonts and GDI+ objects of the training side must go while GDI+ still runs.
class GdiplusWitnessSurface : public sv_test::FakeSurface {
public:
    explicit GdiplusWitnessSurface(std::atomic<int>* seen) : seen_(seen) {}
    ~GdiplusWitnessSurface() override { seen_->store(sv::HaveJpegEncoder() ? 1 : 0); }

private:
    std::atomic<int>* seen_;
};

TEST(HostTeardown, TrainingSurfaceGoesBeforeGdiplusStops) {
    ASSERT_TRUE(sv::StartGdiplus());
    ASSERT_TRUE(sv::HaveJpegEncoder());
    std::atomic<int> seen{-1};
    sv_test::ScratchDir dir;
    sv::HostOptions options;
    options.dataDir = dir.Path();
    options.trainingEnabled = 1;
    options.trainingFactories.makeSurface = [&](const std::string&) {
        return std::unique_ptr<sv::training::ITrainingSurface>(new GdiplusWitnessSurface(&seen));
    };
    auto host = std::make_unique<sv::Host>(options);
    ASSERT_NE(host->Surface(), nullptr);
    host.reset();
    sv::SetAuditDirectory("");
    EXPECT_EQ(seen.load(), 1);
}

}  // namespace
