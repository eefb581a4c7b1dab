#include <winsock2.h>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "net/lan_test_support.h"
#include "net/secure_channel.h"
#include "session/host.h"
#include "session/host_test_support.h"
#include "test_support.h"

namespace {

// A Host registered with the tests' relay, with fake screen and input, and password-mode
// LAN peers on loopback pairs.
class LanPeers : public ::testing::Test {
protected:
    void SetUp() override {
        sv::SetAuditDirectory(dir.Path());
        sv::HostOptions options = sv_test::TestHostOptions(dir.Path());
        options.relayUrl = relay.Url();
        options.seams.captureScreen = [](sv::ScreenFrame&) { return false; };  // the stream idles
        options.seams.screenSize = [] { return std::make_pair(800, 600); };
        options.seams.input.setInputBlocked = [](bool) { return true; };
        options.seams.input.injectPointer = [this](const std::string&, double, double, const std::string&) {
            ++pointer;
            return true;
        };
        host = std::make_unique<sv::Host>(options);
        running = std::make_unique<sv_test::RunningHost>(*host);
        ASSERT_TRUE(relay.WaitRegistered());
    }
    void TearDown() override {
        running.reset();
        host.reset();
        for (auto& c : clients) c->Shutdown();
        for (auto& t : drains) t.join();
        sv::SetAuditDirectory("");
    }
    // Opens a password-mode peer and gives its end; what the host sends it is drained.
    sv::SecureChannel* OpenPeer() {
        const std::vector<uint8_t> key(32, 0x42);
        sv_test::SocketPair pair;
        clients.push_back(std::make_unique<sv::SecureChannel>(pair.ReleaseB(), key, sv::kRoleClient));
        sv::HostTestAccess::Lan(*host).OnLanChannelOpened(std::make_unique<sv::SecureChannel>(pair.ReleaseA(), key, sv::kRoleHost));
        sv::SecureChannel* client = clients.back().get();
        drains.emplace_back([client] {
            std::vector<uint8_t> payload;
            bool binary = false;
            try {
                while (client->ReceiveFrame(payload, binary)) {
                }
            } catch (const std::exception&) {
            }
        });
        return client;
    }
    static void Send(sv::SecureChannel* client, const std::string& text) {
        ASSERT_TRUE(client->SendFrame(std::vector<uint8_t>(text.begin(), text.end()), 0));
    }
    std::string Audit() { return sv_test::AuditText(dir.Path()); }

    sv_test::ScratchDir dir;
    sv_test::FakeRelay relay;
    std::unique_ptr<sv::Host> host;
    std::unique_ptr<sv_test::RunningHost> running;
    std::vector<std::unique_ptr<sv::SecureChannel>> clients;
    std::vector<std::thread> drains;
    std::atomic<int> pointer{0};
};

TEST_F(LanPeers, APasswordPeerIsLanWhateverItWritesAndCannotSpeakForTheRelay) {
    sv::SecureChannel* peer = OpenPeer();
    EXPECT_EQ(host->ConnectedControllers(), 1u);
    ASSERT_TRUE(relay.Send(R"({"type":"controller-joined","controllerId":"c1"})"));
    ASSERT_TRUE(relay.Sync());
    Send(peer, R"({"type":"controller-joined","controllerId":"x","from":"c1"})");
    Send(peer, R"({"type":"peer-left","id":"c1"})");
    Send(peer, R"({"type":"error","reason":"device-revoked"})");
    Send(peer, R"({"type":"input","x":0.5,"y":0.5,"from":"c1"})");
    ASSERT_TRUE(sv_test::WaitUntil([&] { return Audit().find(" | input | ") != std::string::npos; }));
    // Taken one after another on the channel's thread: the relay's types came first and did nothing.
    EXPECT_NE(Audit().find(" | input | actor=lan | move x=0.500000 y=0.500000\n"), std::string::npos);
    EXPECT_EQ(Audit().find("actor=c1"), std::string::npos);
    EXPECT_EQ(Audit().find("device-rejected"), std::string::npos);
    EXPECT_EQ(host->ConnectedControllers(), 2u);
    EXPECT_EQ(pointer.load(), 1);
}

TEST_F(LanPeers, AClosedPeerIsRemovedAndFreedOnceAndCountsDownOnce) {
    sv::SecureChannel* a = OpenPeer();
    OpenPeer();
    ASSERT_EQ(host->ConnectedControllers(), 2u);
    a->Shutdown();
    // The channel leaves the set before its peer leaves the count: wait for both.
    ASSERT_TRUE(sv_test::WaitUntil(
        [&] { return sv::HostTestAccess::Lan(*host).ChannelCount() == 1 && host->ConnectedControllers() == 1u; }));
    sv::HostTestAccess::Lan(*host).ShutdownChannels();  // each loop removes its own channel
    ASSERT_TRUE(sv_test::WaitUntil(
        [&] { return sv::HostTestAccess::Lan(*host).ChannelCount() == 0 && host->ConnectedControllers() == 0u; }));
}

}  // namespace
