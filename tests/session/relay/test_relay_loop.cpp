// The whole Host over a relay of the tests' own: registration, the relay's errors, and
// controllers joining and leaving, as the relay tells them.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "base/audit_log.h"
#include "session/host.h"
#include "session/host_test_support.h"
#include "session/screen/screen_capture.h"
#include "test_support.h"

namespace {

class RelayFixture : public ::testing::Test {
protected:
    void SetUp() override { sv::SetAuditDirectory(dir.Path()); }
    void TearDown() override {
        running.reset();
        host.reset();
        sv::SetAuditDirectory("");
    }
    sv::HostOptions Options(const std::string& relayUrl) {
        sv::HostOptions options = sv_test::TestHostOptions(dir.Path());
        options.relayUrl = relayUrl;
        options.usage.trackAction = [this](const std::string& action) {
            std::lock_guard<std::mutex> lock(mutex);
            usageActions.push_back(action);
        };
        // No screen: the stream thread that a join starts idles on failed captures.
        options.seams.captureScreen = [](sv::ScreenFrame&) { return false; };
        options.seams.screenSize = [] { return std::make_pair(800, 600); };
        options.seams.input.setInputBlocked = [](bool) { return true; };
        return options;
    }
    // A Host registered with the fake relay.
    void Start() {
        host = std::make_unique<sv::Host>(Options(relay.Url()));
        running = std::make_unique<sv_test::RunningHost>(*host);
        ASSERT_TRUE(relay.WaitRegistered());
    }
    // Sends each text and returns once the host has handled them.
    void Relay(const std::vector<std::string>& texts) {
        for (const std::string& t : texts) ASSERT_TRUE(relay.Send(t));
        ASSERT_TRUE(relay.Sync());
    }
    void Join(const std::string& id) { Relay({nlohmann::json{{"type", "controller-joined"}, {"controllerId", id}}.dump()}); }
    void Leave(const std::string& id) { Relay({nlohmann::json{{"type", "peer-left"}, {"id", id}}.dump()}); }
    // The audit lines of one kind, "<actor part> | <detail>" after the kind.
    std::vector<std::string> AuditLines(const std::string& kind) {
        std::vector<std::string> out;
        std::istringstream lines(sv_test::AuditText(dir.Path()));
        for (std::string line; std::getline(lines, line);) {
            const size_t at = line.find(" | " + kind + " | ");
            if (at != std::string::npos) out.push_back(line.substr(at + kind.size() + 6));
        }
        return out;
    }
    std::vector<std::string> UsageActions() {
        std::lock_guard<std::mutex> lock(mutex);
        return usageActions;
    }

    sv_test::ScratchDir dir;
    sv_test::FakeRelay relay;
    std::unique_ptr<sv::Host> host;
    std::unique_ptr<sv_test::RunningHost> running;
    std::mutex mutex;
    std::vector<std::string> usageActions;
};

TEST_F(RelayFixture, RegistrationAndRejectionAreAudited) {
    Start();
    Relay({R"({"type":"error","reason":"something-else"})", R"({"type":"registered","mediaToken":""})"});
    EXPECT_TRUE(host->IsRegistered());
    EXPECT_EQ(AuditLines("relay"), std::vector<std::string>{"registered hostId=" + host->HostId()});
    EXPECT_TRUE(AuditLines("register-refused").empty());
    // A rejection ends the run for good: the host leaves the relay.
    ASSERT_TRUE(relay.Send(R"({"type":"error","reason":"device-revoked"})"));
    ASSERT_TRUE(relay.WaitClosed());
    EXPECT_EQ(AuditLines("device-rejected"), std::vector<std::string>{"device-revoked"});
    EXPECT_EQ(host->DeviceRejection(), "device-revoked");
}

// A refusal is counted and ends the pass before anything after it is read.
TEST_F(RelayFixture, ARefusalEndsThePassBeforeTheNextMessage) {
    Start();
    ASSERT_TRUE(relay.Send(R"({"type":"error","reason":"hostId-in-use"})"));
    ASSERT_TRUE(relay.Send(R"({"type":"registered","mediaToken":""})"));
    ASSERT_TRUE(relay.WaitClosed());
    EXPECT_EQ(AuditLines("register-refused"), std::vector<std::string>{"hostId-in-use (x1)"});
    EXPECT_TRUE(AuditLines("relay").empty());
    EXPECT_FALSE(host->IsRegistered());
}

TEST_F(RelayFixture, RepeatedJoinCountsOnce) {
    Start();
    Join("c1");
    Join("c1");
    EXPECT_EQ(host->ConnectedControllers(), 1u);
    Join("c2");
    EXPECT_EQ(host->ConnectedControllers(), 2u);
}

TEST_F(RelayFixture, UnknownLeaverOnlyAudited) {
    Start();
    Join("c1");
    Leave("ghost");
    EXPECT_EQ(host->ConnectedControllers(), 1u);
    EXPECT_EQ(AuditLines("peer-left-unknown"), std::vector<std::string>{"ghost"});
    Leave("c1");
    EXPECT_EQ(host->ConnectedControllers(), 0u);
    Leave("c1");  // gone already: unknown now
    EXPECT_EQ(AuditLines("peer-left-unknown").size(), 2u);
}

TEST_F(RelayFixture, LeavingInAnyOrderReachesZero) {
    Start();
    Join("a");
    Join("b");
    Join("c");
    Leave("b");
    EXPECT_EQ(host->ConnectedControllers(), 2u);
    Leave("a");
    Leave("c");
    EXPECT_EQ(host->ConnectedControllers(), 0u);
}

TEST_F(RelayFixture, IdlessPeersCountWithoutEnteringTheSet) {
    Start();
    Join("");
    Join("");
    EXPECT_EQ(host->ConnectedControllers(), 2u);
    Leave("");
    EXPECT_EQ(host->ConnectedControllers(), 1u);
    Leave("");
    Leave("");  // nobody left to count: no underflow
    EXPECT_EQ(host->ConnectedControllers(), 0u);
    EXPECT_TRUE(AuditLines("peer-left-unknown").empty());
}

TEST_F(RelayFixture, JoinTellsTheResolution) {
    Start();
    Join("c1");
    EXPECT_TRUE(relay.WaitFor(R"({"type":"resolution","width":800,"height":600})"));
}

TEST_F(RelayFixture, UsageMarksTheFirstJoinAndTheLastLeave) {
    Start();
    Join("a");
    Join("a");  // a repeated join is no new session
    Join("b");
    Leave("a");
    Leave("ghost");
    Leave("b");
    Leave("b");
    Join("");  // a password-mode LAN peer opens a session too
    Leave("");
    EXPECT_EQ(UsageActions(), (std::vector<std::string>{"session_start", "session_end", "session_start", "session_end"}));
}

// Nothing listens on port 1 of the loopback: every connect fails at once.
TEST_F(RelayFixture, RelayLoopReturnsAtOnceWhenAlreadyStopped) {
    host = std::make_unique<sv::Host>(Options("ws://127.0.0.1:1/"));
    host->Stop();
    auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(host->RunClassic(), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(3));
}

TEST_F(RelayFixture, StopEndsTheBackoffWaitWithinASecond) {
    host = std::make_unique<sv::Host>(Options("ws://127.0.0.1:1/"));
    auto result = std::async(std::launch::async, [this] { return host->RunClassic(); });
    // The first connect fails at once and the loop settles into its 5 s wait.
    ASSERT_EQ(result.wait_for(std::chrono::milliseconds(1500)), std::future_status::timeout);
    auto stopped = std::chrono::steady_clock::now();
    host->Stop();
    ASSERT_EQ(result.wait_for(std::chrono::seconds(3)), std::future_status::ready);
    EXPECT_EQ(result.get(), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - stopped, std::chrono::milliseconds(1500));
    EXPECT_FALSE(host->IsRegistered());
}

}  // namespace
