#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "training/activity_coalescer.h"

namespace {

using sv::training::Activity;
using sv::training::ActivityCoalescer;

// One thing the hook thread reports, in a script.
struct Input {
    enum Kind { Key, Button, Wheel, Flush } kind;
    uint32_t vk = 0;
    std::string mods;  // letters c, a, w
    std::string button;
    int32_t x = 0;
    int32_t y = 0;
    int64_t t = 0;
};

Input K(uint32_t vk, int64_t t, std::string mods = "") { return {Input::Key, vk, std::move(mods), "", 0, 0, t}; }
Input B(std::string button, int32_t x, int32_t y, int64_t t) { return {Input::Button, 0, "", std::move(button), x, y, t}; }
Input W(int32_t x, int32_t y, int64_t t) { return {Input::Wheel, 0, "", "", x, y, t}; }
Input F(int64_t t) { return {Input::Flush, 0, "", "", 0, 0, t}; }

std::string Text(const Activity& a) {
    std::string s = a.device + " " + a.action;
    if (a.x && a.y) s += " " + std::to_string(*a.x) + "," + std::to_string(*a.y);
    if (!a.key.empty()) s += " " + a.key;
    if (a.count) s += " n=" + std::to_string(*a.count);
    return s;
}

std::vector<std::string> Play(const std::vector<Input>& script) {
    ActivityCoalescer c;
    std::vector<std::string> out;
    for (const Input& in : script) {
        std::vector<Activity> got;
        switch (in.kind) {
            case Input::Key:
                got = DescribeKeyChord(c, in.vk, in.mods.find('c') != std::string::npos,
                                       in.mods.find('a') != std::string::npos, in.mods.find('w') != std::string::npos,
                                       in.t);
                break;
            case Input::Button: got = DescribeMouseAction(c, in.button, in.x, in.y, in.t); break;
            case Input::Wheel: got = c.NoteWheel(in.x, in.y, in.t); break;
            case Input::Flush: got = c.Flush(in.t); break;
        }
        for (const Activity& a : got) out.push_back(Text(a));
    }
    return out;
}

struct Case {
    const char* name;
    std::vector<Input> script;
    std::vector<std::string> expected;
};

TEST(ActivityCoalescer, ScriptsGiveTheirActivitiesInOrder) {
    const std::vector<Case> cases = {
        {"typing run ends when idle", {K('A', 0), K('B', 100), K('C', 200), K('D', 300), K('E', 400), F(1299), F(1300)},
         {"keyboard typing n=5"}},
        {"a named key ends the run first", {K('A', 0), K('B', 10), K('C', 20), K(0x0D, 30)},
         {"keyboard typing n=3", "keyboard key enter"}},
        {"shift and locks neither type nor end a run",
         {K('A', 0), K(0x10, 10), K(0xA0, 20), K(0x14, 30), K('B', 40), F(940)}, {"keyboard typing n=2"}},
        {"chords", {K('S', 0, "c"), K(0xBA, 1, "c"), K('E', 2, "w"), K(0x2E, 3, "ca"), K('5', 4, "c"), K(0x20, 5, "a"),
                    K(0x73, 6, "a"), K(0x41, 7, "caw")},
         {"keyboard key ctrl+s", "keyboard key ctrl+vkba", "keyboard key win+e", "keyboard key ctrl+alt+delete",
          "keyboard key ctrl+5", "keyboard key alt+space", "keyboard key alt+f4", "keyboard key ctrl+alt+win+a"}},
        {"modifier keys alone say nothing", {K(0x11, 0, "c"), K(0x12, 0, "a"), K(0x5B, 0, "w"), K(0xA5, 0, "a")}, {}},
        {"double-click within time and slop, third click afresh",
         {B("left", 100, 100, 0), B("left", 103, 97, 400), B("left", 103, 97, 700)},
         {"mouse click 100,100", "mouse double-click 103,97", "mouse click 103,97"}},
        {"double-click boundaries: 500 ms pairs, 501 ms or 5 px do not",
         {B("left", 0, 0, 0), B("left", 0, 0, 500), B("left", 0, 0, 2000), B("left", 0, 0, 2501), B("left", 5, 0, 2600)},
         {"mouse click 0,0", "mouse double-click 0,0", "mouse click 0,0", "mouse click 0,0", "mouse click 5,0"}},
        {"right and middle clicks leave the click memory alone",
         {B("left", 1, 1, 0), B("right", 1, 1, 50), B("x1", 1, 1, 60), B("left", 1, 1, 100)},
         {"mouse click 1,1", "mouse right-click 1,1", "mouse middle-click 1,1", "mouse double-click 1,1"}},
        {"wheel run at its first notch, reported when idle",
         {W(100, 200, 0), W(140, 260, 100), W(150, 270, 200), F(799), F(800)}, {"mouse wheel 100,200 n=3"}},
        {"a wheel notch ends a typing run at once", {K('A', 0), K('B', 10), W(5, 6, 20), F(620)},
         {"keyboard typing n=2", "mouse wheel 5,6 n=1"}},
        {"typing ends a wheel run at once", {W(5, 6, 0), W(5, 6, 10), K('A', 20), F(100), F(920)},
         {"mouse wheel 5,6 n=2", "keyboard typing n=1"}},
        {"a click ends typing and wheel runs before it", {K('A', 0), B("left", 7, 8, 10), W(1, 2, 20), B("right", 3, 4, 30)},
         {"keyboard typing n=1", "mouse click 7,8", "mouse wheel 1,2 n=1", "mouse right-click 3,4"}},
        {"a chord ends a wheel run before it", {W(1, 1, 0), K('C', 5, "c")}, {"mouse wheel 1,1 n=1", "keyboard key ctrl+c"}},
        {"clock and pointer extremes do not wrap",
         {B("left", INT_MIN, 0, LLONG_MAX), B("left", INT_MAX, 0, LLONG_MIN), K('A', LLONG_MIN), F(LLONG_MAX)},
         {"mouse click -2147483648,0", "mouse click 2147483647,0", "keyboard typing n=1"}},
    };
    for (const Case& c : cases) EXPECT_EQ(Play(c.script), c.expected) << c.name;
}

TEST(ActivityCoalescer, KeyNamesAtTheirBoundaries) {
    const std::vector<std::pair<uint32_t, std::optional<std::string>>> cases = {
        {0x08, "backspace"}, {0x2C, "printscreen"}, {0x2E, "delete"}, {0x70, "f1"}, {0x87, "f24"},
        {0x6F, std::nullopt}, {0x88, std::nullopt}, {0x2B, std::nullopt}, {0x41, std::nullopt}, {0x10070, std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(sv::training::KeyName(c.first), c.second) << c.first;
}

}  // namespace
