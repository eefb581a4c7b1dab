#include <winsock2.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "base/worker_group.h"
#include "net/lan_server.h"
#include "net/lan_test_support.h"
#include "net/secure_channel.h"
#include "session/lan/lan_direct.h"
#include "test_support.h"

namespace {

using nlohmann::json;

// LAN direct on its own, with fake addresses, relay sends, audit, controllers and dispatcher.
class LanDirectFixture : public ::testing::Test {
protected:
    void SetUp() override {
        WSADATA wsa;
        ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &wsa), 0);
    }
    void TearDown() override {
        // The receive loops run on the owner's workers: shut down, wait, then free.
        if (lan) lan->Shutdown();
        workers.Stop();
        workers.Wait();
        lan.reset();
        WSACleanup();
    }
    void MakeLan(int32_t watchPeriodSeconds) {
        sv::LanDirect::Links links;
        links.privateAddresses = [this] {
            std::lock_guard<std::mutex> lock(mutex);
            ++addressReads;
            return addresses;
        };
        links.sendRelayText = [this](const std::string& text) {
            std::lock_guard<std::mutex> lock(mutex);
            sent.push_back(json::parse(text));
            raw.push_back(text);
            return true;
        };
        links.audit = [this](const std::string& kind, const std::string& detail) {
            std::lock_guard<std::mutex> lock(mutex);
            audit.push_back(kind + " | " + detail);
        };
        links.commandRunner = [](const std::wstring&) { return 0u; };
        links.isRelayController = [](const std::string& id) { return id == "c1"; };
        links.allControllersOnLan = [](const std::vector<std::string>& ids) { return ids.size() == 1; };
        links.requestKeyframe = [this] { ++keyframes; };
        links.screenSize = [] { return std::make_pair(800, 600); };
        links.dispatch = [this](const std::string& text, sv::MessageSource source, const std::string& id) {
            std::lock_guard<std::mutex> lock(mutex);
            dispatched.push_back(text + " " + (source == sv::MessageSource::kLanTicket ? "ticket " : "other ") + id);
        };
        links.runDetached = [this](std::function<void()> work) { return workers.Start(std::move(work)); };
        links.watchPeriodSeconds = watchPeriodSeconds;
        lan = std::make_unique<sv::LanDirect>(std::move(links));
    }
    void SetAddresses(std::vector<std::string> a) {
        std::lock_guard<std::mutex> lock(mutex);
        addresses = std::move(a);
    }
    // Waits (bounded) for the n-th "lan-advertise" sent.
    json WaitAdvertise(size_t n) {
        json found;
        sv_test::WaitUntil([&] {
            std::lock_guard<std::mutex> lock(mutex);
            size_t seen = 0;
            for (const json& m : sent) {
                if (m.value("type", "") == "lan-advertise" && ++seen == n) found = m;
            }
            return seen >= n;
        });
        return found;
    }
    std::vector<std::string> Audit() {
        std::lock_guard<std::mutex> lock(mutex);
        return audit;
    }
    bool Audited(const std::string& line) {
        const std::vector<std::string> lines = Audit();
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }

    std::unique_ptr<sv::LanDirect> lan;
    std::mutex mutex;
    std::vector<std::string> addresses{"192.168.1.5"};
    std::vector<json> sent;
    std::vector<std::string> raw;
    std::vector<std::string> audit;
    int addressReads = 0;
    std::vector<std::string> dispatched;
    std::atomic<int> keyframes{0};
    sv::WorkerGroup workers;
};

TEST_F(LanDirectFixture, ChangedOrReorderedAddressesRestartAndAdvertise) {
    MakeLan(1);
    lan->StartLanWithTickets(0);
    ASSERT_EQ(Audit().size(), 1u);
    EXPECT_EQ(Audit()[0].rfind("lan | ", 0), 0u);
    // The watcher's first look is its baseline: change the addresses only after it.
    ASSERT_TRUE(sv_test::WaitUntil([&] {
        std::lock_guard<std::mutex> lock(mutex);
        return addressReads > 0;
    }));
    SetAddresses({"192.168.1.5", "10.0.0.2"});
    json first = WaitAdvertise(1);
    ASSERT_TRUE(first.is_object());
    EXPECT_EQ(first["lan"]["addrs"], json::array({"192.168.1.5", "10.0.0.2"}));
    EXPECT_TRUE(Audited("lan | addresses changed, 2 private"));

    SetAddresses({"10.0.0.2", "192.168.1.5"});
    json second = WaitAdvertise(2);
    ASSERT_TRUE(second.is_object());
    EXPECT_EQ(second["lan"]["addrs"], json::array({"10.0.0.2", "192.168.1.5"}));

    SetAddresses({});
    json third = WaitAdvertise(3);
    ASSERT_TRUE(third.is_object());
    EXPECT_TRUE(third["lan"].is_null());
    EXPECT_TRUE(Audited("lan | addresses changed, 0 private"));
}

TEST_F(LanDirectFixture, TicketsNeedAListenerAndAllThreeMembers) {
    MakeLan(3600);
    lan->PrepareLanTicket("t", "s", "c");  // no listener yet
    lan->StartLanWithTickets(0);
    lan->PrepareLanTicket("", "s", "c");
    lan->PrepareLanTicket("t", "", "c");
    lan->PrepareLanTicket("t", "s", "");
    lan->PrepareLanTicket("t1", "s", "c");
    sv::LanTicket ticket;
    EXPECT_TRUE(lan->FindLanTicket("t1", ticket));
    EXPECT_EQ(ticket.controllerId, "c");
    EXPECT_EQ(ticket.salt.size(), 32u);
    EXPECT_EQ(ticket.verifier.size(), 384u);
    EXPECT_FALSE(lan->FindLanTicket("t1", ticket));
    EXPECT_FALSE(lan->FindLanTicket("t", ticket));
    std::lock_guard<std::mutex> lock(mutex);
    size_t ready = 0;
    for (const json& m : sent) ready += m.value("type", "") == "lan-ticket-ready";
    EXPECT_EQ(ready, 1u);
}

TEST_F(LanDirectFixture, RevokeDropsTheControllersUnusedTickets) {
    MakeLan(3600);
    lan->StartLanWithTickets(0);
    lan->PrepareLanTicket("a", "s", "c1");
    lan->PrepareLanTicket("b", "s", "c2");
    lan->RevokeLanTickets("c1");
    sv::LanTicket ticket;
    EXPECT_FALSE(lan->FindLanTicket("a", ticket));
    EXPECT_TRUE(lan->FindLanTicket("b", ticket));
}

TEST_F(LanDirectFixture, PasswordRotationLeavesATicketListenerAlone) {
    // An enrolled host's listener admits by tickets only; a rotated password must not turn
    // it into one that admits whoever reads the password off the screen.
    MakeLan(3600);
    lan->StartLanWithTickets(0);
    lan->RenewPassword("newpw2");
    ASSERT_EQ(Audit().size(), 1u);
    EXPECT_NE(Audit()[0].find(" (tickets), firewall rule "), std::string::npos);
    lan->PrepareLanTicket("t1", "s", "c");
    sv::LanTicket ticket;
    EXPECT_TRUE(lan->FindLanTicket("t1", ticket));
}

TEST_F(LanDirectFixture, RelayMessagesKeepTheirKeyOrder) {
    MakeLan(3600);  // only the advertisements asked for below
    lan->StartLanWithTickets(0);
    lan->PrepareLanTicket("t1", "s", "c1");
    lan->AdvertiseLan();
    SetAddresses({});
    lan->AdvertiseLan();
    lan->SendLanPath("c1", true, "192.168.1.9");
    lan->SendLanPath("c1", false, "");
    std::string endpoints = lan->BuildLanEndpoints();
    EXPECT_EQ(endpoints.rfind(R"({"port":)", 0), 0u) << endpoints;
    EXPECT_NE(endpoints.find(R"(,"addrs":[]})"), std::string::npos) << endpoints;
    std::lock_guard<std::mutex> lock(mutex);
    ASSERT_EQ(raw.size(), 5u);
    EXPECT_EQ(raw[0], R"({"type":"lan-ticket-ready","ticketId":"t1"})");
    EXPECT_EQ(raw[1].rfind(R"({"type":"lan-advertise","lan":{"port":)", 0), 0u) << raw[1];
    EXPECT_NE(raw[1].find(R"(,"addrs":["192.168.1.5"]}})"), std::string::npos) << raw[1];
    EXPECT_EQ(raw[2], R"({"type":"lan-advertise","lan":null})");
    EXPECT_EQ(raw[3], R"({"type":"lan-path","controllerId":"c1","active":true,"ip":"192.168.1.9"})");
    EXPECT_EQ(raw[4], R"({"type":"lan-path","controllerId":"c1","active":false})");
}

TEST_F(LanDirectFixture, ATicketPeerSpeaksAsItsControllerUntilItsChannelCloses) {
    MakeLan(3600);
    const std::vector<uint8_t> key(32, 0x42);
    sv_test::SocketPair orphanPair;
    lan->OnLanChannelMessage(std::make_unique<sv::SecureChannel>(orphanPair.ReleaseA(), key, sv::kRoleHost), "c2",
                             "10.0.0.7");
    EXPECT_EQ(lan->ChannelCount(), 0u);
    EXPECT_TRUE(Audited("lan-ticket-orphan | c2 from 10.0.0.7"));

    sv_test::SocketPair pair;
    sv::SecureChannel client(pair.ReleaseB(), key, sv::kRoleClient);
    lan->OnLanChannelMessage(std::make_unique<sv::SecureChannel>(pair.ReleaseA(), key, sv::kRoleHost), "c1",
                             "192.168.1.9");
    EXPECT_TRUE(lan->AllOnLan());
    EXPECT_TRUE(Audited("lan-path | on c1 from 192.168.1.9"));
    std::vector<uint8_t> payload;
    bool binary = true;
    ASSERT_TRUE(client.ReceiveFrame(payload, binary));
    EXPECT_FALSE(binary);
    EXPECT_EQ(std::string(payload.begin(), payload.end()), R"({"type":"resolution","width":800,"height":600})");

    // Whatever the peer writes as its sender, the dispatcher hears its controller; binary
    // frames are not for the host.
    const std::string text = R"({"type":"input","from":"someone-else"})";
    ASSERT_TRUE(client.SendFrame({1, 2, 3}, 1));
    ASSERT_TRUE(client.SendFrame(std::vector<uint8_t>(text.begin(), text.end()), 0));
    ASSERT_TRUE(sv_test::WaitUntil([&] {
        std::lock_guard<std::mutex> lock(mutex);
        return !dispatched.empty();
    }));

    lan->RevokeLanTickets("c1");  // its channel is shut down; the loop cleans up
    ASSERT_TRUE(sv_test::WaitUntil([&] { return lan->ChannelCount() == 0; }));
    EXPECT_FALSE(lan->AllOnLan());
    EXPECT_TRUE(Audited("lan-path | off c1"));
    EXPECT_EQ(keyframes.load(), 2);
    std::lock_guard<std::mutex> lock(mutex);
    EXPECT_EQ(dispatched, std::vector<std::string>{text + " ticket c1"});
    ASSERT_EQ(raw.size(), 2u);
    EXPECT_EQ(raw[0], R"({"type":"lan-path","controllerId":"c1","active":true,"ip":"192.168.1.9"})");
    EXPECT_EQ(raw[1], R"({"type":"lan-path","controllerId":"c1","active":false})");
}

}  // namespace
