#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

#include "base/audit_log.h"
#include "net/lan_test_support.h"
#include "session/host.h"
#include "session/host_test_support.h"
#include "test_support.h"
#include "training/training_fakes.h"
#include "training/training_interfaces.h"

namespace {

using sv_test::FakeInspector;
using sv_test::FakeSurface;
using sv_test::AuditText;

size_t CountOf(const std::string& text, const std::string& needle) {
    size_t n = 0;
    for (size_t pos = text.find(needle); pos != std::string::npos; pos = text.find(needle, pos + 1)) ++n;
    return n;
}

class HostTest : public ::testing::Test {
protected:
    void TearDown() override {
        sv::SetAuditDirectory("");
    }
    sv::HostOptions Options(int training, sv::TrainingFactories factories = {}) {
        sv::SetAuditDirectory(dir.Path());
        sv::HostOptions o;
        o.dataDir = dir.Path();
        o.trainingEnabled = training;
        o.trainingFactories = std::move(factories);
        o.trainingFactories.makeAgent = agent.Maker();
        return o;
    }
    sv_test::ScratchDir dir;
    sv_test::FakeAgent agent;
};

TEST_F(HostTest, TrainingDisabledMakesNoSurfaceButAnAgent) {
    int made = 0;
    sv::Host host(Options(0, {[&](const std::string&) {
                                  ++made;
                                  return std::unique_ptr<sv::training::ITrainingSurface>(new FakeSurface);
                              },
                              [&] {
                                  ++made;
                                  return std::unique_ptr<sv::training::IUiInspector>(new FakeInspector);
                              },
                              nullptr}));
    EXPECT_EQ(made, 0);
    EXPECT_EQ(agent.made.load(), 1);
    EXPECT_EQ(agent.hooks.surface, nullptr);
    EXPECT_EQ(agent.hooks.inspector, nullptr);
}

TEST_F(HostTest, TrainingEnabledTakesTheFactoriesProducts) {
    std::string seenDir;
    sv::Host host(Options(1, {[&](const std::string& d) {
                                  seenDir = d;
                                  return std::unique_ptr<sv::training::ITrainingSurface>(new FakeSurface);
                              },
                              [] { return std::unique_ptr<sv::training::IUiInspector>(new FakeInspector); },
                              nullptr}));
    EXPECT_NE(agent.hooks.surface, nullptr);
    EXPECT_NE(agent.hooks.inspector, nullptr);
    EXPECT_EQ(seenDir, dir.Path());
}

TEST_F(HostTest, ThrowingSurfaceFactoryLeavesHostWithoutSurfaceAndOneAuditLine) {
    sv::Host host(Options(1, {[](const std::string&) -> std::unique_ptr<sv::training::ITrainingSurface> {
                                  throw std::runtime_error("no display");
                              },
                              [] { return std::unique_ptr<sv::training::IUiInspector>(new FakeInspector); },
                              nullptr}));
    EXPECT_EQ(agent.hooks.surface, nullptr);
    EXPECT_EQ(agent.hooks.inspector, nullptr);
    EXPECT_EQ(agent.made.load(), 1);
    std::string audit = AuditText(dir.Path());
    EXPECT_EQ(CountOf(audit, " | training | surface unavailable: no display\n"), 1u);
    EXPECT_EQ(CountOf(audit, "\n"), 1u);
}

TEST_F(HostTest, EndSessionLocallyWithoutChannelsOnlyAudits) {
    std::atomic<int> sends{0};
    sv::HostOptions options = Options(0);
    options.seams.sendRelayText = [&](const std::string&) {
        ++sends;
        return true;
    };
    sv::Host host(options);
    ASSERT_TRUE(agent.endLocally);
    agent.endLocally();  // the person at the machine ends the session
    EXPECT_EQ(sends.load(), 0);
    std::string audit = AuditText(dir.Path());
    EXPECT_EQ(CountOf(audit, " | session-ended-locally | the person at the machine ended the session\n"), 1u);
}

// Stopped before it ever ran, the relay loop returns at once and opens no connection.
TEST_F(HostTest, StopBeforeTheRelayLoopMeansItNeverConnects) {
    sv_test::EnsureWinsock();
    SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof(a)), 0);
    ASSERT_EQ(listen(listener, 4), 0);
    int len = sizeof(a);
    getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len);
    sv::HostOptions options = Options(0);
    options.relayUrl = "ws://127.0.0.1:" + std::to_string(ntohs(a.sin_port)) + "/";
    sv::Host host(options);
    host.Stop();
    host.Stop();  // a second stop changes nothing
    EXPECT_EQ(host.RunClassic(), 0);
    EXPECT_EQ(host.RunEnrolled(7, "secret"), 0);
    // A connection the loop made would be waiting here by now.
    fd_set pending;
    FD_ZERO(&pending);
    FD_SET(listener, &pending);
    timeval none{0, 0};
    EXPECT_EQ(select(0, &pending, nullptr, nullptr, &none), 0);
    closesocket(listener);
}

}  // namespace

#include <vector>

#include "net/channel_frame.h"
#include "net/lan_test_support.h"
#include "net/secure_channel.h"
#include "session/host_test_support.h"
#include "session/screen/screen_capture.h"

namespace {

// A direct LAN peer keeps sending training requests and input while the Host is destroyed:
// its receive loop must be over before the training agent it hands them to is freed.
TEST(HostShutdown, LanPeerTalkingDuringDestructionIsSafe) {
    const std::vector<uint8_t> key(32, 0x42);
    const std::string request = R"({"type":"training-request","id":"r","op":"status","args":{}})";
    const std::string input = R"({"type":"input","x":0.5,"y":0.5})";
    for (int round = 0; round < 3; ++round) {
        sv_test::ScratchDir dir;
        sv::SetAuditDirectory(dir.Path());
        sv::HostOptions options = sv_test::TestHostOptions(dir.Path());
        options.seams.sendRelayText = [](const std::string&) { return false; };
        options.seams.captureScreen = [](sv::ScreenFrame&) { return false; };
        options.seams.input.injectPointer = [](const std::string&, double, double, const std::string&) { return true; };
        auto host = std::make_unique<sv::Host>(options);
        sv_test::SocketPair pair;
        sv::SecureChannel client(pair.ReleaseB(), key, sv::kRoleClient);
        sv::HostTestAccess::Lan(*host).OnLanChannelOpened(std::make_unique<sv::SecureChannel>(pair.ReleaseA(), key, sv::kRoleHost));

        std::atomic<bool> done{false};
        std::atomic<int> sent{0};
        std::thread talker([&] {
            while (!done && client.SendFrame(std::vector<uint8_t>(request.begin(), request.end()), 0) &&
                   client.SendFrame(std::vector<uint8_t>(input.begin(), input.end()), 0)) {
                ++sent;
            }
        });
        std::thread drain([&] {
            std::vector<uint8_t> payload;
            bool binary = false;
            try {
                while (client.ReceiveFrame(payload, binary)) {
                }
            } catch (const std::exception&) {
            }
        });
        for (int i = 0; i < 200 && sent < 50; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        EXPECT_GE(sent.load(), 50);

        auto start = std::chrono::steady_clock::now();
        host.reset();
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(8));
        done = true;
        client.Shutdown();
        talker.join();
        drain.join();
    }
}

}  // namespace
