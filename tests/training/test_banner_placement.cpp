#include <gtest/gtest.h>

#include <climits>

#include "training/banner_placement.h"

namespace {

using namespace sv::training;

const Box kArea{0, 0, 1920, 1080};

TEST(BannerPlacement, CornerRectsSaturateAndUnknownNamesGoBottomRight) {
    EXPECT_EQ(CornerRect("top-right", kArea, 300, 200, 16), (Box{1604, 16, 300, 200}));
    EXPECT_EQ(CornerRect("bottom-left", kArea, 300, 200, 16), (Box{16, 864, 300, 200}));
    EXPECT_EQ(CornerRect("Top-Left", kArea, 300, 200, 16), (Box{1604, 864, 300, 200}));
    EXPECT_EQ(CornerRect("top-left", Box{-1920, -200, 1920, 1080}, 300, 200, 16), (Box{-1904, -184, 300, 200}));
    EXPECT_EQ(CornerRect("bottom-right", Box{INT_MAX, INT_MAX, INT_MAX, INT_MAX}, 1, 1, 0).x, INT_MAX);
    EXPECT_EQ(CornerRect("top-left", Box{INT_MIN, 0, 10, 10}, 1, 1, -5).x, INT_MIN);
    Box huge{INT_MIN, INT_MIN, INT_MAX, INT_MAX};
    EXPECT_EQ(OverlapArea(huge, {huge, huge, {0, 0, 0, 5}}), 2 * int64_t(INT_MAX) * INT_MAX);
}

TEST(BannerPlacement, PlaceBannerPicksTheFirstFreeOrTheLeastCoveredCorner) {
    auto at = [](const char* corner) { return CornerRect(corner, kArea, 300, 200, 16); };
    auto part = [](Box b, int32_t area) { return Box{b.x, b.y, area / 10, 10}; };
    EXPECT_EQ(PlaceBanner(kArea, 300, 200, {}, "top-left", 16).corner, "top-left");
    EXPECT_EQ(PlaceBanner(kArea, 300, 200, {}, "auto", 16).corner, "bottom-right");
    CornerPlacement p = PlaceBanner(kArea, 300, 200, {at("bottom-right")}, "auto", 16);
    EXPECT_EQ(p.corner, "bottom-left");
    EXPECT_EQ(p.rect, at("bottom-left"));
    // Overlaps of 500, 300, 300 and 700 in table order: the first of the equal minima wins,
    // unless a preferred corner ties with it.
    std::vector<Box> shapes = {part(at("bottom-right"), 500), part(at("bottom-left"), 300),
                               part(at("top-right"), 300), part(at("top-left"), 700)};
    p = PlaceBanner(kArea, 300, 200, shapes, "auto", 16);
    EXPECT_EQ(p.corner, "bottom-left");
    EXPECT_EQ(p.overlap, 300);
    EXPECT_EQ(PlaceBanner(kArea, 300, 200, shapes, "top-right", 16).corner, "top-right");
}

TEST(BannerPlacement, FitSpanAndPositionArgument) {
    EXPECT_EQ(FitSpan(800, 500, 240, 120, 16), std::optional<int32_t>(240));
    EXPECT_EQ(FitSpan(800, 600, 240, 120, 16), std::optional<int32_t>(184));
    EXPECT_EQ(FitSpan(800, 700, 240, 120, 16), std::nullopt);
    EXPECT_EQ(FitSpan(INT_MIN, INT_MAX, 10, 0, INT_MAX), std::nullopt);  // would wrap in 32 bits
    EXPECT_EQ(ParseBannerPosition(std::string(" \tTop-Left\r\n")).position, std::optional<std::string>("top-left"));
    EXPECT_EQ(ParseBannerPosition(std::string("top left")).error,
              "position must be top-left, top-right, bottom-left, bottom-right or auto");
}

}  // namespace
