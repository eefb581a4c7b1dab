#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <thread>

#include <nlohmann/json.hpp>

#include "net/ws_test_server.h"
#include "session/relay/media_link.h"
#include "test_support.h"

namespace {

// Nothing listens on port 1 of the loopback: a connect attempt would fail at once, but a
// thread that must not run at all never gets that far.
TEST(MediaLink, AStoppedOrSupersededThreadLeavesAtOnce) {
    const struct {
        bool stopping;
        uint32_t generation;  // 0 is current until a new generation starts
    } cases[] = {{true, 0}, {false, 7}};
    for (const auto& c : cases) {
        sv::MediaLink link([&c] { return c.stopping; });
        auto started = std::chrono::steady_clock::now();
        link.Run("ws://127.0.0.1:1/", "", "token", c.generation, 60000);
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5)) << c.generation;
        EXPECT_FALSE(link.Attached());
    }
}

TEST(MediaLink, AnyTextHoldingTheWordIsTheAttachAnswer) {
    const struct {
        const char* text;
        bool attaches;
    } cases[] = {
        {R"({"type":"media-attached"})", true},
        {"media-attached", true},
        {R"({"type":"media","status":"media-attached"})", true},
        {R"({"type":"media-attach","token":"t"})", false},  // the request echoed back
        {"Media-Attached", false},
        {"", false},
    };
    for (const auto& c : cases) EXPECT_EQ(sv::IsMediaAttachedReply(c.text), c.attaches) << c.text;
}

// A stop, or a newer generation, that lands after the link's last look before its connect:
// the connect's fresh start must not forget it and reach the relay.
TEST(MediaLink, AnEndJustBeforeTheConnectIsNotForgotten) {
    for (const bool superseded : {false, true}) {
        std::atomic<bool> reached{false};
        sv_test::RawServer media([&](sv_test::RawPeer& p) {
            reached.store(true);
            sv_test::RawPeer::Frame f;
            if (!p.Handshake()) return;
            while (p.ReadFrame(f)) {
            }
        });
        std::atomic<bool> stopping{false};
        std::unique_ptr<sv::MediaLink> link;
        int looks = 0;
        link = std::make_unique<sv::MediaLink>([&] {
            const bool stopped = stopping.load();
            // The second look is the last before the connect: the end comes right behind it.
            if (++looks == 2 && superseded) {
                link->NewGeneration();
            } else if (looks == 2) {
                stopping.store(true);
                link->Abort();
            }
            return stopped;
        });
        const uint32_t generation = link->NewGeneration();
        link->Run(media.Url(), "", "tok", generation, 30000);
        EXPECT_GE(looks, 2) << superseded;
        EXPECT_FALSE(reached.load()) << superseded;
        EXPECT_FALSE(link->Attached()) << superseded;
    }
}

// The link attaches with its token and carries frames only once the relay said so.
TEST(MediaLink, AttachesWithItsTokenAndThenCarriesFrames) {
    std::promise<std::string> attach;
    std::promise<size_t> frame;
    std::atomic<bool> answered{false};
    sv_test::RawServer media([&](sv_test::RawPeer& p) {
        sv_test::RawPeer::Frame f;
        if (!p.Handshake() || !p.ReadFrame(f)) return;
        attach.set_value(std::string(f.payload.begin(), f.payload.end()));
        // Worded otherwise than {"type":"media-attached"}: the word is what counts.
        p.Send(sv_test::ServerFrame(0x81, sv_test::Text(R"({"type":"media","status":"media-attached"})")));
        answered.store(true);
        if (p.ReadFrame(f)) frame.set_value(f.opcode == 2 ? f.payload.size() : 0);
        while (p.ReadFrame(f)) {
        }
    });
    std::atomic<bool> stopping{false};
    sv::MediaLink link([&] { return stopping.load(); });
    const uint32_t generation = link.NewGeneration();
    EXPECT_FALSE(link.Attached());
    std::thread run([&] { link.Run(media.Url(), "", "tok-7", generation, 30000); });
    auto attachMessage = attach.get_future();
    ASSERT_EQ(attachMessage.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    EXPECT_EQ(nlohmann::json::parse(attachMessage.get()),
              nlohmann::json::parse(R"({"type":"media-attach","token":"tok-7"})"));
    ASSERT_TRUE(sv_test::WaitUntil([&] { return link.Attached(); }));
    EXPECT_TRUE(answered.load());
    const uint8_t bytes[3] = {1, 2, 3};
    EXPECT_TRUE(link.SendBinary(bytes, sizeof bytes));
    auto sent = frame.get_future();
    ASSERT_EQ(sent.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    EXPECT_EQ(sent.get(), 3u);
    stopping.store(true);
    link.Abort();
    run.join();
    EXPECT_FALSE(link.Attached());
}

}  // namespace
