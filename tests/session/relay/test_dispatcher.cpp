#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "base/audit_log.h"
#include "net/ws_test_server.h"
#include "session/host.h"
#include "session/host_test_support.h"
#include "test_support.h"

namespace {

using nlohmann::json;

// A Host whose platform seams record what the dispatcher asked of them.
class DispatchFixture : public ::testing::Test {
protected:
    void SetUp() override { MakeHost(false); }
    void MakeHost(bool serviceMode, const std::string& relayUrl = std::string()) {
        host.reset();
        sv::SetAuditDirectory(dir.Path());
        sv::HostOptions options = sv_test::TestHostOptions(dir.Path(), serviceMode);
        options.relayUrl = relayUrl;
        host = std::make_unique<sv::Host>(options);
        auto& p = host->PlatformSeams();
        p.injectPointer = [this](const std::string& kind, double x, double y, const std::string& button) {
            calls.push_back("pointer " + kind + " " + std::to_string(x) + " " + std::to_string(y) + " " + button);
            return true;
        };
        p.injectText = [this](const std::string& text) {
            calls.push_back("text " + text);
            return injectOk;
        };
        p.injectKey = [this](const std::string& key, const std::vector<std::string>& mods) {
            std::string c = "key " + key;
            for (auto& m : mods) c += " " + m;
            calls.push_back(c);
            return injectOk;
        };
        p.sendSecureAttention = [this] {
            calls.push_back("sas");
            return true;
        };
        p.setInputBlocked = [this](bool on) {
            calls.push_back(on ? "block" : "unblock");
            return blockOk;
        };
        p.sendRelayText = [this](const std::string& text) {
            std::lock_guard<std::mutex> lock(sentMutex);
            sent.push_back(text);
            return true;
        };
        p.sendRelayBinary = [this](const uint8_t*, size_t n) {
            relayBinary.push_back(n);
            return relayOk;
        };
        p.sendMediaBinary = [this](const uint8_t*, size_t n) {
            mediaBinary.push_back(n);
            return mediaOk;
        };
    }
    void TearDown() override {
        host.reset();
        sv::SetAuditDirectory("");
    }

    std::vector<std::string> AuditLines() {
        std::vector<std::string> lines;
        for (const std::string& name : sv_test::ListFiles(dir.Path())) {
            if (name.rfind("audit-", 0) != 0) continue;
            std::string text = sv_test::ReadFile(dir.Path() + "/" + name);
            size_t start = 0;
            while (start < text.size()) {
                size_t end = text.find('\n', start);
                std::string line = text.substr(start, end - start);
                // Drop the time stamp: "YYYY-MM-DD HH:MM:SS | "
                lines.push_back(line.size() > 22 ? line.substr(22) : line);
                start = end == std::string::npos ? text.size() : end + 1;
            }
        }
        return lines;
    }

    sv_test::ScratchDir dir;
    std::unique_ptr<sv::Host> host;
    std::vector<std::string> calls;
    std::mutex sentMutex;
    std::vector<std::string> sent;
    std::vector<size_t> relayBinary, mediaBinary;
    bool injectOk = true;
    bool blockOk = true;
    bool relayOk = true;
    bool mediaOk = true;
};

TEST_F(DispatchFixture, RegisteredOnClassicHostAuditsAndResetsRefusals) {
    host->RouteIncomingText(R"({"type":"error","reason":"hostId-in-use"})");
    host->RouteIncomingText(R"({"type":"error","reason":"hostId-in-use"})");
    host->RouteIncomingText(R"({"type":"registered","mediaToken":""})");
    EXPECT_TRUE(host->IsRegistered());
    host->RouteIncomingText(R"({"type":"error","reason":"device-in-use"})");
    std::vector<std::string> expected = {
        "register-refused | hostId-in-use (x1)",
        "register-refused | hostId-in-use (x2)",
        "relay | registered hostId=",
        "register-refused | device-in-use (x1)",
    };
    EXPECT_EQ(AuditLines(), expected);
    EXPECT_TRUE(sent.empty());
}

TEST_F(DispatchFixture, OtherErrorsChangeNothingAndRejectionIsAudited) {
    host->RouteIncomingText(R"({"type":"error","reason":"something-else"})");
    EXPECT_TRUE(AuditLines().empty());
    host->RouteIncomingText(R"({"type":"error","reason":"device-revoked"})");
    EXPECT_EQ(AuditLines(), std::vector<std::string>{"device-rejected | device-revoked"});
}

TEST_F(DispatchFixture, PointerInputIsInjectedAndAudited) {
    host->RouteIncomingText(R"({"type":"input","x":0.25,"y":0.5,"kind":"down","button":"left","from":"c1"})");
    host->RouteIncomingText(R"({"type":"input","from":"c2"})");
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0], "pointer down 0.250000 0.500000 left");
    EXPECT_EQ(calls[1], "pointer move 0.000000 0.000000 ");
    std::vector<std::string> expected = {
        "input | actor=c1 | down x=0.250000 y=0.500000 button=left",
        "input | actor=c2 | move x=0.000000 y=0.000000",
    };
    EXPECT_EQ(AuditLines(), expected);
}

TEST_F(DispatchFixture, HugeCoordinatesAreAuditedInFull) {
    host->RouteIncomingText(R"({"type":"input","x":1e300,"y":-2.5,"from":"c"})");
    ASSERT_EQ(calls.size(), 1u);
    std::vector<std::string> lines = AuditLines();
    ASSERT_EQ(lines.size(), 1u);
    char expected[512];
    std::snprintf(expected, sizeof(expected), "input | actor=c | move x=%f y=%f", 1e300, -2.5);
    EXPECT_EQ(lines[0], expected);
    EXPECT_GT(lines[0].size(), 300u);
}

TEST_F(DispatchFixture, KeyInputTextIgnoresKeyAndModifiers) {
    injectOk = false;
    host->RouteIncomingText(
        R"({"type":"key-input","kind":"text","text":"h\u00e9","key":"a","modifiers":["ctrl"],"from":"c"})");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0], "text h\xC3\xA9");
    EXPECT_EQ(AuditLines(), std::vector<std::string>{"key-input | actor=c | failed text len=3"});
}

TEST_F(DispatchFixture, CtrlAltDeleteIsSecureAttentionOnlyInServiceMode) {
    const char* msg = R"({"type":"key-input","key":"Delete","modifiers":["Ctrl","Alt"],"from":"c"})";
    host->RouteIncomingText(msg);
    MakeHost(true);
    host->RouteIncomingText(msg);
    host->RouteIncomingText(R"({"type":"key-input","key":"del","modifiers":["control"],"from":"c"})");
    std::vector<std::string> expectedCalls = {"key Delete Ctrl Alt", "sas", "key del control"};
    EXPECT_EQ(calls, expectedCalls);
    std::vector<std::string> expected = {
        "key-input | actor=c | ok key=Delete",
        "key-input | actor=c | ok secure-attention",
        "key-input | actor=c | ok key=del",
    };
    EXPECT_EQ(AuditLines(), expected);
}

TEST_F(DispatchFixture, InputBlockReplyTellsTheStateThatHolds) {
    blockOk = false;
    host->RouteIncomingText(R"({"type":"input-block-request","id":"r1","blocked":true,"from":"c"})");
    blockOk = true;
    host->RouteIncomingText(R"({"type":"input-block-request","id":"r2","from":"c"})");
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(json::parse(sent[0]),
              json::parse(R"({"type":"input-block-result","id":"r1","blocked":false,
                              "error":"BlockInput was refused by Windows"})"));
    EXPECT_EQ(json::parse(sent[1]), json::parse(R"({"type":"input-block-result","id":"r2","blocked":false,"error":null})"));
    std::vector<std::string> expectedCalls = {"block", "unblock"};
    EXPECT_EQ(calls, expectedCalls);
    std::vector<std::string> expected = {"input-block | actor=c | unblocked", "input-block | actor=c | unblocked"};
    EXPECT_EQ(AuditLines(), expected);
}

TEST_F(DispatchFixture, InputBlockReplyKeepsItsKeyOrder) {
    blockOk = false;
    host->RouteIncomingText(R"({"type":"input-block-request","id":"r1","blocked":true,"from":"c"})");
    host->RouteIncomingText(R"({"type":"input-block-request","id":"r2","blocked":false,"from":"c"})");
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0],
              R"({"type":"input-block-result","id":"r1","blocked":false,"error":"BlockInput was refused by Windows"})");
    EXPECT_EQ(sent[1], R"({"type":"input-block-result","id":"r2","blocked":false,"error":null})");
}

TEST_F(DispatchFixture, MalformedMessagesAreDroppedWithoutEffect) {
    const char* bad[] = {
        "not json",
        "[1,2,3]",
        R"({"type":"input","x":"left","from":"c"})",
        R"({"type":"key-input","key":"a","modifiers":[1,2]})",
        R"({"type":"input-block-request","blocked":"yes"})",
        R"({"type":5})",
        R"({"type":"registered","mediaToken":7})",
        R"({"type":"unknown-type"})",
        "",
    };
    for (const char* text : bad) host->RouteIncomingText(text);
    EXPECT_TRUE(calls.empty());
    EXPECT_TRUE(sent.empty());
    // A handler that threw is named in the audit log, so a fault is not taken for noise.
    int failed = 0;
    for (const std::string& line : AuditLines()) {
        if (line.find("handler failed: input: ") != std::string::npos) ++failed;
    }
    EXPECT_EQ(failed, 1);
}

TEST_F(DispatchFixture, LanLookalikeInOtherTypeIsStillDispatched) {
    host->RouteIncomingText(R"({"type":"input","x":1,"y":1,"from":"c","note":"\"lan-ticket"})");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0], "pointer move 1.000000 1.000000 ");
}

TEST_F(DispatchFixture, BinaryGoesOverTheRelayUntilMediaIsAttached) {
    uint8_t bytes[3] = {1, 2, 3};
    EXPECT_TRUE(host->SendBinary(bytes, 3));
    EXPECT_EQ(relayBinary.size(), 1u);
    EXPECT_TRUE(mediaBinary.empty());
    relayOk = false;
    EXPECT_FALSE(host->SendBinary(bytes, 3));
}

// The relay's media connection, attached for real through the registration's media
// token; the frame sends themselves go to the recording seams.
TEST_F(DispatchFixture, BinaryFallsBackFromMediaToRelayInOneCall) {
    std::promise<std::string> attach;
    std::atomic<bool> hostGone{false};
    sv_test::RawServer media([&](sv_test::RawPeer& p) {
        sv_test::RawPeer::Frame f;
        if (!p.Handshake() || !p.ReadFrame(f)) return;
        attach.set_value(std::string(f.payload.begin(), f.payload.end()));
        p.Send(sv_test::ServerFrame(0x81, sv_test::Text(R"({"type":"media-attached"})")));
        while (!hostGone.load() && p.ReadFrame(f)) {
        }
    });
    MakeHost(false, media.Url());
    auto attachMessage = attach.get_future();
    host->RouteIncomingText(R"({"type":"registered","mediaToken":"tok-7"})");
    ASSERT_EQ(attachMessage.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    EXPECT_EQ(json::parse(attachMessage.get()), json::parse(R"({"type":"media-attach","token":"tok-7"})"));

    uint8_t bytes[3] = {1, 2, 3};
    // Frames take the relay until the attach answer is in, then the media connection alone.
    ASSERT_TRUE(sv_test::WaitUntil([&] {
        host->SendBinary(bytes, 3);
        return !mediaBinary.empty();
    }));
    relayBinary.clear();
    mediaBinary.clear();
    EXPECT_TRUE(host->SendBinary(bytes, 3));
    EXPECT_EQ(mediaBinary.size(), 1u);
    EXPECT_TRUE(relayBinary.empty());

    // A failed media send is retried on the relay within the same call.
    mediaOk = false;
    EXPECT_TRUE(host->SendBinary(bytes, 3));
    EXPECT_EQ(mediaBinary.size(), 2u);
    EXPECT_EQ(relayBinary.size(), 1u);
    // Failing on both paths is a failure.
    relayOk = false;
    EXPECT_FALSE(host->SendBinary(bytes, 3));
    EXPECT_EQ(mediaBinary.size(), 3u);
    EXPECT_EQ(relayBinary.size(), 2u);
    host.reset();
    hostGone.store(true);
}

}  // namespace
