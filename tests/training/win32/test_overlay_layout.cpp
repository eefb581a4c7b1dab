#include <gtest/gtest.h>

#include "training/win32/overlay_layout.h"

namespace {

using namespace sv::training;

const MonitorArea kLeft{{0, 0, 1280, 720}, {0, 0, 1280, 680}, true};
const MonitorArea kRight{{1280, -200, 2560, 824}, {1280, -160, 2560, 824}, false};

OverlayShape Shape(const std::string& kind, int32_t x, int32_t y, int32_t w = 0, int32_t h = 0) {
    OverlayShape s;
    s.kind = kind;
    s.x = x;
    s.y = y;
    s.width = w;
    s.height = h;
    return s;
}

TEST(OverlayLayout, DrawOrderDimsFirstAndKeepsInsertionOrder) {
    std::vector<OverlayShape> shapes = {Shape("step", 0, 0), Shape("highlight", 0, 0), Shape("spotlight", 0, 0),
                                        Shape("ghost", 0, 0), Shape("arrow", 0, 0)};
    EXPECT_EQ(ShapeDrawOrder(shapes), (std::vector<size_t>{2, 1, 4, 0, 3}));
}

TEST(OverlayLayout, WhichMonitorsPaintAShape) {
    OverlayShape stroke = Shape("highlight", 5000, 5000, 10, 10);
    stroke.points = {{100, 100}, {1300, 200}};  // points decide the extent, whatever the kind
    struct Case {
        const char* what;
        OverlayShape shape;
        bool left, right;
    } cases[] = {
        {"straddles the edge", Shape("highlight", 1270, 10, 20, 20), true, true},
        {"starts on the right", Shape("highlight", 1280, 10, 20, 20), false, true},
        {"zero width is one pixel", Shape("ellipse", 1279, 10, 0, 0), true, false},
        {"an arrow is its tip", Shape("arrow", 1279, 10, 500, 500), true, false},
        {"points", stroke, true, true},
        {"a step card decides later", Shape("step", -9999, -9999), true, true},
        {"spotlight dims across the edge", Shape("spotlight", 1230, 100, 60, 60), true, true},
        {"spotlight hole within the right", Shape("spotlight", 1400, 100, 60, 60), false, true},
        {"nowhere", Shape("text", -500, -500, 10, 10), false, false},
        {"huge numbers do not wrap", Shape("highlight", 2147483600, 0, 2147483600, 10), false, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ShapeTouchesMonitor(c.shape, kLeft.monitor), c.left) << c.what;
        EXPECT_EQ(ShapeTouchesMonitor(c.shape, kRight.monitor), c.right) << c.what;
    }
    // The ring of a straddling spotlight belongs to its centre's monitor only.
    OverlayShape spot = Shape("spotlight", 1230, 100, 60, 60);
    EXPECT_TRUE(ShapeCentreOn(spot, kLeft.monitor));
    EXPECT_FALSE(ShapeCentreOn(spot, kRight.monitor));
}

TEST(OverlayLayout, NearestMonitor) {
    std::vector<MonitorArea> both = {kLeft, kRight};
    struct Case {
        int32_t x, y;
        int32_t wantLeft;
    } cases[] = {{1500, 0, 1280}, {3000, 100, 1280}, {-50, -50, 0}, {1279, 719, 0}, {1280, 800, 1280}};
    for (const Case& c : cases) {
        auto m = NearestMonitor(both, c.x, c.y);
        ASSERT_TRUE(m.has_value());
        EXPECT_EQ(m->monitor.left, c.wantLeft) << c.x << "," << c.y;
    }
    EXPECT_FALSE(NearestMonitor({}, 0, 0).has_value());
}

TEST(OverlayLayout, ArrowTailAndHead) {
    struct Case {
        int32_t x, y;
        std::optional<int32_t> fromX, fromY;
        int32_t originX;
        float tailX, tailY;
    } cases[] = {
        {100, 100, {}, {}, 0, 250, 210},
        {300, 300, {}, {}, 0, 150, 190},
        {1380, 100, {}, {}, 1280, 250, 210},  // measured on the canvas of its monitor
        {300, 300, 10, {}, 0, 150, 190},      // one coordinate of the tail is not a tail
        {300, 300, 10, 20, 0, 10, 20},
    };
    for (const Case& c : cases) {
        OverlayShape s = Shape("arrow", c.x, c.y);
        s.fromX = c.fromX;
        s.fromY = c.fromY;
        auto a = LayoutArrow(s, c.originX, 0);
        ASSERT_TRUE(a.has_value());
        EXPECT_FLOAT_EQ(a->tail.x, c.tailX);
        EXPECT_FLOAT_EQ(a->tail.y, c.tailY);
    }
    OverlayShape flat = Shape("arrow", 100, 0);
    flat.fromX = 0;
    flat.fromY = 0;
    auto a = LayoutArrow(flat, 0, 0);
    ASSERT_TRUE(a.has_value());
    EXPECT_NEAR(a->shaftEnd.x, 86.8f, 1e-4);
    EXPECT_NEAR(a->headLeft.x, 78.0f, 1e-4);
    EXPECT_NEAR(a->headLeft.y, 15.4f, 1e-4);
    EXPECT_NEAR(a->headRight.y, -15.4f, 1e-4);
    OverlayShape still = Shape("arrow", 40, 40);
    still.fromX = 40;
    still.fromY = 40;
    EXPECT_FALSE(LayoutArrow(still, 0, 0).has_value());
}

TEST(OverlayLayout, LabelsStayOnTheCanvas) {
    struct Case {
        PointF at;
        bool centred;
        uint32_t dpi;
        RectF want;
    } cases[] = {
        {{1270, 100}, false, 96, {1152, 100, 124, 32}},  // ends 4 pixels inside the right edge
        {{50, 50}, true, 96, {4, 34, 124, 32}},
        {{600, 900}, false, 96, {600, 684, 124, 32}},
        {{10, 10}, false, 144, {10, 10, 136, 38}},       // padding grows with the dpi
    };
    for (const Case& c : cases) {
        RectF box = PlaceLabelBox(c.at, 100, 20, c.centred, c.dpi, 1280, 720);
        EXPECT_FLOAT_EQ(box.x, c.want.x);
        EXPECT_FLOAT_EQ(box.y, c.want.y);
        EXPECT_FLOAT_EQ(box.width, c.want.width);
        EXPECT_FLOAT_EQ(box.height, c.want.height);
    }
    // A pill wider than the canvas starts at 4.
    EXPECT_FLOAT_EQ(PlaceLabelBox({500, 10}, 2000, 20, false, 96, 1280, 720).x, 4);
    // Ring labels go above when there is room, else below.
    EXPECT_FLOAT_EQ(RingLabelAnchor(HighlightRing(100, 100, 50, 20)).y, 52);
    EXPECT_FLOAT_EQ(RingLabelAnchor(HighlightRing(100, 40, 50, 20)).y, 34 + 32 + 8);
}

TEST(OverlayLayout, SmallPieces) {
    EXPECT_FALSE(CoveredBox({1, 1, 20, 0}, 0, 0).has_value());
    auto box = CoveredBox({-6.5f, 10.2f, 20.1f, 5.5f}, 1280, -200);
    ASSERT_TRUE(box.has_value());
    EXPECT_EQ(*box, (Box{1273, -190, 21, 6}));
    EXPECT_EQ(StepCardCaption(std::nullopt, 5), "");
    EXPECT_EQ(StepCardCaption(2, std::nullopt), "Langkah 2");
    EXPECT_EQ(StepCardCaption(2, 5), "Langkah 2 dari 5");
}

TEST(OverlayLayout, StepCardPlacement) {
    StepCardTexts texts;
    texts.captionWidth = 80, texts.captionHeight = 20;
    texts.titleWidth = 300, texts.titleHeight = 36;
    struct Case {
        MonitorArea monitor;
        const char* position;
        float y;
    } cases[] = {
        {kLeft, "bottom", 680 - 92 - 24},  // above the work area's bottom
        {kLeft, "middle", (720 - 92) / 2.0f},
        {kLeft, "top", 24},
        {kRight, "", 24 + 40},             // below a work area that starts lower
    };
    for (const Case& c : cases) {
        StepCardLayout l = LayoutStepCard(texts, c.monitor, c.position, 96);
        EXPECT_FLOAT_EQ(l.card.width, 346) << c.position;
        EXPECT_FLOAT_EQ(l.card.height, 92) << c.position;
        EXPECT_FLOAT_EQ(l.card.x, 467) << c.position;
        EXPECT_FLOAT_EQ(l.card.y, c.y) << c.position;
        EXPECT_FLOAT_EQ(l.titleY, l.card.y + 16 + 20 + 2) << c.position;
    }
    texts.titleWidth = 2000;
    texts.detailWidth = 10, texts.detailHeight = 24;
    StepCardLayout wide = LayoutStepCard(texts, kLeft, "top", 96);
    EXPECT_FLOAT_EQ(wide.card.width, 560);
    EXPECT_FLOAT_EQ(wide.card.height, 92 + 6 + 24);
    EXPECT_FLOAT_EQ(wide.detailY, wide.titleY + 36 + 6);
    EXPECT_FLOAT_EQ(StepCardTextLimit(1280, 96), 560 - 44);
}

}  // namespace
