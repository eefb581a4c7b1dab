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

class ControllerFixture : public ::testing::Test {
protected:
    void SetUp() override {
        sv::SetAuditDirectory(dir.Path());
        sv::HostOptions options = sv_test::TestHostOptions(dir.Path());
        // Nothing listens on port 1 of the loopback: every connect fails at once.
        options.relayUrl = "ws://127.0.0.1:1/";
        options.usage.trackAction = [this](const std::string& action) {
            std::lock_guard<std::mutex> lock(sentMutex);
            usageActions.push_back(action);
        };
        host = std::make_unique<sv::Host>(options);
        auto& seams = host->PlatformSeams();
        seams.sendRelayText = [this](const std::string& text) {
            std::lock_guard<std::mutex> lock(sentMutex);
            sent.push_back(text);
            return true;
        };
        // No screen: the stream thread that a join starts idles on failed captures.
        seams.captureScreen = [](sv::ScreenFrame&) { return false; };
        seams.screenSize = [] { return std::make_pair(800, 600); };
    }
    // Controllers join and leave as the relay tells it.
    void Join(const std::string& id) {
        host->RouteIncomingText(nlohmann::json{{"type", "controller-joined"}, {"controllerId", id}}.dump());
    }
    void Leave(const std::string& id) {
        host->RouteIncomingText(nlohmann::json{{"type", "peer-left"}, {"id", id}}.dump());
    }
    size_t CountSent(const std::string& text) {
        std::lock_guard<std::mutex> lock(sentMutex);
        return static_cast<size_t>(std::count(sent.begin(), sent.end(), text));
    }
    void TearDown() override {
        host.reset();
        sv::SetAuditDirectory("");
    }
    // The details of the audit lines of one kind.
    std::vector<std::string> AuditLines(const std::string& kind) {
        std::vector<std::string> out;
        std::istringstream lines(sv_test::AuditText(dir.Path()));
        for (std::string line; std::getline(lines, line);) {
            if (line.find(" | " + kind + " | ") != std::string::npos) out.push_back(line.substr(line.rfind(" | ") + 3));
        }
        return out;
    }

    sv_test::ScratchDir dir;
    std::unique_ptr<sv::Host> host;
    std::mutex sentMutex;
    std::vector<std::string> sent;
    std::vector<std::string> usageActions;
};

TEST_F(ControllerFixture, RepeatedJoinCountsOnce) {
    Join("c1");
    Join("c1");
    EXPECT_EQ(host->ConnectedControllers(), 1u);
    Join("c2");
    EXPECT_EQ(host->ConnectedControllers(), 2u);
}

TEST_F(ControllerFixture, UnknownLeaverOnlyAudited) {
    Join("c1");
    Leave("ghost");
    EXPECT_EQ(host->ConnectedControllers(), 1u);
    EXPECT_EQ(AuditLines("peer-left-unknown"), std::vector<std::string>{"ghost"});
    Leave("c1");
    EXPECT_EQ(host->ConnectedControllers(), 0u);
    Leave("c1");  // gone already: unknown now
    EXPECT_EQ(AuditLines("peer-left-unknown").size(), 2u);
}

TEST_F(ControllerFixture, LeavingInAnyOrderReachesZero) {
    Join("a");
    Join("b");
    Join("c");
    Leave("b");
    EXPECT_EQ(host->ConnectedControllers(), 2u);
    Leave("a");
    Leave("c");
    EXPECT_EQ(host->ConnectedControllers(), 0u);
}

TEST_F(ControllerFixture, IdlessPeersCountWithoutEnteringTheSet) {
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

TEST_F(ControllerFixture, JoinTellsTheResolution) {
    Join("c1");
    EXPECT_GE(CountSent(R"({"type":"resolution","width":800,"height":600})"), 1u);
    Leave("c1");
}

TEST_F(ControllerFixture, RelayLoopReturnsAtOnceWhenAlreadyStopped) {
    host->Stop();
    auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(host->RunRelayLoop(false), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(3));
}

TEST_F(ControllerFixture, StopEndsTheBackoffWaitWithinASecond) {
    auto result = std::async(std::launch::async, [this] { return host->RunRelayLoop(false); });
    // The first connect fails at once and the loop settles into its 5 s wait.
    ASSERT_EQ(result.wait_for(std::chrono::milliseconds(1500)), std::future_status::timeout);
    auto stopped = std::chrono::steady_clock::now();
    host->Stop();
    ASSERT_EQ(result.wait_for(std::chrono::seconds(3)), std::future_status::ready);
    EXPECT_EQ(result.get(), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - stopped, std::chrono::milliseconds(1500));
    EXPECT_FALSE(host->IsRegistered());
}

TEST_F(ControllerFixture, UsageMarksTheFirstJoinAndTheLastLeave) {
    Join("a");
    Join("a");  // a repeated join is no new session
    Join("b");
    Leave("a");
    Leave("ghost");
    Leave("b");
    Leave("b");
    Join("");  // a password-mode LAN peer opens a session too
    Leave("");
    std::lock_guard<std::mutex> lock(sentMutex);
    EXPECT_EQ(usageActions, (std::vector<std::string>{"session_start", "session_end", "session_start", "session_end"}));
}

}  // namespace
