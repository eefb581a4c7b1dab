#include <gtest/gtest.h>

#include <climits>

#include "training/ui_query.h"

namespace {

using nlohmann::json;
using namespace sv::training;

TEST(UiQuery, TreeQueryDefaultsAndClamps) {
    struct Case {
        json args;
        int32_t depth;
        int32_t maxNodes;
    };
    const std::vector<Case> cases = {
        {json::object(), 6, 250},
        {json(nullptr), 6, 250},  // args not an object
        {{{"depth", 0}, {"maxNodes", 3}}, 1, 10},
        {{{"depth", 40}, {"maxNodes", 5000}}, 15, 1000},
        {{{"depth", 2.5}, {"maxNodes", 10.5}}, 3, 11},  // halves away from zero
        {{{"depth", -7.5}, {"maxNodes", -1e300}}, 1, 10},
        {{{"depth", 1e300}, {"maxNodes", 18446744073709551615ull}}, 15, 1000},
        {{{"depth", "9"}, {"maxNodes", true}}, 6, 250},  // not numbers
    };
    for (const Case& c : cases) {
        WindowTreeQuery q = BuildTreeQuery(c.args, -1280, -40);
        EXPECT_EQ(q.depth, c.depth) << c.args;
        EXPECT_EQ(q.maxNodes, c.maxNodes) << c.args;
        EXPECT_EQ(q.originX, -1280);
        EXPECT_EQ(q.originY, -40);
    }
    WindowTreeQuery named = BuildTreeQuery({{"window", "Notepad"}, {"nameContains", "Simpan"}, {"depth", 3}}, 0, 0);
    EXPECT_EQ(named.window, "Notepad");
    EXPECT_EQ(named.nameContains, "Simpan");
    EXPECT_EQ(TreeAuditDetail(named), "ui-tree window=Notepad depth=3");
    EXPECT_EQ(TreeAuditDetail(BuildTreeQuery(json::object(), 0, 0)), "ui-tree window=foreground depth=6");
}

TEST(UiQuery, DesktopPointAddsTheOriginWithoutWrapping) {
    struct Case {
        json args;
        int32_t ox, oy;
        int32_t x, y;
    };
    const std::vector<Case> cases = {
        {{{"x", 10}, {"y", 20}}, -1280, 0, -1270, 20},
        {{{"x", 10.5}, {"y", -0.5}}, 0, -1080, 11, -1081},
        {json::object(), -1920, -200, -1920, -200},  // absent reads as 0
        {{{"x", "5"}, {"y", nullptr}}, 3, 4, 3, 4},
        {{{"x", 2147483647}, {"y", -2147483648LL}}, 100, -100, INT_MAX, INT_MIN},
        {{{"x", 1e30}, {"y", -1e30}}, -1, 1, INT_MAX - 1, INT_MIN + 1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DesktopPointOf(c.args, c.ox, c.oy), std::make_pair(c.x, c.y)) << c.args;
    }
}

TEST(UiQuery, ControlTypeNames) {
    const std::vector<std::pair<int32_t, const char*>> cases = {
        {50000, "Button"}, {50004, "Edit"},     {50020, "Text"},   {50025, "Custom"},    {50032, "Window"},
        {50033, "Pane"},   {50039, "SemanticZoom"}, {50040, "AppBar"}, {50041, "Custom"}, {49999, "Custom"},
        {0, "Custom"},     {INT_MIN, "Custom"}, {INT_MAX, "Custom"},
    };
    for (const auto& c : cases) EXPECT_EQ(ControlTypeName(c.first), c.second) << c.first;
}

}  // namespace
