#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/lan_addresses.h"

namespace sv {
namespace {

TEST(LanAddresses, PrivateRanges) {
    EXPECT_TRUE(IsPrivateIPv4("10.1.2.3"));
    EXPECT_TRUE(IsPrivateIPv4("172.16.0.1"));
    EXPECT_TRUE(IsPrivateIPv4("172.31.255.255"));
    EXPECT_FALSE(IsPrivateIPv4("172.32.0.5"));
    EXPECT_FALSE(IsPrivateIPv4("172.15.0.5"));
    EXPECT_TRUE(IsPrivateIPv4("192.168.1.9"));
    EXPECT_FALSE(IsPrivateIPv4("192.169.1.9"));
    EXPECT_TRUE(IsPrivateIPv4("169.254.3.4"));
    EXPECT_FALSE(IsPrivateIPv4("127.0.0.1"));
    EXPECT_FALSE(IsPrivateIPv4("8.8.8.8"));
    EXPECT_FALSE(IsPrivateIPv4("10.1.2"));
    EXPECT_FALSE(IsPrivateIPv4("10.1.2.3.4"));
    EXPECT_FALSE(IsPrivateIPv4("10.1.2.256"));
    EXPECT_FALSE(IsPrivateIPv4("10.1.2.3x"));
    EXPECT_FALSE(IsPrivateIPv4(""));
}

TEST(LanAddresses, TicketModeListensOnPrivateAddressesAndLoopback) {
    std::vector<std::string> machine = {"10.1.2.3", "172.32.0.5", "192.168.1.9", "10.1.2.3"};
    EXPECT_EQ(TicketListenAddresses(machine), (std::vector<std::string>{"10.1.2.3", "192.168.1.9", "127.0.0.1"}));
    EXPECT_EQ(SelectPrivateAddresses(machine), (std::vector<std::string>{"10.1.2.3", "192.168.1.9"}));
    EXPECT_EQ(AppendLoopback(machine).back(), "127.0.0.1");
    EXPECT_EQ(AppendLoopback(machine).size(), 5u);  // duplicates kept in the full list
    EXPECT_EQ(AppendLoopback({}), (std::vector<std::string>{"127.0.0.1"}));
}

// Every source a local user can pick counts as one peer; other machines count apart.
TEST(LanAddresses, ConnectionsFromThisMachineAreOnePeer) {
    const std::vector<std::string> own = {"192.168.1.9", "10.0.0.7"};
    struct Case {
        const char* address;
        const char* key;
    };
    const Case cases[] = {
        {"127.0.0.1", kLocalPeer},      {"127.0.0.2", kLocalPeer},         {"127.255.255.254", kLocalPeer},
        {"::1", kLocalPeer},            {"::ffff:127.9.8.7", kLocalPeer},  {"::FFFF:127.0.0.1", kLocalPeer},
        {"192.168.1.9", kLocalPeer},    {"10.0.0.7", kLocalPeer},          {"::ffff:10.0.0.7", kLocalPeer},
        {"192.168.1.10", "192.168.1.10"}, {"126.0.0.1", "126.0.0.1"},      {"128.0.0.1", "128.0.0.1"},
        {"127.0.0.256", "127.0.0.256"}, {"1127.0.0.1", "1127.0.0.1"},      {"::2", "::2"},
        {"unknown", "unknown"},         {"", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(LanPeerKey(c.address, own), c.key) << c.address;
    EXPECT_EQ(LanPeerKey("192.168.1.9", {}), "192.168.1.9");
    EXPECT_EQ(LanPeerKey("", {""}), "");  // an empty own address matches nothing
}

}  // namespace
}  // namespace sv
