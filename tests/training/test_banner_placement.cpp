#include <gtest/gtest.h>

#include <climits>

#include "training/banner_placement.h"

namespace {

using namespace sv::training;

const Box kArea{0, 0, 1920, 1080};

TEST(BannerPlacement, CornerRectPerCornerAndUnknownNamesGoBottomRight) {
    struct Case {
        const char* corner;
        Box want;
    } cases[] = {
        {"top-left", {16, 16, 300, 200}},
        {"top-right", {1604, 16, 300, 200}},
        {"bottom-left", {16, 864, 300, 200}},
        {"bottom-right", {1604, 864, 300, 200}},
        {"Top-Left", {1604, 864, 300, 200}},
        {"", {1604, 864, 300, 200}},
    };
    for (const Case& c : cases) EXPECT_EQ(CornerRect(c.corner, kArea, 300, 200, 16), c.want) << c.corner;
    // A monitor left of the primary one, and sums that would overflow 32 bits, saturate.
    EXPECT_EQ(CornerRect("top-right", Box{-1920, -200, 1920, 1080}, 300, 200, 16), (Box{-316, -184, 300, 200}));
    EXPECT_EQ(CornerRect("bottom-right", Box{INT_MAX, INT_MAX, INT_MAX, INT_MAX}, 1, 1, 0).x, INT_MAX);
    EXPECT_EQ(CornerRect("top-left", Box{INT_MIN, 0, 10, 10}, 1, 1, -5).x, INT_MIN);
}

TEST(BannerPlacement, OverlapSumsIntersectionsAndIgnoresEmptyRectangles) {
    Box r{0, 0, 100, 100};
    EXPECT_EQ(OverlapArea(r, {}), 0);
    EXPECT_EQ(OverlapArea(r, {{50, 50, 100, 100}, {90, 0, 20, 10}}), 2500 + 100);
    EXPECT_EQ(OverlapArea(r, {{100, 0, 10, 10}}), 0);           // touching edges only
    EXPECT_EQ(OverlapArea(r, {{10, 10, 0, 50}, {10, 10, 50, -5}}), 0);
    EXPECT_EQ(OverlapArea(Box{0, 0, -1, 100}, {{0, 0, 10, 10}}), 0);
    // Huge rectangles neither overflow nor wrap.
    Box huge{INT_MIN, INT_MIN, INT_MAX, INT_MAX};
    EXPECT_EQ(OverlapArea(huge, {huge, huge}), 2 * int64_t(INT_MAX) * INT_MAX);
}

TEST(BannerPlacement, PlaceBannerPicksTheFirstFreeOrTheLeastCoveredCorner) {
    const int w = 300, h = 200, m = 16;
    auto at = [&](const char* corner) { return CornerRect(corner, kArea, w, h, m); };
    auto part = [](Box b, int64_t area) { return Box{b.x, b.y, static_cast<int32_t>(area / 10), 10}; };

    CornerPlacement p = PlaceBanner(kArea, w, h, {}, "top-left", m);
    EXPECT_EQ(p.corner, "top-left");
    EXPECT_EQ(p.overlap, 0);
    EXPECT_EQ(PlaceBanner(kArea, w, h, {}, "auto", m).corner, "bottom-right");

    p = PlaceBanner(kArea, w, h, {at("bottom-right")}, "auto", m);
    EXPECT_EQ(p.corner, "bottom-left");
    EXPECT_EQ(p.rect, at("bottom-left"));

    // Overlaps of 500, 300, 300 and 700 in table order: the first of the equal minima wins.
    std::vector<Box> shapes = {part(at("bottom-right"), 500), part(at("bottom-left"), 300),
                               part(at("top-right"), 300), part(at("top-left"), 700)};
    p = PlaceBanner(kArea, w, h, shapes, "auto", m);
    EXPECT_EQ(p.corner, "bottom-left");
    EXPECT_EQ(p.overlap, 300);
    // A preferred corner is tried first, and kept on a tie.
    EXPECT_EQ(PlaceBanner(kArea, w, h, shapes, "top-right", m).corner, "top-right");
    // A banner with no size covers nothing.
    EXPECT_EQ(PlaceBanner(kArea, 0, h, shapes, "top-left", m).corner, "top-left");
}

TEST(BannerPlacement, FitSpan) {
    struct Case {
        int32_t total, used, preferred, minimum, margin;
        std::optional<int32_t> want;
    } cases[] = {
        {800, 500, 240, 120, 16, 240},
        {800, 700, 240, 120, 16, std::nullopt},
        {800, 600, 240, 120, 16, 184},
        {800, 664, 240, 120, 16, 120},
        {INT_MIN, INT_MAX, 10, 0, INT_MAX, std::nullopt},  // would wrap in 32 bits
        {INT_MAX, INT_MIN, 10, 0, INT_MIN, 10},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FitSpan(c.total, c.used, c.preferred, c.minimum, c.margin), c.want) << c.total << " " << c.used;
    }
}

TEST(BannerPlacement, PositionArgumentAndAuditDetail) {
    EXPECT_EQ(ParseBannerPosition(std::string(" \tTop-Left\r\n")).position, std::optional<std::string>("top-left"));
    EXPECT_EQ(ParseBannerPosition(std::string("AUTO")).position, std::optional<std::string>("auto"));
    EXPECT_FALSE(ParseBannerPosition(std::nullopt).position);
    EXPECT_TRUE(ParseBannerPosition(std::nullopt).error.empty());
    for (const char* bad : {"top", "top left", "", "center"}) {
        EXPECT_EQ(ParseBannerPosition(std::string(bad)).error,
                  "position must be top-left, top-right, bottom-left, bottom-right or auto")
            << bad;
    }
    BannerPlacement p;
    p.corner = "top-right";
    p.compact = true;
    EXPECT_EQ(BannerAuditDetail(std::string("auto"), false, p), "banner position=auto compact=False -> top-right compact=True");
    p.corner.clear();
    p.compact = false;
    EXPECT_EQ(BannerAuditDetail(std::nullopt, std::nullopt, p), "banner position=- compact=- -> dragged compact=False");
}

}  // namespace
