#include <gtest/gtest.h>

#include <climits>

#include "training/remote_input.h"

namespace {

using nlohmann::json;
using namespace sv::training;

TEST(RemoteInput, ReadsTheRequest) {
    InputRequest r = ParseInputRequest(
        {{"kind", "CLICK"}, {"x", 2.5}, {"y", -0.5}, {"preview", "no"}, {"modifiers", {"ctrl", 5, "alt"}}});
    EXPECT_EQ(r.kind, "click");
    EXPECT_EQ(r.x, 3);
    EXPECT_EQ(r.y, -1);
    EXPECT_TRUE(r.preview);  // only the boolean false skips it
    EXPECT_EQ(r.modifiers, (std::vector<std::string>{"ctrl", "alt"}));
    EXPECT_FALSE(ParseInputRequest({{"preview", false}}).preview);
    InputRequest empty = ParseInputRequest(json::array());
    EXPECT_EQ(empty.kind, "");
    EXPECT_EQ(empty.x, 0);
    EXPECT_FALSE(empty.label);
}

TEST(RemoteInput, FractionsAreClampedToTheScreen) {
    struct Case {
        int32_t v, extent;
        double f;
    };
    const std::vector<Case> cases = {
        {-5, 1920, 0.0}, {960, 1920, 0.5}, {1920, 1920, 1.0}, {5000, 1920, 1.0},
        {0, 0, 0.0},     {7, 0, 1.0},      {INT_MIN, 1, 0.0}, {INT_MAX, INT_MAX, 1.0},
    };
    for (const Case& c : cases) EXPECT_DOUBLE_EQ(PointerFraction(c.v, c.extent), c.f) << c.v << "/" << c.extent;
}

TEST(RemoteInput, PointerSteps) {
    auto text = [](const std::string& kind) {
        std::string s;
        for (const PointerStep& p : PointerSteps(kind)) s += p.action + ":" + p.button + " ";
        return s;
    };
    EXPECT_EQ(text("move"), "move: ");
    EXPECT_EQ(text("click"), "move: down:left up:left ");
    EXPECT_EQ(text("right-click"), "move: down:right up:right ");
    EXPECT_EQ(text("double-click"), "move: down:left up:left move: down:left up:left ");
    EXPECT_EQ(text("text"), "");
    EXPECT_EQ(text("drag"), "");
}

TEST(RemoteInput, DetailsAndTranscriptData) {
    struct Case {
        json args;
        std::string detail;
        json data;
    };
    const std::vector<Case> cases = {
        {{{"kind", "click"}, {"x", 120}, {"y", 455}},
         "click 120,455",
         {{"kind", "click"}, {"detail", "click 120,455"}, {"x", 120}, {"y", 455}}},
        {{{"kind", "move"}, {"x", -5}, {"y", 3}, {"label", "di sini"}},
         "move -5,3",
         {{"kind", "move"}, {"detail", "move -5,3"}, {"x", -5}, {"y", 3}, {"label", "di sini"}}},
        {{{"kind", "text"}, {"text", "héllo ✓"}}, "text len=7", {{"kind", "text"}, {"detail", "text len=7"}}},
        {{{"kind", "key"}, {"key", "s"}, {"modifiers", {"ctrl", 5, "alt"}}},
         "key ctrl+alt+s",
         {{"kind", "key"}, {"detail", "key ctrl+alt+s"}}},
    };
    for (const Case& c : cases) {
        InputRequest r = ParseInputRequest(c.args);
        EXPECT_EQ(InputDetail(r), c.detail);
        EXPECT_EQ(InputTranscriptData(r, c.detail), c.data);
    }
    EXPECT_EQ(PointerFailure(ParseInputRequest({{"kind", "Double-Click"}, {"x", 10}, {"y", -2}})),
              "the host could not double-click at 10,-2");
}

TEST(RemoteInput, GhostSitsOnTheDesktopPoint) {
    std::string label(70, 'a');
    label.replace(59, 1, "é");  // the 60th code point is two bytes: kept whole
    OverlayShape g = GhostShape(ParseInputRequest({{"x", 20}, {"y", 300}, {"label", label}}), -1920, -8, 700);
    EXPECT_EQ(g.id, "ghost");
    EXPECT_EQ(g.kind, "ghost");
    EXPECT_EQ(g.x, -1900);
    EXPECT_EQ(g.y, 292);
    EXPECT_EQ(g.ttlMs, 1100);
    EXPECT_EQ(g.label, std::string(59, 'a') + "é");
    OverlayShape far = GhostShape(ParseInputRequest({{"x", 2147483647}}), 10, 0, INT_MAX);
    EXPECT_EQ(far.x, INT_MAX);
    EXPECT_EQ(far.ttlMs, INT_MAX);
}

}  // namespace
