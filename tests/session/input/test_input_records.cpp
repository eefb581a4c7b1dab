#include "session/input/input_records.h"

#include <gtest/gtest.h>

#include <limits>

#include "base/text_encoding.h"

namespace {

using sv::AppendTextInputs;
using sv::BuildKeyInputs;
using sv::BuildPointerInput;
using sv::KeyNameToVirtualKey;
using sv::ModifierToVirtualKey;
using sv::MouseButtonFlags;
using sv::PointerToAbsolute;

struct KeyEv {
    uint16_t vk;
    uint16_t scan;
    uint32_t flags;
    bool operator==(const KeyEv& o) const { return vk == o.vk && scan == o.scan && flags == o.flags; }
};

std::ostream& operator<<(std::ostream& os, const KeyEv& e) {
    return os << "{vk=" << e.vk << " scan=" << e.scan << " flags=" << e.flags << "}";
}

std::vector<KeyEv> Keys(const std::vector<INPUT>& events) {
    std::vector<KeyEv> out;
    for (const INPUT& in : events) {
        EXPECT_EQ(in.type, static_cast<DWORD>(INPUT_KEYBOARD));
        EXPECT_EQ(in.ki.time, 0u);
        EXPECT_EQ(in.ki.dwExtraInfo, 0u);
        out.push_back({in.ki.wVk, in.ki.wScan, in.ki.dwFlags});
    }
    return out;
}

std::string Upper(std::string s) {
    for (char& c : s) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    return s;
}

std::vector<KeyEv> TextEvents(const std::wstring& text, size_t limit = 1u << 20) {
    std::vector<INPUT> events;
    size_t next = AppendTextInputs(text, 0, limit, events);
    EXPECT_EQ(next, text.size());
    return Keys(events);
}

TEST(MouseButtonFlagsTest, DownAndUpOfLeftAndRight) {
    EXPECT_EQ(MouseButtonFlags("down", "left"), 2u);
    EXPECT_EQ(MouseButtonFlags("up", "left"), 4u);
    EXPECT_EQ(MouseButtonFlags("down", "right"), 8u);
    EXPECT_EQ(MouseButtonFlags("up", "right"), 16u);
}

TEST(MouseButtonFlagsTest, EverythingElseIsZero) {
    EXPECT_EQ(MouseButtonFlags("move", "left"), 0u);
    EXPECT_EQ(MouseButtonFlags("wheel", "left"), 0u);
    EXPECT_EQ(MouseButtonFlags("down", "middle"), 0u);
    EXPECT_EQ(MouseButtonFlags("down", ""), 0u);
    EXPECT_EQ(MouseButtonFlags("Down", "left"), 0u);  // kinds are exact
    EXPECT_EQ(MouseButtonFlags("down", "Left"), 0u);
    EXPECT_EQ(MouseButtonFlags("", ""), 0u);
}

TEST(KeyNameTest, EveryNamedKey) {
    const std::vector<std::pair<std::string, uint16_t>> table = {
        {"enter", 13},  {"return", 13}, {"tab", 9},    {"escape", 27},   {"esc", 27},      {"backspace", 8},
        {"delete", 46}, {"insert", 45}, {"space", 32}, {"home", 36},     {"end", 35},      {"pageup", 33},
        {"pagedown", 34}, {"left", 37}, {"up", 38},    {"right", 39},    {"down", 40},     {"f1", 112},
        {"f2", 113},    {"f3", 114},    {"f4", 115},   {"f5", 116},      {"f6", 117},      {"f7", 118},
        {"f8", 119},    {"f9", 120},    {"f10", 121},  {"f11", 122},     {"f12", 123},
    };
    EXPECT_EQ(table.size(), 29u);
    for (const auto& entry : table) {
        EXPECT_EQ(KeyNameToVirtualKey(entry.first), entry.second) << entry.first;
        EXPECT_EQ(KeyNameToVirtualKey(Upper(entry.first)), entry.second) << "upper-case " << entry.first;
    }
}

TEST(KeyNameTest, LettersAndDigits) {
    EXPECT_EQ(KeyNameToVirtualKey("x"), 88);
    EXPECT_EQ(KeyNameToVirtualKey("X"), 88);
    EXPECT_EQ(KeyNameToVirtualKey("a"), 65);
    EXPECT_EQ(KeyNameToVirtualKey("z"), 90);
    EXPECT_EQ(KeyNameToVirtualKey("7"), 55);
    EXPECT_EQ(KeyNameToVirtualKey("0"), 48);
    EXPECT_EQ(KeyNameToVirtualKey("9"), 57);
}

TEST(KeyNameTest, UnknownNamesAreRefused) {
    for (const char* name : {"numlock", "", "f0", "f13", "ctrl", "del", " enter", "enter ", "ab", "!", "\xc3\xa9",
                             "page up", "\x01"}) {
        EXPECT_EQ(KeyNameToVirtualKey(name), 0) << name;
    }
}

TEST(ModifierTest, NamesAndCase) {
    EXPECT_EQ(ModifierToVirtualKey("ctrl"), 17);
    EXPECT_EQ(ModifierToVirtualKey("Control"), 17);
    EXPECT_EQ(ModifierToVirtualKey("SHIFT"), 16);
    EXPECT_EQ(ModifierToVirtualKey("alt"), 18);
    EXPECT_EQ(ModifierToVirtualKey("win"), 91);
    EXPECT_EQ(ModifierToVirtualKey("Meta"), 91);
    EXPECT_EQ(ModifierToVirtualKey("altgr"), 0);
    EXPECT_EQ(ModifierToVirtualKey("cmd"), 0);
    EXPECT_EQ(ModifierToVirtualKey(""), 0);
}

TEST(PointerTest, CornersOfAFullHdScreen) {
    int32_t dx = -1, dy = -1;
    ASSERT_TRUE(PointerToAbsolute(1.0, 1.0, 1920, 1080, dx, dy));
    EXPECT_EQ(dx, 65535);
    EXPECT_EQ(dy, 65535);
    ASSERT_TRUE(PointerToAbsolute(0.0, 0.0, 1920, 1080, dx, dy));
    EXPECT_EQ(dx, 0);
    EXPECT_EQ(dy, 0);
    // Centre: px 960, py 540.
    ASSERT_TRUE(PointerToAbsolute(0.5, 0.5, 1920, 1080, dx, dy));
    EXPECT_EQ(dx, 960 * 65535 / 1919);
    EXPECT_EQ(dy, 540 * 65535 / 1079);
}

TEST(PointerTest, OutOfRangeAndHostileValuesAreClamped) {
    int32_t dx = -1, dy = -1;
    ASSERT_TRUE(PointerToAbsolute(-0.5, 2.0, 1280, 720, dx, dy));
    EXPECT_EQ(dx, 0);
    EXPECT_EQ(dy, 65535);
    const double huge = std::numeric_limits<double>::max();
    ASSERT_TRUE(PointerToAbsolute(huge, -huge, 1280, 720, dx, dy));
    EXPECT_EQ(dx, 65535);
    EXPECT_EQ(dy, 0);
    ASSERT_TRUE(PointerToAbsolute(std::numeric_limits<double>::infinity(),
                                  std::numeric_limits<double>::quiet_NaN(), 1280, 720, dx, dy));
    EXPECT_EQ(dx, 65535);
    EXPECT_EQ(dy, 0);
    ASSERT_TRUE(PointerToAbsolute(1e-300, 0.9999999999, 1280, 720, dx, dy));
    EXPECT_EQ(dx, 0);
    EXPECT_EQ(dy, 65535);
}

TEST(PointerTest, OnePixelScreenDividesByOne) {
    int32_t dx = -1, dy = -1;
    ASSERT_TRUE(PointerToAbsolute(1.0, 0.7, 1, 1, dx, dy));
    EXPECT_EQ(dx, 0);
    EXPECT_EQ(dy, 0);
    ASSERT_TRUE(PointerToAbsolute(1.0, 1.0, 2, 2, dx, dy));
    EXPECT_EQ(dx, 65535);
    EXPECT_EQ(dy, 65535);
}

TEST(PointerTest, EmptyScreenIsRefused) {
    int32_t dx = 7, dy = 7;
    EXPECT_FALSE(PointerToAbsolute(0.5, 0.5, 0, 720, dx, dy));
    EXPECT_FALSE(PointerToAbsolute(0.5, 0.5, 1280, 0, dx, dy));
    EXPECT_FALSE(PointerToAbsolute(0.5, 0.5, -5, -5, dx, dy));
    EXPECT_EQ(dx, 7);
    EXPECT_EQ(dy, 7);
    INPUT in;
    EXPECT_FALSE(BuildPointerInput("move", 0.5, 0.5, "", 0, 0, in));
}

TEST(PointerTest, LargestScreenDoesNotOverflow) {
    int32_t dx = -1, dy = -1;
    const int32_t big = std::numeric_limits<int32_t>::max();
    ASSERT_TRUE(PointerToAbsolute(1.0, 0.5, big, big, dx, dy));
    EXPECT_EQ(dx, 65535);
    EXPECT_GE(dy, 32766);
    EXPECT_LE(dy, 32768);
}

TEST(PointerTest, EventCarriesMoveAndButtonFlags) {
    INPUT in;
    ASSERT_TRUE(BuildPointerInput("down", 1.0, 0.0, "right", 800, 600, in));
    EXPECT_EQ(in.type, static_cast<DWORD>(INPUT_MOUSE));
    EXPECT_EQ(in.mi.dx, 65535);
    EXPECT_EQ(in.mi.dy, 0);
    EXPECT_EQ(in.mi.mouseData, 0u);
    EXPECT_EQ(in.mi.dwFlags, 0xC001u | 8u);
    EXPECT_EQ(in.mi.time, 0u);
    ASSERT_TRUE(BuildPointerInput("up", 0.0, 1.0, "left", 800, 600, in));
    EXPECT_EQ(in.mi.dwFlags, 0xC005u);
    ASSERT_TRUE(BuildPointerInput("wheel", 0.25, 0.25, "left", 800, 600, in));
    EXPECT_EQ(in.mi.dwFlags, 0xC001u);
    EXPECT_EQ(in.mi.dx, 200 * 65535 / 799);
    EXPECT_EQ(in.mi.dy, 150 * 65535 / 599);
}

TEST(KeyInputsTest, ModifierOrderAndUnknownModifierIgnored) {
    std::vector<INPUT> events;
    ASSERT_TRUE(BuildKeyInputs("F5", {"Shift", "bogus", "Ctrl"}, events));
    std::vector<KeyEv> expected = {{16, 0, 0}, {17, 0, 0}, {116, 0, 0}, {116, 0, 2}, {17, 0, 2}, {16, 0, 2}};
    EXPECT_EQ(Keys(events), expected);
}

TEST(KeyInputsTest, RepeatedModifierIsPressedTwice) {
    std::vector<INPUT> events;
    ASSERT_TRUE(BuildKeyInputs("a", {"alt", "ALT"}, events));
    std::vector<KeyEv> expected = {{18, 0, 0}, {18, 0, 0}, {65, 0, 0}, {65, 0, 2}, {18, 0, 2}, {18, 0, 2}};
    EXPECT_EQ(Keys(events), expected);
}

TEST(KeyInputsTest, PlainKeyIsOneDownAndUp) {
    std::vector<INPUT> events;
    ASSERT_TRUE(BuildKeyInputs("Enter", {}, events));
    std::vector<KeyEv> expected = {{13, 0, 0}, {13, 0, 2}};
    EXPECT_EQ(Keys(events), expected);
}

TEST(KeyInputsTest, UnknownKeyAppendsNothing) {
    std::vector<INPUT> events;
    EXPECT_FALSE(BuildKeyInputs("numlock", {"ctrl", "alt"}, events));
    EXPECT_TRUE(events.empty());
    // Earlier records are left alone.
    ASSERT_TRUE(BuildKeyInputs("tab", {}, events));
    EXPECT_FALSE(BuildKeyInputs("", {"shift"}, events));
    EXPECT_EQ(events.size(), 2u);
}

TEST(TextInputsTest, CarriageReturnSkippedLineFeedIsEnter) {
    std::vector<KeyEv> expected = {{0, 'a', 4}, {0, 'a', 6}, {13, 0, 0}, {13, 0, 2}, {0, 'b', 4}, {0, 'b', 6}};
    EXPECT_EQ(TextEvents(L"a\r\nb"), expected);
}

TEST(TextInputsTest, AccentedLetterFromUtf8IsOneUnicodePair) {
    std::wstring units = sv::Utf8ToUtf16("\xc3\xa9");
    ASSERT_EQ(units.size(), 1u);
    std::vector<KeyEv> expected = {{0, 0x00E9, 4}, {0, 0x00E9, 6}};
    EXPECT_EQ(TextEvents(units), expected);
}

TEST(TextInputsTest, AstralCharacterIsTwoSurrogatePairs) {
    std::wstring units = sv::Utf8ToUtf16("\xf0\x9f\x98\x80");  // U+1F600
    ASSERT_EQ(units.size(), 2u);
    std::vector<KeyEv> expected = {{0, 0xD83D, 4}, {0, 0xD83D, 6}, {0, 0xDE00, 4}, {0, 0xDE00, 6}};
    EXPECT_EQ(TextEvents(units), expected);
}

TEST(TextInputsTest, OnlyCarriageReturnsGiveNothing) {
    EXPECT_TRUE(TextEvents(L"\r\r\r").empty());
    EXPECT_TRUE(TextEvents(L"").empty());
}

TEST(TextInputsTest, BatchesSplitBetweenUnitsAndCoverEverything) {
    std::wstring text;
    for (int i = 0; i < 1000; ++i) text += (i % 7 == 0) ? L'\n' : (i % 11 == 0 ? L'\r' : wchar_t(L'A' + i % 26));
    std::vector<KeyEv> whole = TextEvents(text);
    std::vector<KeyEv> joined;
    size_t next = 0;
    int batches = 0;
    while (next < text.size()) {
        std::vector<INPUT> batch;
        size_t after = AppendTextInputs(text, next, 10, batch);
        ASSERT_GT(after, next);
        ASSERT_LE(batch.size(), 10u);
        ASSERT_EQ(batch.size() % 2, 0u);
        for (const KeyEv& e : Keys(batch)) joined.push_back(e);
        next = after;
        ++batches;
    }
    EXPECT_EQ(joined, whole);
    EXPECT_GE(batches, static_cast<int>(whole.size() / 10));
}

TEST(TextInputsTest, TinyLimitStillMakesProgress) {
    std::vector<INPUT> batch;
    EXPECT_EQ(AppendTextInputs(L"xy", 0, 0, batch), 1u);
    EXPECT_EQ(batch.size(), 2u);
}

TEST(TextInputsTest, StartBeyondEndIsDone) {
    std::vector<INPUT> batch;
    EXPECT_EQ(AppendTextInputs(L"xy", 5, 10, batch), 5u);
    EXPECT_TRUE(batch.empty());
}

}  // namespace
