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

}  // namespace
}  // namespace sv
