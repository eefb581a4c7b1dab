#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "session/screen/stream_rules.h"

namespace {

using nlohmann::json;

sv::StreamControlRequest Control(const char* text) { return sv::ReadStreamControl(json::parse(text)); }

TEST(StreamControlTest, FpsOutsideOneToSixtyOrNotAnIntegerIsIgnored) {
    EXPECT_FALSE(Control(R"({"fps":0})").hasFps);
    EXPECT_FALSE(Control(R"({"fps":61})").hasFps);
    EXPECT_FALSE(Control(R"({"fps":-5})").hasFps);
    EXPECT_FALSE(Control(R"({"fps":30.0})").hasFps);
    EXPECT_FALSE(Control(R"({"fps":"30"})").hasFps);
    EXPECT_FALSE(Control(R"({"fps":null})").hasFps);
    EXPECT_FALSE(Control(R"({"fps":4294967297})").hasFps);  // would be 1 if cut to 32 bits
    EXPECT_FALSE(Control(R"({"fps":18446744073709551615})").hasFps);
    auto one = Control(R"({"fps":1})");
    EXPECT_TRUE(one.hasFps);
    EXPECT_EQ(one.fps, 1);
    EXPECT_EQ(Control(R"({"fps":60})").fps, 60);
}

TEST(StreamControlTest, QualityAndMaxWidthRanges) {
    EXPECT_FALSE(Control(R"({"quality":0})").hasQuality);
    EXPECT_FALSE(Control(R"({"quality":101})").hasQuality);
    EXPECT_FALSE(Control(R"({"quality":50.5})").hasQuality);
    EXPECT_EQ(Control(R"({"quality":100})").quality, 100);
    EXPECT_EQ(Control(R"({"quality":1})").quality, 1);
    EXPECT_FALSE(Control(R"({"maxWidth":319})").hasMaxWidth);
    EXPECT_EQ(Control(R"({"maxWidth":320})").maxWidth, 320);
    EXPECT_EQ(Control(R"({"maxWidth":5000})").maxWidth, 5000);  // no upper bound here
    EXPECT_FALSE(Control(R"({"maxWidth":4294967616})").hasMaxWidth);
}

TEST(StreamControlTest, TheSwitch) {
    auto plain = Control(R"({"fps":5})");
    EXPECT_TRUE(plain.applySwitch);
    EXPECT_TRUE(plain.on);
    EXPECT_FALSE(Control(R"({"h264":true})").applySwitch);
    EXPECT_FALSE(Control(R"({"h264":false,"on":true})").applySwitch);
    auto off = Control(R"({"h264":true,"on":false})");
    EXPECT_TRUE(off.applySwitch);
    EXPECT_FALSE(off.on);
    auto offOnly = Control(R"({"on":false})");
    EXPECT_TRUE(offOnly.applySwitch);
    EXPECT_FALSE(offOnly.on);
    EXPECT_THROW(Control(R"({"on":"yes"})"), json::exception);
}

TEST(StreamPrefsTest, MaxWidthWithinThreeTwentyToThreeEightForty) {
    int32_t w = 0;
    EXPECT_FALSE(sv::ReadPrefsMaxWidth(json::parse(R"({"maxWidth":3841})"), w));
    EXPECT_FALSE(sv::ReadPrefsMaxWidth(json::parse(R"({"maxWidth":319})"), w));
    EXPECT_FALSE(sv::ReadPrefsMaxWidth(json::parse(R"({"maxWidth":1280.0})"), w));
    EXPECT_FALSE(sv::ReadPrefsMaxWidth(json::parse(R"({"tiles":true})"), w));
    ASSERT_TRUE(sv::ReadPrefsMaxWidth(json::parse(R"({"maxWidth":3840})"), w));
    EXPECT_EQ(w, 3840);
    ASSERT_TRUE(sv::ReadPrefsMaxWidth(json::parse(R"({"maxWidth":320})"), w));
    EXPECT_EQ(w, 320);
}

TEST(FrameAckTest, SeqAndSender) {
    EXPECT_EQ(sv::ReadAckSeq(json::parse(R"({"lost":true})")), 0u);
    EXPECT_EQ(sv::ReadAckSeq(json::parse(R"({"seq":4294967295})")), 4294967295u);
    // Anything but an integer that fits is ignored, never wrapped into range.
    for (const char* bad : {R"({"seq":"7"})", R"({"seq":-1})", R"({"seq":4294967296})", R"({"seq":2.5})",
                            R"({"seq":1e30})", R"({"seq":[1]})"}) {
        EXPECT_EQ(sv::ReadAckSeq(json::parse(bad)), std::nullopt) << bad;
    }
    EXPECT_EQ(sv::ControllerKey(""), "lan");
    EXPECT_EQ(sv::ControllerKey("c1"), "c1");
}

TEST(PacingTest, PeriodFromFps) {
    EXPECT_EQ(sv::PacingPeriodMs(10), 100);
    EXPECT_EQ(sv::PacingPeriodMs(60), 16);
    EXPECT_EQ(sv::PacingPeriodMs(7), 142);
    EXPECT_EQ(sv::PacingPeriodMs(1), 1000);
    EXPECT_EQ(sv::PacingPeriodMs(2), 500);
    EXPECT_EQ(sv::PacingPeriodMs(0), 1000);
    EXPECT_EQ(sv::PacingPeriodMs(-4), 1000);
}

TEST(PacingTest, SleepIsTheRestOfThePeriodOrOneMillisecond) {
    const int64_t ms = sv::kNsPerMs;
    EXPECT_EQ(sv::PacingSleepNs(10, 30 * ms), 70 * ms);
    EXPECT_EQ(sv::PacingSleepNs(10, 0), 100 * ms);
    EXPECT_EQ(sv::PacingSleepNs(10, 100 * ms), 1 * ms);
    EXPECT_EQ(sv::PacingSleepNs(10, 250 * ms), 1 * ms);
    EXPECT_EQ(sv::PacingSleepNs(10, 100 * ms - 1), 1);
    EXPECT_EQ(sv::PacingSleepNs(1, 0), 1000 * ms);
}

TEST(WholeFrameRuleTest, IdenticalFramesWaitThreeSeconds) {
    const int64_t s = 1000 * sv::kNsPerMs;
    std::vector<uint8_t> a = {1, 2, 3}, b = {1, 2, 4};
    EXPECT_FALSE(sv::ShouldSendWholeFrame(a, a, 10 * s, 10 * s));
    EXPECT_FALSE(sv::ShouldSendWholeFrame(a, a, 13 * s - 1, 10 * s));
    EXPECT_TRUE(sv::ShouldSendWholeFrame(a, a, 13 * s, 10 * s));
    EXPECT_TRUE(sv::ShouldSendWholeFrame(b, a, 10 * s, 10 * s));
    EXPECT_TRUE(sv::ShouldSendWholeFrame(a, {}, 10 * s, 10 * s));
    // A wanted keyframe goes out at once, though nothing changed on a still screen.
    EXPECT_TRUE(sv::ShouldSendWholeFrame(a, a, 10 * s, 10 * s, true));
}

TEST(FlowControlTest, LagIsTheSlowestControllers) {
    EXPECT_EQ(sv::LargestAckLag({}, 7), 0u);
    EXPECT_EQ(sv::LargestAckLag({{"a", 5}, {"b", 7}}, 7), 2u);
    EXPECT_EQ(sv::LargestAckLag({{"a", 8}}, 7), 0xFFFFFFFFu);  // ahead of the last frame
    EXPECT_EQ(sv::LargestAckLag({{"a", 0xFFFFFFFFu}}, 1), 2u);  // across the wrap
}

TEST(FlowControlTest, HoldWhileTwoBehindForAtMostTwoSeconds) {
    const int64_t s = 1000 * sv::kNsPerMs;
    std::map<std::string, uint32_t> acks = {{"a", 5}};
    EXPECT_TRUE(sv::HoldTileFrame(acks, 7, 10 * s, 9 * s));
    EXPECT_TRUE(sv::HoldTileFrame(acks, 7, 11 * s, 9 * s));  // exactly 2 s still holds
    EXPECT_FALSE(sv::HoldTileFrame(acks, 7, 11 * s + 1, 9 * s));
    acks["a"] = 6;
    EXPECT_FALSE(sv::HoldTileFrame(acks, 7, 10 * s, 9 * s));
    acks["b"] = 8;  // ahead of the last frame: a very large lag
    EXPECT_TRUE(sv::HoldTileFrame(acks, 7, 10 * s, 9 * s));
    EXPECT_FALSE(sv::HoldTileFrame({}, 100, 10 * s, 10 * s));
}

TEST(TilesModeTest, EveryWatcherMustAccept) {
    EXPECT_FALSE(sv::WantTilesMode(0, 0, 0));
    EXPECT_FALSE(sv::WantTilesMode(0, 0, 3));
    EXPECT_FALSE(sv::WantTilesMode(2, 0, 1));
    EXPECT_TRUE(sv::WantTilesMode(2, 0, 2));
    EXPECT_TRUE(sv::WantTilesMode(2, 1, 1));
    EXPECT_FALSE(sv::WantTilesMode(2, 2, 2));
    EXPECT_TRUE(sv::WantTilesMode(1, 0, 3));  // compared by length only
}

TEST(StreamMessagesTest, Texts) {
    EXPECT_EQ(sv::StreamModeMessage(true), R"({"type":"stream-mode","tiles":true})");
    EXPECT_EQ(sv::StreamModeMessage(false), R"({"type":"stream-mode","tiles":false})");
    EXPECT_EQ(sv::ResolutionMessage(1280, 720), R"({"type":"resolution","width":1280,"height":720})");
}

}  // namespace
