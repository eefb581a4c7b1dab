#include <winsock2.h>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "base/audit_log.h"
#include "net/lan_server.h"
#include "session/host.h"
#include "session/host_test_support.h"
#include "session/lan/lan_direct.h"
#include "test_support.h"

namespace {

using nlohmann::json;

// A Host in ticket mode whose private addresses and relay sends are fakes.
class LanWatch : public ::testing::Test {
protected:
    void SetUp() override {
        WSADATA wsa;
        ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &wsa), 0);
        host = sv_test::MakeTestHost(dir.Path());
        auto& p = host->PlatformSeams();
        p.privateAddresses = [this] {
            std::lock_guard<std::mutex> lock(mutex);
            ++addressReads;
            return addresses;
        };
        p.lanWatchPeriodSeconds = 1;
        p.sendRelayText = [this](const std::string& text) {
            std::lock_guard<std::mutex> lock(mutex);
            sent.push_back(json::parse(text));
            raw.push_back(text);
            return true;
        };
    }
    void TearDown() override {
        host.reset();
        sv::SetAuditDirectory("");
        WSACleanup();
    }
    void SetAddresses(std::vector<std::string> a) {
        std::lock_guard<std::mutex> lock(mutex);
        addresses = std::move(a);
    }
    // Waits (bounded) for the n-th "lan-advertise" the host sends.
    json WaitAdvertise(size_t n) {
        for (int i = 0; i < 100; ++i) {
            {
                std::lock_guard<std::mutex> lock(mutex);
                std::vector<json> ads;
                for (const json& m : sent) {
                    if (m.value("type", "") == "lan-advertise") ads.push_back(m);
                }
                if (ads.size() >= n) return ads[n - 1];
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return json();
    }
    std::string Audit() { return sv_test::AuditText(dir.Path()); }

    sv_test::ScratchDir dir;
    std::unique_ptr<sv::Host> host;
    std::mutex mutex;
    std::vector<std::string> addresses{"192.168.1.5"};
    std::vector<json> sent;
    std::vector<std::string> raw;
    int addressReads = 0;
};

TEST_F(LanWatch, ChangedOrReorderedAddressesRestartAndAdvertise) {
    host->StartLanWithTickets(0);
    EXPECT_NE(Audit().find(" | lan | "), std::string::npos);
    // The watcher's first look is its baseline: change the addresses only after it.
    for (int i = 0; i < 100; ++i) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (addressReads > 0) break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    SetAddresses({"192.168.1.5", "10.0.0.2"});
    json first = WaitAdvertise(1);
    ASSERT_TRUE(first.is_object());
    EXPECT_EQ(first["lan"]["addrs"], json::array({"192.168.1.5", "10.0.0.2"}));
    EXPECT_NE(Audit().find(" | lan | addresses changed, 2 private\n"), std::string::npos);

    SetAddresses({"10.0.0.2", "192.168.1.5"});
    json second = WaitAdvertise(2);
    ASSERT_TRUE(second.is_object());
    EXPECT_EQ(second["lan"]["addrs"], json::array({"10.0.0.2", "192.168.1.5"}));

    SetAddresses({});
    json third = WaitAdvertise(3);
    ASSERT_TRUE(third.is_object());
    EXPECT_TRUE(third["lan"].is_null());
    EXPECT_NE(Audit().find(" | lan | addresses changed, 0 private\n"), std::string::npos);
}

TEST_F(LanWatch, TicketsNeedAListenerAndAllThreeMembers) {
    host->PrepareLanTicket("t", "s", "c");  // no listener yet
    host->StartLanWithTickets(0);
    host->PrepareLanTicket("", "s", "c");
    host->PrepareLanTicket("t", "", "c");
    host->PrepareLanTicket("t", "s", "");
    host->PrepareLanTicket("t1", "s", "c");
    sv::LanTicket ticket;
    EXPECT_TRUE(host->FindLanTicket("t1", ticket));
    EXPECT_EQ(ticket.controllerId, "c");
    EXPECT_EQ(ticket.salt.size(), 32u);
    EXPECT_EQ(ticket.verifier.size(), 384u);
    EXPECT_FALSE(host->FindLanTicket("t1", ticket));
    EXPECT_FALSE(host->FindLanTicket("t", ticket));
    std::lock_guard<std::mutex> lock(mutex);
    size_t ready = 0;
    for (const json& m : sent) ready += m.value("type", "") == "lan-ticket-ready";
    EXPECT_EQ(ready, 1u);
}

TEST_F(LanWatch, RevokeDropsTheControllersUnusedTickets) {
    host->StartLanWithTickets(0);
    host->PrepareLanTicket("a", "s", "c1");
    host->PrepareLanTicket("b", "s", "c2");
    host->RevokeLanTickets("c1");
    sv::LanTicket ticket;
    EXPECT_FALSE(host->FindLanTicket("a", ticket));
    EXPECT_TRUE(host->FindLanTicket("b", ticket));
}

TEST_F(LanWatch, PasswordRotationLeavesATicketListenerAlone) {
    // An enrolled host's listener admits by tickets only; a rotated password must not turn
    // it into one that admits whoever reads the password off the screen.
    host->PlatformSeams().lanWatchPeriodSeconds = 3600;
    host->StartLanWithTickets(0);
    host->RotatePassword();
    std::string audit = Audit();
    size_t lanLines = 0;
    for (size_t pos = audit.find(" | lan | "); pos != std::string::npos; pos = audit.find(" | lan | ", pos + 1)) ++lanLines;
    EXPECT_EQ(lanLines, 1u);
    EXPECT_NE(audit.find(" (tickets), firewall rule "), std::string::npos);
    host->PrepareLanTicket("t1", "s", "c");
    sv::LanTicket ticket;
    EXPECT_TRUE(host->FindLanTicket("t1", ticket));
}

TEST_F(LanWatch, RelayMessagesKeepTheirKeyOrder) {
    host->PlatformSeams().lanWatchPeriodSeconds = 3600;  // only the advertisements asked for below
    host->StartLanWithTickets(0);
    host->PrepareLanTicket("t1", "s", "c1");
    host->AdvertiseLan();
    SetAddresses({});
    host->AdvertiseLan();
    host->SendLanPath("c1", true, "192.168.1.9");
    host->SendLanPath("c1", false, "");
    std::string endpoints = host->BuildLanEndpoints();
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
