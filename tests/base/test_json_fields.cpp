#include "base/json_fields.h"
#include "base/case_fold.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

using nlohmann::json;

TEST(JsonFields, EachReaderGivesAValueOnlyForItsOwnKind) {
    const json j = json::parse(R"({"s":"x","b":true,"i":-7,"u":18446744073709551615,"f":2.5,"n":null,
                                   "a":[1],"o":{}})");
    struct Case {
        const char* key;
        bool str, boolean, integer, number;
    };
    const Case cases[] = {
        {"s", true, false, false, false},  {"b", false, true, false, false}, {"i", false, false, true, true},
        {"u", false, false, true, true},   {"f", false, false, false, true}, {"n", false, false, false, false},
        {"a", false, false, false, false}, {"o", false, false, false, false}, {"missing", false, false, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key);
        EXPECT_EQ(sv::JsonString(j, c.key).has_value(), c.str);
        EXPECT_EQ(sv::JsonStringOrEmpty(j, c.key), c.str ? "x" : "");
        EXPECT_EQ(sv::JsonBool(j, c.key).has_value(), c.boolean);
        EXPECT_EQ(sv::JsonInt64(j, c.key).has_value(), c.integer);
        EXPECT_EQ(sv::JsonDouble(j, c.key).has_value(), c.number);
    }
    EXPECT_EQ(*sv::JsonString(j, "s"), "x");
    EXPECT_EQ(*sv::JsonInt64(j, "i"), -7);
    EXPECT_EQ(*sv::JsonInt64(j, "u"), std::numeric_limits<int64_t>::max());  // saturated, not wrapped
    EXPECT_DOUBLE_EQ(*sv::JsonDouble(j, "f"), 2.5);
}

TEST(JsonFields, ANonObjectHasNoMembers) {
    for (const char* text : {"[1,2]", "\"s\"", "null", "3"}) {
        const json j = json::parse(text);
        EXPECT_EQ(sv::JsonMember(j, "s"), nullptr) << text;
        EXPECT_FALSE(sv::JsonString(j, "s").has_value()) << text;
    }
}

TEST(JsonFields, OtherKindIsToldApartFromAbsent) {
    const json j = json::parse(R"({"flag":"yes","off":false,"nothing":null})");
    auto isBool = [](const json& v) { return v.is_boolean(); };
    EXPECT_TRUE(sv::JsonMemberHasOtherKind(j, "flag", isBool));
    EXPECT_FALSE(sv::JsonMemberHasOtherKind(j, "off", isBool));
    EXPECT_FALSE(sv::JsonMemberHasOtherKind(j, "nothing", isBool));
    EXPECT_FALSE(sv::JsonMemberHasOtherKind(j, "missing", isBool));
}

TEST(CaseFold, OnlyAsciiCapitalsChange) {
    EXPECT_EQ(sv::AsciiLower("Ctrl-ALT Del@[`{"), "ctrl-alt del@[`{");
    EXPECT_EQ(sv::AsciiLower("\xC3\x89t\xC3\xA9"), "\xC3\x89t\xC3\xA9");  // UTF-8 bytes untouched
    EXPECT_EQ(sv::AsciiLower(""), "");
}

}  // namespace
