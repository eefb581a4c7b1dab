#include <gtest/gtest.h>

#include <climits>

#include "training/overlay_request.h"

namespace {

using nlohmann::json;
using namespace sv::training;

OverlayRequest Parse(const json& args, int32_t ox = 0, int32_t oy = 0) {
    uint32_t n = 0;
    return ParseOverlayRequest(args, ox, oy, [&] { return ++n; });
}

TEST(OverlayRequest, RefusalSentences) {
    struct Case {
        const char* args;
        const char* error;
    } cases[] = {
        {R"({})", "overlay kind must be one of: highlight, spotlight, arrow, step, stroke, ellipse, text, ghost"},
        {R"({"kind":"circle"})", "overlay kind must be one of: highlight, spotlight, arrow, step, stroke, ellipse, text, ghost"},
        {R"({"kind":"highlight","width":0.4,"height":10})", "highlight needs x, y, width and height (capture_screen pixels)"},
        {R"({"kind":"SpotLight","width":10})", "spotlight needs x, y, width and height (capture_screen pixels)"},
        {R"({"kind":"ellipse","width":"10","height":10})", "ellipse needs x, y, width and height (capture_screen pixels)"},
        {R"({"kind":"ellipse","width":-5,"height":10})", "ellipse needs x, y, width and height (capture_screen pixels)"},
        {R"({"kind":"stroke","points":[["1","2"],[3],{"x":1},null,[4,5]]})", "a stroke needs at least two points [[x,y],[x,y],...]"},
        {R"({"kind":"stroke","points":{"x":1,"y":2}})", "a stroke needs at least two points [[x,y],[x,y],...]"},
        {R"({"kind":"step","title":" \t\r\n"})", "a step needs a title"},
        {R"({"kind":"step"})", "a step needs a title"},
        {R"({"kind":"text","label":"  "})", "text needs a label"},
        {R"({"kind":"text"})", "text needs a label"},
    };
    for (const Case& c : cases) EXPECT_EQ(Parse(json::parse(c.args)).error, c.error) << c.args;
    // Whatever the shape needs, "label" absent falls back to "text".
    EXPECT_EQ(Parse(json::parse(R"({"kind":"text","text":"Klik"})")).shape.label, "Klik");
    EXPECT_EQ(Parse(json::parse(R"({"kind":"arrow"})")).error, "");
}

TEST(OverlayRequest, IdsAreGeneratedOnlyWhenAbsentAndAfterTheKindIsAccepted) {
    uint32_t n = 0;
    auto next = [&] { return ++n; };
    EXPECT_FALSE(ParseOverlayRequest(json{{"kind", "nope"}}, 0, 0, next).error.empty());
    EXPECT_EQ(n, 0u);
    EXPECT_FALSE(ParseOverlayRequest(json{{"kind", "highlight"}}, 0, 0, next).error.empty());
    EXPECT_EQ(ParseOverlayRequest(json{{"kind", "ghost"}}, 0, 0, next).shape.id, "o2");
    EXPECT_EQ(ParseOverlayRequest(json{{"kind", "ghost"}, {"id", 7}}, 0, 0, next).shape.id, "7");
    EXPECT_EQ(ParseOverlayRequest(json{{"kind", "ghost"}, {"id", std::string(50, 'x')}}, 0, 0, next).shape.id,
              std::string(40, 'x'));
    EXPECT_EQ(n, 2u);
}

TEST(OverlayRequest, NumbersAreRoundedClampedAndMovedByTheOrigin) {
    json args = {{"kind", "Highlight"}, {"x", 100.5},       {"y", -0.4},         {"width", 10.6}, {"height", 20},
                 {"fromX", 5},          {"fromY", "7"},     {"strokeWidth", 0.2}, {"ttlSeconds", 5}, {"ttlMs", 250},
                 {"index", 2},          {"color", "#ff0000"}, {"position", "above"}};
    OverlayRequest r = Parse(args, -1920, 30);
    ASSERT_EQ(r.error, "");
    const OverlayShape& s = r.shape;
    EXPECT_EQ(s.kind, "highlight");
    EXPECT_EQ(s.x, 101 - 1920);
    EXPECT_EQ(s.y, 30);
    EXPECT_EQ(s.width, 11);
    EXPECT_EQ(s.height, 20);
    EXPECT_EQ(s.fromX, std::optional<int32_t>(5 - 1920));
    EXPECT_FALSE(s.fromY);
    EXPECT_DOUBLE_EQ(s.strokeWidth, 1.0);
    EXPECT_EQ(s.ttlMs, 250);
    EXPECT_EQ(s.index, std::optional<int32_t>(2));
    EXPECT_FALSE(s.total);
    EXPECT_EQ(s.color, "#ff0000");
    EXPECT_EQ(s.position, "above");
    EXPECT_TRUE(s.hasPoint);
    // The transcript keeps the trainer's own coordinates.
    EXPECT_EQ(r.transcriptKind, "overlay");
    EXPECT_EQ(r.transcript, json::parse(R"({"kind":"highlight","id":"o1","width":11,"height":20,"x":101,"y":0})"));

    OverlayRequest plain = Parse(json{{"kind", "arrow"}, {"x", "5"}}, 7, 9);
    EXPECT_FALSE(plain.shape.hasPoint);
    EXPECT_EQ(plain.shape.x, 7);
    EXPECT_EQ(plain.shape.y, 9);
    EXPECT_DOUBLE_EQ(plain.shape.strokeWidth, 4.0);
    EXPECT_DOUBLE_EQ(Parse(json{{"kind", "arrow"}, {"strokeWidth", 45}}).shape.strokeWidth, 30.0);

    // Huge numbers saturate instead of wrapping, before and after the origin is added.
    OverlayRequest huge = Parse(json::parse(R"({"kind":"arrow","x":1e300,"y":-9223372036854775808,
        "fromX":18446744073709551615,"fromY":-1e300})"), INT_MAX, INT_MIN);
    EXPECT_EQ(huge.shape.x, INT_MAX);
    EXPECT_EQ(huge.shape.y, INT_MIN);
    EXPECT_EQ(huge.shape.fromX, std::optional<int32_t>(INT_MAX));
    EXPECT_EQ(huge.shape.fromY, std::optional<int32_t>(INT_MIN));
    EXPECT_EQ(ToDesktop(INT_MIN, INT_MIN), INT_MIN);
    EXPECT_EQ(ToDesktop(-100, 40), -60);
}

TEST(OverlayRequest, TtlMillisecondsSecondsAndClamps) {
    struct Case {
        const char* args;
        int32_t want;
    } cases[] = {
        {R"({})", 0},
        {R"({"ttlSeconds":5,"ttlMs":250})", 250},
        {R"({"ttlSeconds":7200})", 3600000},
        {R"({"ttlSeconds":0.4})", 400},   // not rounded to whole seconds first
        {R"({"ttlSeconds":-3})", 0},
        {R"({"ttlSeconds":"5"})", 0},
        {R"({"ttlSeconds":1e300})", 3600000},
        {R"({"ttlSeconds":9223372036854775807})", 3600000},
        {R"({"ttlMs":-1e300})", 0},
        {R"({"ttlMs":"250","ttlSeconds":2})", 2000},
    };
    for (const Case& c : cases) EXPECT_EQ(OverlayTtlMs(json::parse(c.args)), c.want) << c.args;
}

TEST(OverlayRequest, StrokePointsAreTruncatedMovedAndCapped) {
    json points = json::array({json::array({1.9, -1.9, 99}), json{{"x", 3}, {"y", 4}}, "junk", json::array({5})});
    OverlayRequest r = Parse(json{{"kind", "stroke"}, {"points", points}}, -10, 10);
    ASSERT_EQ(r.error, "");
    EXPECT_EQ(r.shape.points, (std::vector<std::pair<int32_t, int32_t>>{{-9, 9}, {-7, 14}}));

    json many = json::array();
    for (int i = 0; i < 2500; ++i) many.push_back(json::array({i, i}));
    OverlayRequest capped = Parse(json{{"kind", "stroke"}, {"points", many}});
    ASSERT_EQ(capped.shape.points.size(), kMaxStrokePoints);
    EXPECT_EQ(capped.shape.points.back().first, 1999);
}

TEST(OverlayRequest, StepCardsUseTheTitleAsLabelAndRecordTheirTexts) {
    json args = {{"kind", "step"},  {"title", std::string(170, 't')}, {"label", "ignored"},
                 {"index", 2},      {"total", 5},                     {"detail", std::string(450, 'd')}};
    OverlayRequest r = Parse(args);
    ASSERT_EQ(r.error, "");
    EXPECT_TRUE(r.isStep);
    EXPECT_EQ(r.stepTitle, std::string(160, 't'));
    EXPECT_EQ(r.shape.label, r.stepTitle);
    EXPECT_EQ(r.shape.detail.size(), 400u);
    EXPECT_EQ(r.transcriptKind, "step");
    EXPECT_EQ(r.transcript, (json{{"title", r.stepTitle}, {"index", 2}, {"total", 5}, {"detail", r.shape.detail}}));
    EXPECT_EQ(Parse(json{{"kind", "step"}, {"title", "A"}}).transcript, (json{{"title", "A"}}));
}

TEST(OverlayRequest, BannerMovedWhenItAppearsVanishesOrChanges) {
    Box a{1, 2, 3, 4};
    Box b{1, 2, 3, 5};
    EXPECT_FALSE(BannerMoved(std::nullopt, std::nullopt));
    EXPECT_FALSE(BannerMoved(a, a));
    EXPECT_TRUE(BannerMoved(a, b));
    EXPECT_TRUE(BannerMoved(a, std::nullopt));
    EXPECT_TRUE(BannerMoved(std::nullopt, a));
}

}  // namespace
