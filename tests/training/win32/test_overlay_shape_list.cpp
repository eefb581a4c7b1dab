#include <gtest/gtest.h>

#include "training/win32/overlay_shape_list.h"

namespace {

using sv::training::OverlayShape;
using sv::training::OverlayShapeList;

OverlayShape Shape(const std::string& id, const std::string& kind, int32_t ttlMs, int32_t x = 0) {
    OverlayShape s;
    s.id = id;
    s.kind = kind;
    s.ttlMs = ttlMs;
    s.x = x;
    return s;
}

std::string Ids(const OverlayShapeList& list) {
    std::string ids;
    for (const auto& s : list.Shapes()) ids += s.id + ",";
    return ids;
}

TEST(OverlayShapeList, UpsertKeepsPlaceTakesFieldsAndRestartsDeadline) {
    OverlayShapeList list;
    list.Upsert(Shape("a", "highlight", 1000, 1), 100);
    list.Upsert(Shape("b", "arrow", 0), 100);
    list.Upsert(Shape("a", "ellipse", 500, 7), 900);
    EXPECT_EQ(Ids(list), "a,b,");
    EXPECT_EQ(list.Shapes()[0].kind, "ellipse");
    EXPECT_EQ(list.Shapes()[0].x, 7);
    EXPECT_EQ(list.Deadlines()[0], 1400u);
    EXPECT_EQ(list.Deadlines()[1], 0u);
}

TEST(OverlayShapeList, Expiry) {
    struct Case {
        uint64_t now;
        bool changed;
        const char* left;
    } steps[] = {
        {2499, false, "keep,ttl,odd,"},  // nothing due: no repaint
        {2500, true, "keep,"},           // due at exactly its deadline; an unlisted kind expires too
        {1u << 30, false, "keep,"},      // a lifetime of 0 never ends
    };
    OverlayShapeList list;
    list.Upsert(Shape("keep", "highlight", 0), 1000);
    list.Upsert(Shape("ttl", "highlight", 1500), 1000);
    list.Upsert(Shape("odd", "no-such-kind", 1500), 1000);
    for (const Case& c : steps) {
        EXPECT_EQ(list.Expire(c.now), c.changed) << c.now;
        EXPECT_EQ(Ids(list), c.left) << c.now;
    }
}

TEST(OverlayShapeList, ClearByIdOrAll) {
    OverlayShapeList list;
    for (const char* id : {"a", "b", "a", "c"}) list.Upsert(Shape(id, "text", 0), 0);
    EXPECT_EQ(Ids(list), "a,b,c,");
    list.Clear("zz");
    EXPECT_EQ(Ids(list), "a,b,c,");
    list.Clear("b");
    EXPECT_EQ(Ids(list), "a,c,");
    EXPECT_EQ(list.Deadlines().size(), 2u);
    list.Clear("");
    EXPECT_TRUE(list.Shapes().empty());
    EXPECT_FALSE(list.Expire(0));
}

}  // namespace
