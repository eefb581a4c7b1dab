#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "session/screen/screen_capture.h"
#include "training/win32/overlay_painter.h"

namespace {

using namespace sv::training;

constexpr int kWidth = 400;
constexpr int kHeight = 300;

struct Canvas {
    std::vector<uint32_t> pixels = std::vector<uint32_t>(kWidth * kHeight, 0);
    uint32_t At(int x, int y) const { return pixels[y * kWidth + x]; }
};

OverlayShape Shape(const std::string& kind, int32_t x, int32_t y, int32_t w = 0, int32_t h = 0) {
    OverlayShape s;
    s.id = kind;
    s.kind = kind;
    s.x = x;
    s.y = y;
    s.width = w;
    s.height = h;
    return s;
}

uint32_t Alpha(uint32_t argb) { return argb >> 24; }

// Each shape alone on a 400 × 300 canvas whose monitor sits at (1000, 0): pixels are
// premultiplied ARGB, covered rectangles come back in desktop pixels.
TEST(OverlayPainter, EveryKindOnItsCanvas) {
    ASSERT_TRUE(sv::StartGdiplus());
    const int32_t ox = 1000;
    OverlayShape arrow = Shape("arrow", ox + 200, 150);
    arrow.fromX = ox + 50;
    arrow.fromY = 100;
    OverlayShape stroke = Shape("stroke", 0, 0);
    stroke.points = {{ox + 10, 200}, {ox + 100, 200}};
    OverlayShape dot = Shape("stroke", 0, 0);
    dot.points = {{ox + 10, 200}};
    OverlayShape text = Shape("text", ox + 20, 250);
    text.label = "hi";
    OverlayShape step = Shape("step", 0, 0);
    step.index = 1;
    OverlayShape stepElsewhere = step;
    stepElsewhere.hasPoint = true;
    stepElsewhere.x = 5000;
    OverlayShape highlight = Shape("highlight", ox + 50, 50, 100, 40);
    highlight.color = "#ff0000";
    struct Case {
        const char* what;
        OverlayShape shape;
        std::vector<Box> covered;
        std::function<void(const Canvas&)> check;
    } cases[] = {
        {"highlight", highlight, {{ox + 44, 44, 112, 52}},
         [](const Canvas& c) {
             EXPECT_EQ(c.At(45, 70), 0xFFFF0000u);     // the outline, opaque
             EXPECT_LT(Alpha(c.At(100, 70)), 0x40u);   // the inside only tinted
             EXPECT_EQ(c.At(300, 200), 0u);
         }},
        {"spotlight", Shape("spotlight", ox + 100, 100, 50, 50), {{ox + 94, 94, 62, 62}},
         [](const Canvas& c) {
             EXPECT_EQ(c.At(10, 10), 0x99000000u);      // dimmed outside the hole
             EXPECT_LT(Alpha(c.At(125, 125)), 0x99u);   // the hole stays clear
         }},
        {"arrow", arrow, {{ox + 50, 100, 150, 50}},
         [](const Canvas& c) {
             EXPECT_EQ(c.At(100, 117), 0xFFF59E0Bu);   // on the shaft, default amber
             EXPECT_EQ(c.At(300, 50), 0u);
         }},
        {"stroke", stroke, {}, [](const Canvas& c) { EXPECT_EQ(c.At(50, 200), 0xFFEF4444u); }},
        {"stroke of one point", dot, {}, [](const Canvas& c) { EXPECT_EQ(c.At(10, 200), 0u); }},
        {"ellipse", Shape("ellipse", ox + 250, 50, 60, 40), {{ox + 246, 46, 68, 48}},
         [](const Canvas& c) { EXPECT_EQ(c.At(247, 70), 0xFFEF4444u); }},
        {"ghost", Shape("ghost", ox + 300, 200), {},
         [](const Canvas& c) {
             EXPECT_EQ(c.At(300, 200), 0xFF2563EBu);
             EXPECT_EQ(Alpha(c.At(300, 188)), 0x33u);  // the translucent disc
         }},
        {"unlisted kind", Shape("blob", ox + 10, 10, 100, 100), {},
         [](const Canvas& c) {
             for (uint32_t p : c.pixels) ASSERT_EQ(p, 0u);
         }},
        {"step card elsewhere", stepElsewhere, {},
         [](const Canvas& c) {
             for (uint32_t p : c.pixels) ASSERT_EQ(p, 0u);
         }},
    };
    MonitorArea monitor{{ox, 0, ox + kWidth, kHeight}, {ox, 0, ox + kWidth, kHeight}, true};
    MonitorArea other{{ox + kWidth, 0, ox + 2 * kWidth, kHeight}, {ox + kWidth, 0, ox + 2 * kWidth, kHeight}, false};
    OverlayCanvas canvas;
    canvas.monitor = monitor;
    canvas.monitors = {monitor, other};
    canvas.bannerMonitor = monitor;
    for (const Case& c : cases) {
        Canvas out;
        std::vector<Box> covered;
        PaintOverlayShapes(reinterpret_cast<uint8_t*>(out.pixels.data()), canvas, {&c.shape}, covered);
        SCOPED_TRACE(c.what);
        if (std::string(c.what) != "ghost") {
            EXPECT_EQ(covered, c.covered);
        }
        c.check(out);
    }

    // Labels and the step card depend on the fonts at hand; their place does not.
    for (const OverlayShape& shape : {text, step, Shape("ghost", ox + 300, 200)}) {
        Canvas out;
        std::vector<Box> covered;
        PaintOverlayShapes(reinterpret_cast<uint8_t*>(out.pixels.data()), canvas, {&shape}, covered);
        SCOPED_TRACE(shape.kind);
        ASSERT_EQ(covered.size(), 1u);
        const Box& b = covered[0];
        if (shape.kind == "text") {
            EXPECT_EQ(b.x, ox + 20);
            EXPECT_EQ(b.y, 250);
            EXPECT_EQ(out.At(32, 252), 0xFFF59E0Bu);  // the pill, opaque amber
        } else if (shape.kind == "ghost") {
            EXPECT_EQ(b.x, ox + 328);  // its default label beside the marker
        } else {
            EXPECT_NEAR(b.x + b.width / 2.0, ox + kWidth / 2.0, 1.0);  // centred
            EXPECT_EQ(b.y, 24);
            EXPECT_EQ(out.At(b.x - ox + b.width / 2, b.y + b.height - 4), 0xFFFFFFFFu);  // the card's surface
        }
    }
}

}  // namespace
