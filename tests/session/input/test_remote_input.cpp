#include "session/input/remote_input.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "base/audit_log.h"
#include "test_support.h"

namespace {

using nlohmann::json;

// A RemoteInput whose seams record what it asked of them; the audit lines without their
// time stamps.
class RemoteInputTest : public ::testing::Test {
protected:
    void SetUp() override {
        sv::SetAuditDirectory(dir.Path());
        Make(false);
    }
    void TearDown() override {
        input.reset();
        sv::SetAuditDirectory("");
    }
    void Make(bool serviceMode) {
        sv::RemoteInput::Seams s;
        s.inject.injectPointer = [this](const std::string& kind, double x, double y, const std::string& button) {
            calls.push_back("pointer " + kind + " " + std::to_string(x) + " " + std::to_string(y) + " " + button);
            return true;
        };
        s.inject.injectText = [this](const std::string& text) {
            calls.push_back("text " + text);
            return injectOk;
        };
        s.inject.injectKey = [this](const std::string& key, const std::vector<std::string>& mods) {
            std::string c = "key " + key;
            for (auto& m : mods) c += " " + m;
            calls.push_back(c);
            return injectOk;
        };
        s.inject.sendSecureAttention = [this] {
            calls.push_back("sas");
            return true;
        };
        s.inject.setInputBlocked = [this](bool on) {
            calls.push_back(on ? "block" : "unblock");
            return blockOk;
        };
        s.sendText = [this](const std::string& text) { sent.push_back(text); };
        s.gateInput = [this](const std::string& from, const std::string& what) {
            gateAsked.push_back(from + " " + what);
            return gateOpen;
        };
        // No BlockInput or SendInput reaches Windows from here.
        sv::InputPlatform platform;
        platform.blockInput = [](bool) { return false; };
        platform.sendInput = [](const INPUT*, uint32_t) { return 0u; };
        input = std::make_unique<sv::RemoteInput>(s, serviceMode, platform);
    }
    static sv::IncomingMessage Msg(const std::string& text) {
        auto m = sv::ParseIncoming(text, sv::MessageSource::kRelay);
        EXPECT_TRUE(m.has_value()) << text;
        return m ? *m : sv::IncomingMessage();
    }
    // Each message to the handler its type names, as the routes would.
    void Deliver(const std::string& text) {
        sv::IncomingMessage m = Msg(text);
        if (m.type == "input") input->OnInput(m);
        if (m.type == "key-input") input->OnKeyInput(m);
        if (m.type == "input-block-request") input->OnInputBlockRequest(m);
    }
    std::vector<std::string> AuditLines() { return sv_test::AuditLines(dir.Path()); }

    sv_test::ScratchDir dir;
    std::unique_ptr<sv::RemoteInput> input;
    std::vector<std::string> calls, sent, gateAsked;
    bool injectOk = true;
    bool blockOk = true;
    bool gateOpen = true;
};

TEST_F(RemoteInputTest, PointerInputIsInjectedAndAudited) {
    Deliver(R"({"type":"input","x":0.25,"y":0.5,"kind":"down","button":"left","from":"c1"})");
    Deliver(R"({"type":"input","from":"c2"})");
    EXPECT_EQ(calls, (std::vector<std::string>{"pointer down 0.250000 0.500000 left", "pointer move 0.000000 0.000000 "}));
    EXPECT_EQ(AuditLines(), (std::vector<std::string>{"input | actor=c1 | down x=0.250000 y=0.500000 button=left",
                                                      "input | actor=c2 | move x=0.000000 y=0.000000"}));
}

TEST_F(RemoteInputTest, HugeCoordinatesAreAuditedInFull) {
    Deliver(R"({"type":"input","x":1e300,"y":-2.5,"from":"c"})");
    ASSERT_EQ(calls.size(), 1u);
    std::vector<std::string> lines = AuditLines();
    ASSERT_EQ(lines.size(), 1u);
    char expected[512];
    std::snprintf(expected, sizeof(expected), "input | actor=c | move x=%f y=%f", 1e300, -2.5);
    EXPECT_EQ(lines[0], expected);
    EXPECT_GT(lines[0].size(), 300u);
}

TEST_F(RemoteInputTest, KeyInputTextIgnoresKeyAndModifiers) {
    injectOk = false;
    Deliver(R"({"type":"key-input","kind":"text","text":"h\u00e9","key":"a","modifiers":["ctrl"],"from":"c"})");
    EXPECT_EQ(calls, std::vector<std::string>{"text h\xC3\xA9"});
    EXPECT_EQ(AuditLines(), std::vector<std::string>{"key-input | actor=c | failed text len=3"});
}

TEST_F(RemoteInputTest, CtrlAltDeleteIsSecureAttentionOnlyInServiceMode) {
    const char* msg = R"({"type":"key-input","key":"Delete","modifiers":["Ctrl","Alt"],"from":"c"})";
    Deliver(msg);
    Make(true);
    Deliver(msg);
    Deliver(R"({"type":"key-input","key":"del","modifiers":["control"],"from":"c"})");
    EXPECT_EQ(calls, (std::vector<std::string>{"key Delete Ctrl Alt", "sas", "key del control"}));
    EXPECT_EQ(AuditLines(), (std::vector<std::string>{"key-input | actor=c | ok key=Delete",
                                                      "key-input | actor=c | ok secure-attention",
                                                      "key-input | actor=c | ok key=del"}));
}

TEST_F(RemoteInputTest, InputBlockReplyTellsTheStateThatHoldsInItsKeyOrder) {
    blockOk = false;
    Deliver(R"({"type":"input-block-request","id":"r1","blocked":true,"from":"c"})");
    blockOk = true;
    Deliver(R"({"type":"input-block-request","id":"r2","from":"c"})");
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0],
              R"({"type":"input-block-result","id":"r1","blocked":false,"error":"BlockInput was refused by Windows"})");
    EXPECT_EQ(sent[1], R"({"type":"input-block-result","id":"r2","blocked":false,"error":null})");
    EXPECT_EQ(calls, (std::vector<std::string>{"block", "unblock"}));
    EXPECT_EQ(AuditLines(), (std::vector<std::string>{"input-block | actor=c | unblocked",
                                                      "input-block | actor=c | unblocked"}));
}

// The training gate is asked for controller input only; a closed gate drops it unaudited,
// while the agent's own input and the block requests pass.
TEST_F(RemoteInputTest, AClosedGateDropsControllerInputOnly) {
    gateOpen = false;
    Deliver(R"({"type":"input","x":0.5,"y":0.5,"from":"c1"})");
    Deliver(R"({"type":"key-input","kind":"text","text":"x","from":"c2"})");
    Deliver(R"({"type":"key-input","key":"a","from":"c2"})");
    EXPECT_TRUE(calls.empty());
    EXPECT_TRUE(AuditLines().empty());
    EXPECT_EQ(gateAsked, (std::vector<std::string>{"c1 mouse", "c2 keyboard", "c2 keyboard"}));
    Deliver(R"({"type":"input-block-request","id":"r","blocked":true,"from":"c1"})");
    EXPECT_TRUE(input->InjectPointer("move", 0.5, 0.5, ""));
    EXPECT_TRUE(input->InjectKey("a", {}));
    EXPECT_EQ(calls, (std::vector<std::string>{"block", "pointer move 0.500000 0.500000 ", "key a"}));
    EXPECT_EQ(gateAsked.size(), 3u);
}

// A member of the wrong type throws out of the handler (the routes audit it) before
// anything reaches the machine or the controller.
TEST_F(RemoteInputTest, MembersOfTheWrongTypeThrowBeforeAnyEffect) {
    const char* bad[] = {
        R"({"type":"input","x":"left","from":"c"})",
        R"({"type":"key-input","key":"a","modifiers":[1,2]})",
        R"({"type":"key-input","key":"a","modifiers":"ctrl"})",
        R"({"type":"input-block-request","blocked":"yes"})",
    };
    for (const char* text : bad) EXPECT_ANY_THROW(Deliver(text)) << text;
    EXPECT_TRUE(calls.empty());
    EXPECT_TRUE(sent.empty());
    EXPECT_TRUE(AuditLines().empty());
}

}  // namespace
