#pragma once
// Turns the trainee's raw key strokes, wheel notches and clicks into the few words a trainer
// can reason about: typing runs, wheel runs, clicks and double-clicks, named keys and chords.
// Called from one hook thread only; no lock. Times are milliseconds of the caller's clock.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "training/training_records.h"

namespace sv {
namespace training {

class ActivityCoalescer {
public:
    // A click time long past, so the first click can never pair into a double-click.
    static constexpr int64_t kLongAgo = -4611686018427387904LL;
    // How far apart (pixels) the two clicks of a double-click may be.
    static constexpr int32_t kDoubleClickSlop = 4;

    int64_t typingIdleMs = 900;
    int64_t doubleClickMs = 500;
    int64_t wheelIdleMs = 600;

    // The pending typing run, if any, ended now.
    std::vector<Activity> FlushTyping();
    // The pending wheel run, if any, ended now.
    std::vector<Activity> FlushWheel();
    // Runs that have been idle long enough by now: typing first, then wheel.
    std::vector<Activity> Flush(int64_t now);
    // One wheel notch at desktop (x, y); ends a typing run.
    std::vector<Activity> NoteWheel(int32_t x, int32_t y, int64_t t);

    // One plain key stroke that counts as typing; ends a wheel run.
    std::vector<Activity> NoteTypingKey(int64_t t);
    // One left click at (x, y): "click", or "double-click" when it pairs with the last one.
    Activity NoteLeftClick(int32_t x, int32_t y, int64_t t);

    int32_t PendingTyping() const { return typingCount_; }
    int32_t PendingWheel() const { return wheelCount_; }

private:
    int32_t typingCount_ = 0;
    int64_t lastTypingMs_ = 0;
    int32_t wheelCount_ = 0;
    int64_t lastWheelMs_ = 0;
    int32_t wheelX_ = 0;
    int32_t wheelY_ = 0;
    int64_t lastClickMs_ = kLongAgo;
    int32_t lastClickX_ = 0;
    int32_t lastClickY_ = 0;
};

// The name of a virtual key that has one ("enter", "f5", ...); nothing for letters, digits
// and everything else.
std::optional<std::string> KeyName(uint32_t vk);

// One key press with the modifiers held (shift is not a modifier here: shifted characters
// are typing). Returns the runs it ends followed by the key, or nothing when the key only
// extends a typing run or is itself a modifier or lock key.
std::vector<Activity> DescribeKeyChord(ActivityCoalescer& coalescer, uint32_t vk, bool ctrl, bool alt, bool win,
                                       int64_t t);

// One button press at desktop (x, y): button "left", "right", or anything else for the
// middle button. Returns the runs it ends followed by the click.
std::vector<Activity> DescribeMouseAction(ActivityCoalescer& coalescer, const std::string& button, int32_t x,
                                          int32_t y, int64_t t);

}  // namespace training
}  // namespace sv
