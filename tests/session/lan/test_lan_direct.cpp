#include <winsock2.h>

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "net/lan_server.h"
#include "session/lan/lan_direct.h"
#include "test_support.h"

namespace {

using nlohmann::json;

// LAN direct on its own, in ticket mode, with fake addresses, relay sends and audit.
class LanWatch : public ::testing::Test {
protected:
    void SetUp() override {
        WSADATA wsa;
        ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &wsa), 0);
    }
    void TearDown() override {
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
        for (const std::string& a : Audit()) {
            if (a == line) return true;
        }
        return false;
    }

    std::unique_ptr<sv::LanDirect> lan;
    std::mutex mutex;
    std::vector<std::string> addresses{"192.168.1.5"};
    std::vector<json> sent;
    std::vector<std::string> raw;
    std::vector<std::string> audit;
    int addressReads = 0;
};

TEST_F(LanWatch, ChangedOrReorderedAddressesRestartAndAdvertise) {
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

TEST_F(LanWatch, TicketsNeedAListenerAndAllThreeMembers) {
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

TEST_F(LanWatch, RevokeDropsTheControllersUnusedTickets) {
    MakeLan(3600);
    lan->StartLanWithTickets(0);
    lan->PrepareLanTicket("a", "s", "c1");
    lan->PrepareLanTicket("b", "s", "c2");
    lan->RevokeLanTickets("c1");
    sv::LanTicket ticket;
    EXPECT_FALSE(lan->FindLanTicket("a", ticket));
    EXPECT_TRUE(lan->FindLanTicket("b", ticket));
}

TEST_F(LanWatch, PasswordRotationLeavesATicketListenerAlone) {
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

TEST_F(LanWatch, RelayMessagesKeepTheirKeyOrder) {
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

}  // namespace
