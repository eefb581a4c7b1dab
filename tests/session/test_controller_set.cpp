#include "session/controller_set.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace {

using Acks = std::map<std::string, uint32_t>;

TEST(ControllerSet, RecordsAreKeptOnlyForControllersInTheSet) {
    sv::ControllerSet set;
    ASSERT_TRUE(set.Join("c1"));
    EXPECT_FALSE(set.Join("c1"));  // repeated
    EXPECT_FALSE(set.Join(""));
    // Senders outside the set (a stranger, "lan" without a password-mode peer) leave nothing.
    for (const char* key : {"ghost", "lan", ""}) {
        SCOPED_TRACE(key);
        EXPECT_FALSE(set.SetTiles(key, true));
        EXPECT_FALSE(set.RecordAck(key, 9));
        EXPECT_FALSE(set.IsKnown(key));
    }
    EXPECT_TRUE(set.RecordAck("c1", 4));
    EXPECT_EQ(set.Acks(), (Acks{{"c1", 4}}));
    set.ClearAcks();
    EXPECT_TRUE(set.Acks().empty());
}

TEST(ControllerSet, ALeaversRecordsGoWithIt) {
    sv::ControllerSet set;
    set.Join("c1");
    set.Join("c2");
    set.SetTiles("c1", true);
    set.RecordAck("c1", 7);
    ASSERT_TRUE(set.Leave("c1"));
    EXPECT_FALSE(set.Leave("c1"));
    // A message handled after the leave cannot bring the records back.
    EXPECT_FALSE(set.SetTiles("c1", true));
    EXPECT_FALSE(set.RecordAck("c1", 8));
    EXPECT_TRUE(set.Acks().empty());
    EXPECT_FALSE(set.WantTiles());  // c2 alone watches and never accepted tiles
    // Rejoining starts afresh.
    set.Join("c1");
    set.Leave("c2");
    EXPECT_FALSE(set.WantTiles());
}

TEST(ControllerSet, PasswordPeersShareLanAndTheirRecordEndsWithTheLast) {
    sv::ControllerSet set;
    const uint64_t pass = set.JoinLanPeer();
    set.JoinLanPeer();
    EXPECT_EQ(set.Count(), 2);
    EXPECT_TRUE(set.IsKnown(sv::kLanPeerKey));
    EXPECT_TRUE(set.SetTiles(sv::kLanPeerKey, true));
    EXPECT_TRUE(set.RecordAck(sv::kLanPeerKey, 3));
    EXPECT_TRUE(set.LeaveLanPeer(pass));
    EXPECT_EQ(set.Acks(), (Acks{{"lan", 3}}));
    EXPECT_TRUE(set.LeaveLanPeer(pass));
    EXPECT_FALSE(set.LeaveLanPeer(pass));  // none left: no underflow
    EXPECT_FALSE(set.IsKnown(sv::kLanPeerKey));
    EXPECT_TRUE(set.Acks().empty());
    set.JoinLanPeer();
    EXPECT_FALSE(set.WantTiles());  // the new peer did not inherit the old preference
}

TEST(ControllerSet, ALateLeaveFromAnEndedPassCountsNothing) {
    sv::ControllerSet set;
    const uint64_t old = set.JoinLanPeer();
    set.Clear();  // the relay pass ended
    const uint64_t now = set.JoinLanPeer();
    set.Join("c1");
    EXPECT_NE(old, now);
    EXPECT_FALSE(set.LeaveLanPeer(old));
    EXPECT_EQ(set.Count(), 2);
    EXPECT_TRUE(set.LeaveLanPeer(now));
    EXPECT_EQ(set.Count(), 1);
}

TEST(ControllerSet, StreamOffNeverExceedsTheControllers) {
    sv::ControllerSet set;
    set.SwitchStream(false);  // nobody to switch off
    EXPECT_EQ(set.Watching(), 0);
    set.Join("a");
    set.Join("b");
    set.SwitchStream(false);
    set.SwitchStream(false);
    set.SwitchStream(false);
    EXPECT_EQ(set.Watching(), 0);
    set.Leave("a");
    EXPECT_EQ(set.Count(), 1);
    EXPECT_EQ(set.Watching(), 0);
    set.SwitchStream(true);
    EXPECT_EQ(set.Watching(), 1);
}

// The rule itself is tested beside it (AllControllersOnLan); here only what the set gives
// it: its relay ids, and a password peer counted without an id.
TEST(ControllerSet, AllOnLanCountsTheRelayIdsAndThePasswordPeer) {
    sv::ControllerSet set;
    EXPECT_FALSE(set.HasRelayControllers());
    set.Join("a");
    EXPECT_TRUE(set.HasRelayControllers());
    EXPECT_TRUE(set.AllOnLan({"a"}));
    set.JoinLanPeer();
    EXPECT_FALSE(set.AllOnLan({"a"}));
}

}  // namespace
