#include <gtest/gtest.h>

#include <limits>

#include <nlohmann/json.hpp>

#include "training/training_args.h"
#include "training/training_json.h"
#include "training/training_mode.h"
#include "training/training_time.h"

namespace {

using nlohmann::json;
using namespace sv::training;
using sv::SerializeJson;

TEST(TrainingArgs, FindArgOnlyInObjects) {
    json args = {{"a", 1}};
    EXPECT_NE(FindArg(args, "a"), nullptr);
    EXPECT_EQ(FindArg(args, "b"), nullptr);
    EXPECT_EQ(FindArg(json::array({1, 2}), "a"), nullptr);
    EXPECT_EQ(FindArg(json(), "a"), nullptr);
    EXPECT_EQ(FindArg(json("a"), "a"), nullptr);
}

TEST(TrainingArgs, ArgStringTakesStringsAsTheyStandAndOthersAsCompactJson) {
    json args = json::parse(R"({"s":" x ","n":7,"f":2.5,"b":true,"o":{"z":1,"a":[1, 2]},"nul":null})");
    EXPECT_EQ(ArgString(args, "s"), std::optional<std::string>(" x "));
    EXPECT_EQ(ArgString(args, "n"), std::optional<std::string>("7"));
    EXPECT_EQ(ArgString(args, "f"), std::optional<std::string>("2.5"));
    EXPECT_EQ(ArgString(args, "b"), std::optional<std::string>("true"));
    EXPECT_EQ(ArgString(args, "o"), std::optional<std::string>(R"({"a":[1,2],"z":1})"));
    // null means "not given", never the text "null".
    EXPECT_FALSE(ArgString(args, "nul"));
    EXPECT_FALSE(ArgString(args, "missing"));
}

TEST(TrainingArgs, ArgIntRoundsHalvesAwayFromZero) {
    json args = json::parse(R"({"a":2.5,"b":-2.5,"c":2.4999,"d":-0.4,"e":7,"f":"7","g":true,"h":0.5})");
    EXPECT_EQ(ArgInt(args, "a"), 3);
    EXPECT_EQ(ArgInt(args, "b"), -3);
    EXPECT_EQ(ArgInt(args, "c"), 2);
    EXPECT_EQ(ArgInt(args, "d"), 0);
    EXPECT_EQ(ArgInt(args, "e"), 7);
    EXPECT_FALSE(ArgInt(args, "f"));
    EXPECT_FALSE(ArgInt(args, "g"));
    EXPECT_EQ(ArgInt(args, "h"), 1);
}

TEST(TrainingArgs, ArgIntSaturatesHugeValues) {
    json args = json::parse(
        R"({"big":1e300,"small":-1e300,"i64":9223372036854775807,"neg":-9223372036854775808,"u64":18446744073709551615,"edge":2147483647.6})");
    EXPECT_EQ(ArgInt(args, "big"), std::numeric_limits<int32_t>::max());
    EXPECT_EQ(ArgInt(args, "small"), std::numeric_limits<int32_t>::min());
    EXPECT_EQ(ArgInt(args, "i64"), std::numeric_limits<int32_t>::max());
    EXPECT_EQ(ArgInt(args, "neg"), std::numeric_limits<int32_t>::min());
    EXPECT_EQ(ArgInt(args, "u64"), std::numeric_limits<int32_t>::max());
    EXPECT_EQ(ArgInt(args, "edge"), std::numeric_limits<int32_t>::max());
}

TEST(TrainingArgs, ArgInt64TruncatesTowardZeroAndSaturates) {
    json args = json::parse(R"({"a":2.9,"b":-2.9,"c":1e30,"d":-1e30,"u":18446744073709551615,"i":-5,"s":"3"})");
    EXPECT_EQ(ArgInt64(args, "a"), 2);
    EXPECT_EQ(ArgInt64(args, "b"), -2);
    EXPECT_EQ(ArgInt64(args, "c"), std::numeric_limits<int64_t>::max());
    EXPECT_EQ(ArgInt64(args, "d"), std::numeric_limits<int64_t>::min());
    EXPECT_EQ(ArgInt64(args, "u"), std::numeric_limits<int64_t>::max());
    EXPECT_EQ(ArgInt64(args, "i"), -5);
    EXPECT_FALSE(ArgInt64(args, "s"));
    EXPECT_EQ(TruncateToInt64(9223372036854775807.0), std::numeric_limits<int64_t>::max());
}

TEST(TrainingArgs, ArgStringListSkipsNonStrings) {
    json args = json::parse(R"({"l":["ctrl",5,null,"alt",["x"]],"s":"ctrl","e":[]})");
    auto l = ArgStringList(args, "l");
    ASSERT_TRUE(l);
    EXPECT_EQ(*l, (std::vector<std::string>{"ctrl", "alt"}));
    EXPECT_FALSE(ArgStringList(args, "s"));
    ASSERT_TRUE(ArgStringList(args, "e"));
    EXPECT_TRUE(ArgStringList(args, "e")->empty());
}

TEST(TrainingArgs, ArgBoolOnlyBooleans) {
    json args = json::parse(R"({"t":true,"f":false,"n":1,"s":"true"})");
    EXPECT_EQ(ArgBool(args, "t"), true);
    EXPECT_EQ(ArgBool(args, "f"), false);
    EXPECT_FALSE(ArgBool(args, "n"));
    EXPECT_FALSE(ArgBool(args, "s"));
}

TEST(TrainingText, CutNeverSplitsAMultiByteCharacter) {
    std::string text = "a\xC3\xA9\xF0\x9F\x98\x80z";  // a, e-acute (2 bytes), emoji (4 bytes), z
    EXPECT_EQ(CountCodePoints(text), 4u);
    EXPECT_EQ(CutToCodePoints(text, 0), "");
    EXPECT_EQ(CutToCodePoints(text, 1), "a");
    EXPECT_EQ(CutToCodePoints(text, 2), "a\xC3\xA9");
    EXPECT_EQ(CutToCodePoints(text, 3), "a\xC3\xA9\xF0\x9F\x98\x80");
    EXPECT_EQ(CutToCodePoints(text, 4), text);
    EXPECT_EQ(CutToCodePoints(text, 100), text);
    EXPECT_FALSE(CutToCodePoints(std::optional<std::string>(), 3));
}

TEST(TrainingText, CutOf2001CodePointsKeepsTheFirst2000) {
    std::string text;
    for (int i = 0; i < 2001; ++i) text += "\xC3\xA9";
    std::string cut = CutToCodePoints(text, 2000);
    EXPECT_EQ(CountCodePoints(cut), 2000u);
    EXPECT_EQ(cut.size(), 4000u);
}

TEST(TrainingText, TrimRemovesOnlyFourCharacters) {
    EXPECT_EQ(TrimWhitespace(" \t\r\nhi there\n\r\t "), "hi there");
    EXPECT_EQ(TrimWhitespace("\v x \f"), "\v x \f");
    EXPECT_EQ(TrimWhitespace(" \t\r\n"), "");
    EXPECT_TRUE(IsBlank(std::nullopt));
    EXPECT_TRUE(IsBlank(std::string(" \r\n\t")));
    EXPECT_FALSE(IsBlank(std::string(" . ")));
    EXPECT_FALSE(IsBlank(std::string("\v")));
}

TEST(TrainingJson, RecordsMapToCaptureScreenPixels) {
    WindowInfo w;
    w.hwnd = 0x10052;
    w.title = "Notepad";
    w.className = "Notepad";
    w.process = "notepad";
    w.rect = {-1900, 40, 300, 200};
    EXPECT_EQ(SerializeJson(WindowInfoJson(w, -1920, 0)),
              R"({"className":"Notepad","hwnd":65618,"owned":false,"process":"notepad","rect":[20,40,300,200],"title":"Notepad"})");
    w.owner = 7;
    EXPECT_TRUE(WindowInfoJson(w, 0, 0)["owned"].get<bool>());
    UiElement e;
    e.name = "OK";
    e.controlType = "Button";
    e.rect = {10, 20, 30, 40};
    e.enabled = true;
    EXPECT_FALSE(UiElementJson(e, 0, 0).contains("value"));
    e.value = "";
    EXPECT_EQ(UiElementJson(e, 0, 0)["value"], "");
    // The subtraction does not overflow 32 bits.
    EXPECT_EQ(BoxJson({INT32_MIN, 0, 1, 1}, INT32_MAX, 0)[0].get<int64_t>(),
              static_cast<int64_t>(INT32_MIN) - INT32_MAX);
}

TEST(TrainingMode, NamesAndParsing) {
    using sv::training::TrainingMode;
    EXPECT_EQ(TrainingModeName(TrainingMode::kOff), "off");
    EXPECT_EQ(TrainingModeName(TrainingMode::kDemo), "demo");
    EXPECT_EQ(TrainingModeName(TrainingMode::kYourTurn), "your_turn");
    EXPECT_EQ(TrainingModeName(static_cast<TrainingMode>(3)), "off");
    EXPECT_EQ(ParseTrainingMode(" Your-Turn \n"), TrainingMode::kYourTurn);
    EXPECT_EQ(ParseTrainingMode("yourturn"), TrainingMode::kYourTurn);
    EXPECT_EQ(ParseTrainingMode("TRAINEE"), TrainingMode::kYourTurn);
    EXPECT_EQ(ParseTrainingMode("demo"), TrainingMode::kDemo);
    EXPECT_EQ(ParseTrainingMode("off"), TrainingMode::kOff);
    EXPECT_FALSE(ParseTrainingMode("show"));
    EXPECT_FALSE(ParseTrainingMode(""));
}

TEST(TrainingTime, UtcFormatting) {
    EXPECT_EQ(FormatUtcSeconds(0), "1970-01-01T00:00:00Z");
    EXPECT_EQ(FormatUtcSeconds(1700000000), "2023-11-14T22:13:20Z");
    EXPECT_EQ(FormatUtcSeconds(951782400), "2000-02-29T00:00:00Z");
    EXPECT_EQ(FormatUtcSeconds(-1), "1969-12-31T23:59:59Z");
}

}  // namespace
