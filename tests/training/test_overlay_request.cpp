#include <gtest/gtest.h>

#include <climits>

#include "training/overlay_request.h"

namespace {

using nlohmann::json;
using namespace sv::training;

OverlayRequest Parse(const char* args, int32_t ox = 0, int32_t oy = 0) {
    uint32_t n = 0;
    return ParseOverlayRequest(json::parse(args), ox, oy, [&] { return ++n; });
}

TEST(OverlayRequest, RefusalSentences) {
    const char* kKind = "overlay kind must be one of: highlight, spotlight, arrow, step, stroke, ellipse, text, ghost";
    const char* kStroke = "a stroke needs at least two points [[x,y],[x,y],...]";
    const std::pair<const char*, const char*> cases[] = {
        {R"({"kind":"circle"})", kKind},
        {R"({"kind":"highlight","width":0.4,"height":10})", "highlight needs x, y, width and height (capture_screen pixels)"},
        {R"({"kind":"SpotLight","width":10,"height":"10"})", "spotlight needs x, y, width and height (capture_screen pixels)"},
        {R"({"kind":"stroke","points":[["1","2"],[3],{"x":1},null,[4,5]]})", kStroke},
        {R"({"kind":"stroke","points":{"x":1,"y":2}})", kStroke},
        {R"({"kind":"step","title":" \t\r\n"})", "a step needs a title"},
        {R"({"kind":"text","label":"  ","text":"ignored"})", "text needs a label"},
        {R"({"kind":"text","text":"Klik"})", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(Parse(c.first).error, c.second) << c.first;
}

TEST(OverlayRequest, NumbersAreRoundedClampedAndMovedByTheOriginWithoutOverflow) {
    OverlayRequest r = Parse(R"({"kind":"arrow","x":100.5,"y":-0.4,"width":10.6,"fromX":5,"fromY":"7",
        "strokeWidth":0.2,"id":7})", -1920, 30);
    const OverlayShape& s = r.shape;
    EXPECT_EQ(s.id, "7");
    EXPECT_EQ(s.x, 101 - 1920);
    EXPECT_EQ(s.y, 30);
    EXPECT_EQ(s.width, 11);
    EXPECT_EQ(s.fromX, std::optional<int32_t>(5 - 1920));
    EXPECT_FALSE(s.fromY);
    EXPECT_DOUBLE_EQ(s.strokeWidth, 1.0);
    EXPECT_TRUE(s.hasPoint);
    // The transcript keeps the trainer's own coordinates.
    EXPECT_EQ(r.transcript, json::parse(R"({"kind":"arrow","id":"7","width":11,"height":0,"x":101,"y":0})"));
    EXPECT_FALSE(Parse(R"({"kind":"ghost","x":"5"})").shape.hasPoint);
    EXPECT_DOUBLE_EQ(Parse(R"({"kind":"ghost","strokeWidth":45})").shape.strokeWidth, 30.0);

    OverlayRequest huge = Parse(R"({"kind":"arrow","x":1e300,"y":-9223372036854775808,
        "fromX":18446744073709551615})", INT_MAX, INT_MIN);
    EXPECT_EQ(huge.shape.x, INT_MAX);
    EXPECT_EQ(huge.shape.y, INT_MIN);
    EXPECT_EQ(huge.shape.fromX, std::optional<int32_t>(INT_MAX));
    OverlayRequest far = Parse(R"({"kind":"stroke","points":[[1e300,-1e300],[-5,5]]})", INT_MAX, INT_MIN);
    EXPECT_EQ(far.shape.points, (std::vector<std::pair<int32_t, int32_t>>{{INT_MAX, INT_MIN}, {INT_MAX - 5, INT_MIN + 5}}));
}

TEST(OverlayRequest, TtlMillisecondsOrSecondsClamped) {
    const std::pair<const char*, int32_t> cases[] = {
        {R"({})", 0},
        {R"({"ttlSeconds":5,"ttlMs":250})", 250},
        {R"({"ttlSeconds":7200})", 3600000},
        {R"({"ttlSeconds":0.4})", 400},  // not rounded to whole seconds first
        {R"({"ttlSeconds":-3})", 0},
        {R"({"ttlSeconds":9223372036854775807})", 3600000},
        {R"({"ttlMs":"250","ttlSeconds":2})", 2000},
    };
    for (const auto& c : cases) EXPECT_EQ(OverlayTtlMs(json::parse(c.first)), c.second) << c.first;
}

TEST(OverlayRequest, StrokesAndStepCards) {
    json many = json::array({json::array({1.9, -1.9, 99}), json{{"x", 3}, {"y", 4}}, "junk"});
    for (int i = 0; i < 2500; ++i) many.push_back(json::array({i, i}));
    uint32_t n = 0;
    OverlayRequest r = ParseOverlayRequest(json{{"kind", "stroke"}, {"points", many}}, -10, 10, [&] { return ++n; });
    ASSERT_EQ(r.shape.points.size(), kMaxStrokePoints);
    EXPECT_EQ(r.shape.points[0], std::make_pair(-9, 9));
    EXPECT_EQ(r.shape.points[1], std::make_pair(-7, 14));
    EXPECT_EQ(r.shape.id, "o1");

    json step = {{"kind", "step"}, {"title", std::string(170, 't')}, {"label", "x"}, {"index", 2},
                 {"detail", std::string(450, 'd')}};
    r = ParseOverlayRequest(step, 0, 0, [&] { return ++n; });
    EXPECT_EQ(r.shape.label, std::string(160, 't'));
    EXPECT_EQ(r.shape.detail.size(), 400u);
    EXPECT_EQ(r.transcriptKind, "step");
    EXPECT_EQ(r.transcript, (json{{"title", r.shape.label}, {"index", 2}, {"detail", r.shape.detail}}));
}

}  // namespace
