#include "session/lan/lan_channels.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "net/lan_test_support.h"

namespace {

const std::vector<uint8_t> kKey(32, 0x11);

struct Peer {
    sv_test::SocketPair pair;
    std::unique_ptr<sv::SecureChannel> client;
    std::unique_ptr<sv::SecureChannel> host;
    Peer() {
        client = std::make_unique<sv::SecureChannel>(pair.ReleaseB(), kKey, sv::kRoleClient);
        host = std::make_unique<sv::SecureChannel>(pair.ReleaseA(), kKey, sv::kRoleHost);
    }
};

TEST(LanChannelSet, RemovalHandsEachChannelBackOnceWithItsBinding) {
    sv::LanChannelSet set;
    Peer a, b;
    sv::SecureChannel* ca = set.Add(std::move(a.host), {"c1", 0});
    sv::SecureChannel* cb = set.Add(std::move(b.host), {"", 7});
    EXPECT_EQ(set.Size(), 2u);
    EXPECT_EQ(set.BoundIds(), std::vector<std::string>{"c1"});
    sv::LanChannelSet::Binding binding;
    std::unique_ptr<sv::SecureChannel> back = set.Remove(cb, binding);
    ASSERT_TRUE(back);
    EXPECT_EQ(binding.controllerId, "");
    EXPECT_EQ(binding.pass, 7u);
    EXPECT_FALSE(set.Remove(cb, binding));  // a second close finds nothing to free
    EXPECT_EQ(set.Size(), 1u);
    EXPECT_TRUE(set.Remove(ca, binding));
    EXPECT_EQ(binding.controllerId, "c1");
    EXPECT_FALSE(set.SendToAll({1}, 1));  // no channel: nothing was delivered
}

TEST(LanChannelSet, RevocationShutsOnlyThatControllersChannels) {
    sv::LanChannelSet set;
    Peer a, b, c;
    sv::SecureChannel* ca = set.Add(std::move(a.host), {"c1", 0});
    sv::SecureChannel* cb = set.Add(std::move(b.host), {"c2", 0});
    sv::SecureChannel* cc = set.Add(std::move(c.host), {"", 1});
    set.ShutdownBoundTo("c1");
    set.ShutdownBoundTo("");  // an empty id names no controller
    set.ShutdownPeersOutside(1);  // the password-mode peer of pass 1 still counts
    EXPECT_TRUE(ca->IsDead());
    EXPECT_FALSE(cb->IsDead());
    EXPECT_FALSE(cc->IsDead());
    // One dead channel makes the fan-out report failure; the others still get it.
    EXPECT_FALSE(set.SendToAll({1, 2}, 1));
    std::vector<uint8_t> payload;
    bool binary = false;
    sv_test::SetReceiveTimeout(b.client->Socket(), 5000);
    ASSERT_TRUE(b.client->ReceiveFrame(payload, binary));
    EXPECT_TRUE(binary);
    EXPECT_EQ(payload, (std::vector<uint8_t>{1, 2}));
    set.ShutdownPeersOutside(2);  // a new pass: the old peer goes, the bound channel stays
    EXPECT_TRUE(cc->IsDead());
    EXPECT_FALSE(cb->IsDead());
    set.ShutdownAll();
    EXPECT_TRUE(cb->IsDead());
}

}  // namespace
