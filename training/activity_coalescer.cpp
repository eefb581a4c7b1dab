#include "training/activity_coalescer.h"

#include <cstdio>

#include "base/elapsed_time.h"

namespace sv {
namespace training {

namespace {

bool IsModifierOrLock(uint32_t vk) {
    switch (vk) {
        case 0x10:  // shift
        case 0x11:  // ctrl
        case 0x12:  // alt
        case 0x14:  // caps lock
        case 0x5B:  // left win
        case 0x5C:  // right win
        case 0x90:  // num lock
        case 0x91:  // scroll lock
            return true;
        default:
            return vk >= 0xA0 && vk <= 0xA5;  // left/right shift, ctrl, alt
    }
}

std::string KeyText(uint32_t vk) {
    if (std::optional<std::string> name = KeyName(vk)) return *name;
    if (vk >= 0x30 && vk <= 0x39) return std::string(1, static_cast<char>(vk));
    if (vk >= 0x41 && vk <= 0x5A) return std::string(1, static_cast<char>(vk - 0x41 + 'a'));
    if (vk == 0x20) return "space";
    char buf[16];
    std::snprintf(buf, sizeof buf, "vk%02x", static_cast<unsigned>(vk));
    return buf;
}

void Append(std::vector<Activity>& to, std::vector<Activity> from) {
    for (Activity& a : from) to.push_back(std::move(a));
}

Activity Mouse(const char* action, int32_t x, int32_t y) {
    Activity a;
    a.device = "mouse";
    a.action = action;
    a.x = x;
    a.y = y;
    return a;
}

}  // namespace

std::vector<Activity> ActivityCoalescer::FlushTyping() {
    std::vector<Activity> out;
    if (typingCount_ > 0) {
        Activity a;
        a.device = "keyboard";
        a.action = "typing";
        a.count = typingCount_;
        out.push_back(std::move(a));
        typingCount_ = 0;
    }
    return out;
}

std::vector<Activity> ActivityCoalescer::FlushWheel() {
    std::vector<Activity> out;
    if (wheelCount_ > 0) {
        Activity a = Mouse("wheel", wheelX_, wheelY_);
        a.count = wheelCount_;
        out.push_back(std::move(a));
        wheelCount_ = 0;
    }
    return out;
}

std::vector<Activity> ActivityCoalescer::Flush(int64_t now) {
    std::vector<Activity> out;
    if (typingCount_ > 0 && Elapsed(now, lastTypingMs_) >= typingIdleMs) Append(out, FlushTyping());
    if (wheelCount_ > 0 && Elapsed(now, lastWheelMs_) >= wheelIdleMs) Append(out, FlushWheel());
    return out;
}

std::vector<Activity> ActivityCoalescer::NoteWheel(int32_t x, int32_t y, int64_t t) {
    std::vector<Activity> out = FlushTyping();
    if (wheelCount_ == 0) {
        wheelX_ = x;
        wheelY_ = y;
    }
    if (wheelCount_ < INT32_MAX) ++wheelCount_;
    lastWheelMs_ = t;
    return out;
}

std::vector<Activity> ActivityCoalescer::NoteTypingKey(int64_t t) {
    // Typing after scrolling happened after it: report the scroll first, or the two
    // runs would come out in the wrong order when both go idle.
    std::vector<Activity> out = FlushWheel();
    if (typingCount_ < INT32_MAX) ++typingCount_;
    lastTypingMs_ = t;
    return out;
}

Activity ActivityCoalescer::NoteLeftClick(int32_t x, int32_t y, int64_t t) {
    int64_t dx = static_cast<int64_t>(x) - lastClickX_;
    int64_t dy = static_cast<int64_t>(y) - lastClickY_;
    int64_t since = Elapsed(t, lastClickMs_);
    // A clock that stepped back says nothing about how close the clicks were.
    bool pairs = since >= 0 && since <= doubleClickMs && dx >= -kDoubleClickSlop && dx <= kDoubleClickSlop &&
                 dy >= -kDoubleClickSlop && dy <= kDoubleClickSlop;
    lastClickMs_ = pairs ? kLongAgo : t;  // a third click starts afresh
    lastClickX_ = x;
    lastClickY_ = y;
    return Mouse(pairs ? "double-click" : "click", x, y);
}

std::optional<std::string> KeyName(uint32_t vk) {
    switch (vk) {
        case 0x08: return "backspace";
        case 0x09: return "tab";
        case 0x0D: return "enter";
        case 0x1B: return "escape";
        case 0x21: return "pageup";
        case 0x22: return "pagedown";
        case 0x23: return "end";
        case 0x24: return "home";
        case 0x25: return "left";
        case 0x26: return "up";
        case 0x27: return "right";
        case 0x28: return "down";
        case 0x2C: return "printscreen";
        case 0x2D: return "insert";
        case 0x2E: return "delete";
        default: break;
    }
    if (vk >= 0x70 && vk <= 0x87) return "f" + std::to_string(vk - 0x6F);
    return std::nullopt;
}

std::vector<Activity> DescribeKeyChord(ActivityCoalescer& coalescer, uint32_t vk, bool ctrl, bool alt, bool win,
                                       int64_t t) {
    if (IsModifierOrLock(vk)) return {};
    bool named = KeyName(vk).has_value();
    if (!named && !ctrl && !alt && !win) return coalescer.NoteTypingKey(t);
    std::vector<Activity> out = coalescer.FlushTyping();
    Append(out, coalescer.FlushWheel());
    std::string text;
    if (ctrl) text += "ctrl+";
    if (alt) text += "alt+";
    if (win) text += "win+";
    text += KeyText(vk);
    Activity a;
    a.device = "keyboard";
    a.action = "key";
    a.key = std::move(text);
    out.push_back(std::move(a));
    return out;
}

std::vector<Activity> DescribeMouseAction(ActivityCoalescer& coalescer, const std::string& button, int32_t x,
                                          int32_t y, int64_t t) {
    std::vector<Activity> out = coalescer.FlushTyping();
    Append(out, coalescer.FlushWheel());
    if (button == "left") {
        out.push_back(coalescer.NoteLeftClick(x, y, t));
    } else {
        out.push_back(Mouse(button == "right" ? "right-click" : "middle-click", x, y));
    }
    return out;
}

}  // namespace training
}  // namespace sv
