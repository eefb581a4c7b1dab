#include "session/input/input_records.h"

#include <algorithm>
#include <cmath>
#include <unordered_map>

#include "base/case_fold.h"

namespace sv {
namespace {

INPUT KeyEvent(uint16_t vk, uint16_t scan, uint32_t flags) {
    INPUT in;
    ZeroMemory(&in, sizeof(in));
    in.type = INPUT_KEYBOARD;
    in.ki.wVk = vk;
    in.ki.wScan = scan;
    in.ki.dwFlags = flags;
    in.ki.time = 0;
    in.ki.dwExtraInfo = 0;
    return in;
}

const std::unordered_map<std::string, uint16_t>& NamedKeys() {
    static const std::unordered_map<std::string, uint16_t> table = [] {
        std::unordered_map<std::string, uint16_t> t = {
            {"enter", 13}, {"return", 13}, {"tab", 9},     {"escape", 27},  {"esc", 27},     {"backspace", 8},
            {"delete", 46}, {"insert", 45}, {"space", 32},  {"home", 36},    {"end", 35},     {"pageup", 33},
            {"pagedown", 34}, {"left", 37}, {"up", 38},     {"right", 39},   {"down", 40},
        };
        for (int i = 1; i <= 12; ++i) t["f" + std::to_string(i)] = static_cast<uint16_t>(111 + i);
        return t;
    }();
    return table;
}

// A fraction of the screen as a pixel index in 0..extent-1. The fraction is clamped first:
// converting an out-of-range double to an integer is undefined behaviour.
int64_t FractionToPixel(double fraction, int32_t extent) {
    if (std::isnan(fraction) || fraction < 0.0) fraction = 0.0;
    if (fraction > 1.0) fraction = 1.0;
    int64_t p = static_cast<int64_t>(static_cast<double>(extent) * fraction);
    return std::min<int64_t>(std::max<int64_t>(p, 0), static_cast<int64_t>(extent) - 1);
}

}  // namespace

uint32_t MouseButtonFlags(const std::string& kind, const std::string& button) {
    if (kind == "down") {
        if (button == "left") return MOUSEEVENTF_LEFTDOWN;
        if (button == "right") return MOUSEEVENTF_RIGHTDOWN;
    } else if (kind == "up") {
        if (button == "left") return MOUSEEVENTF_LEFTUP;
        if (button == "right") return MOUSEEVENTF_RIGHTUP;
    }
    return 0;
}

uint16_t KeyNameToVirtualKey(const std::string& name) {
    std::string lower = AsciiLower(name);
    const auto& table = NamedKeys();
    auto it = table.find(lower);
    if (it != table.end()) return it->second;
    if (lower.size() == 1) {
        char c = lower[0];
        if (c >= 'a' && c <= 'z') return static_cast<uint16_t>(c - 'a' + 'A');
        if (c >= '0' && c <= '9') return static_cast<uint16_t>(c);
    }
    return 0;
}

uint16_t ModifierToVirtualKey(const std::string& name) {
    std::string lower = AsciiLower(name);
    if (lower == "ctrl" || lower == "control") return VK_CONTROL;
    if (lower == "shift") return VK_SHIFT;
    if (lower == "alt") return VK_MENU;
    if (lower == "win" || lower == "meta") return VK_LWIN;
    return 0;
}

bool PointerToAbsolute(double x, double y, int32_t screenWidth, int32_t screenHeight, int32_t& dx, int32_t& dy) {
    if (screenWidth <= 0 || screenHeight <= 0) return false;
    int64_t px = FractionToPixel(x, screenWidth);
    int64_t py = FractionToPixel(y, screenHeight);
    dx = static_cast<int32_t>(px * 65535 / std::max<int64_t>(static_cast<int64_t>(screenWidth) - 1, 1));
    dy = static_cast<int32_t>(py * 65535 / std::max<int64_t>(static_cast<int64_t>(screenHeight) - 1, 1));
    return true;
}

bool BuildPointerInput(const std::string& kind, double x, double y, const std::string& button,
                       int32_t screenWidth, int32_t screenHeight, INPUT& out) {
    int32_t dx = 0;
    int32_t dy = 0;
    if (!PointerToAbsolute(x, y, screenWidth, screenHeight, dx, dy)) return false;
    ZeroMemory(&out, sizeof(out));
    out.type = INPUT_MOUSE;
    out.mi.dx = dx;
    out.mi.dy = dy;
    out.mi.mouseData = 0;
    out.mi.dwFlags = kPointerMoveFlags | MouseButtonFlags(kind, button);
    out.mi.time = 0;
    out.mi.dwExtraInfo = 0;
    return true;
}

bool BuildKeyInputs(const std::string& key, const std::vector<std::string>& modifiers, std::vector<INPUT>& out) {
    uint16_t vk = KeyNameToVirtualKey(key);
    if (vk == 0) return false;
    std::vector<uint16_t> held;
    for (const std::string& name : modifiers) {
        uint16_t m = ModifierToVirtualKey(name);
        if (m != 0) held.push_back(m);
    }
    out.reserve(out.size() + held.size() * 2 + 2);
    for (uint16_t m : held) out.push_back(KeyEvent(m, 0, 0));
    out.push_back(KeyEvent(vk, 0, 0));
    out.push_back(KeyEvent(vk, 0, KEYEVENTF_KEYUP));
    for (auto it = held.rbegin(); it != held.rend(); ++it) out.push_back(KeyEvent(*it, 0, KEYEVENTF_KEYUP));
    return true;
}

size_t AppendTextInputs(const std::wstring& text, size_t start, size_t maxEvents, std::vector<INPUT>& out) {
    // Each unit needs room for two events; always make progress even with a tiny limit.
    if (maxEvents < out.size() + 2) maxEvents = out.size() + 2;
    size_t i = start;
    for (; i < text.size(); ++i) {
        uint16_t c = static_cast<uint16_t>(text[i]);
        if (c == 13) continue;
        if (out.size() + 2 > maxEvents) break;
        if (c == 10) {
            out.push_back(KeyEvent(VK_RETURN, 0, 0));
            out.push_back(KeyEvent(VK_RETURN, 0, KEYEVENTF_KEYUP));
        } else {
            out.push_back(KeyEvent(0, c, KEYEVENTF_UNICODE));
            out.push_back(KeyEvent(0, c, KEYEVENTF_UNICODE | KEYEVENTF_KEYUP));
        }
    }
    return i;
}

}  // namespace sv
