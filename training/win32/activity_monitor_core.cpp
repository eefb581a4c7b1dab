#include "training/win32/activity_monitor_core.h"

#include <algorithm>
#include <memory>
#include <utility>

#include "training/activity_coalescer.h"
#include "base/elapsed_time.h"

namespace sv {
namespace training {

namespace {

bool IsNeverADialogClass(const std::string& name) {
    static const char* const kClasses[] = {"#32768", "tooltips_class32", "SysShadow", "ComboLBox", "IME",
                                           "MSCTFIME UI"};
    for (const char* c : kClasses) {
        if (name == c) return true;
    }
    return false;
}

}  // namespace

bool IsReportableDialog(const WindowInfo& window, uint32_t ownProcessId) {
    if (window.processId == ownProcessId) return false;
    if (IsNeverADialogClass(window.className)) return false;
    if (window.title.empty() && window.className != "#32770") return false;
    return window.rect.width >= 40 && window.rect.height >= 30;
}

ActivityInterpreter DefaultActivityInterpreter() {
    // Hook observations become typing runs, wheel runs, clicks and named keys through one
    // coalescer, driven from the hook thread only.
    auto coalescer = std::make_shared<ActivityCoalescer>();
    ActivityInterpreter in;
    in.flush = [coalescer](int64_t now) { return coalescer->Flush(now); };
    in.keyDown = [coalescer](uint32_t vk, bool control, bool alt, bool win, int64_t now) {
        return DescribeKeyChord(*coalescer, vk, control, alt, win, now);
    };
    in.buttonDown = [coalescer](const std::string& button, int32_t x, int32_t y, int64_t now) {
        return DescribeMouseAction(*coalescer, button, x, y, now);
    };
    in.wheel = [coalescer](int32_t x, int32_t y, int64_t now) { return coalescer->NoteWheel(x, y, now); };
    return in;
}

ActivityMonitorCore::ActivityMonitorCore(IActivitySource& source, CallbackWorker& worker,
                                         ActivityInterpreter interpreter, WindowQueries windows,
                                         std::function<int64_t()> clock)
    : source_(source),
      worker_(worker),
      interpreter_(std::move(interpreter)),
      windows_(std::move(windows)),
      clock_(std::move(clock)) {}

void ActivityMonitorCore::BeginCallbacks() { delivering_ = std::make_shared<EntryGate>(); }

bool ActivityMonitorCore::EndCallbacks(std::chrono::milliseconds bound) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    const bool returned = delivering_->Close(bound) == 0;
    const auto left = std::max(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   deadline - std::chrono::steady_clock::now()),
                               std::chrono::milliseconds(0));
    return worker_.StopWithin(left) && returned;
}

// A clock that steps back would hold every throttle, idle run and dialog repeat until it
// caught up again: the step is taken up into the skew and time here stands still once.
int64_t ActivityMonitorCore::Now() {
    int64_t now = Elapsed(clock_ ? clock_() : 0, -skew_);
    if (lastNow_ && now < *lastNow_) {
        skew_ = Elapsed(skew_, Elapsed(now, *lastNow_));
        now = *lastNow_;
    }
    lastNow_ = now;
    return now;
}

void ActivityMonitorCore::OnMouse(uint32_t message, uint32_t flags, int32_t x, int32_t y) {
    if ((flags & kMouseInjectedBits) != 0) return;
    const int64_t now = Now();
    NotifyTraineeActive(now);
    const char* button = nullptr;
    switch (message) {
    case kMsgLeftDown:
        button = "left";
        break;
    case kMsgRightDown:
        button = "right";
        break;
    case kMsgMiddleDown:
        button = "middle";
        break;
    case kMsgWheel:
        if (interpreter_.wheel) PostActivities(interpreter_.wheel(x, y, now));
        return;
    default:
        return;
    }
    if (interpreter_.buttonDown) PostActivities(interpreter_.buttonDown(button, x, y, now));
}

void ActivityMonitorCore::OnKeyboard(uint32_t message, uint32_t vk, uint32_t flags) {
    const bool down = message == kMsgKeyDown || message == kMsgSysKeyDown;
    // Modifiers follow every key, injected ones too: a chord the trainee finishes after the
    // host injected its modifier must still read as that chord.
    if (vk == 17 || vk == 162 || vk == 163) modifiers_.control = down;
    if (vk == 18 || vk == 164 || vk == 165) modifiers_.alt = down;
    if (vk == 91 || vk == 92) modifiers_.win = down;
    if ((flags & kKeyInjectedBits) != 0) return;
    const int64_t now = Now();
    NotifyTraineeActive(now);
    if (down && interpreter_.keyDown) {
        PostActivities(interpreter_.keyDown(vk, modifiers_.control, modifiers_.alt, modifiers_.win, now));
    }
}

void ActivityMonitorCore::OnTimer() {
    const int64_t now = Now();
    if (interpreter_.flush) PostActivities(interpreter_.flush(now));
}

// Each task carries a copy of its callback, taken here on the hook thread (the callbacks
// are set before the hooks start and cleared after they end), and calls it only through
// the delivery gate: a callback may end the session and with it the monitor, which no
// task touches, and a task let go at a stop's bound (its window query did not return)
// finds the gate shut when it comes back.
void ActivityMonitorCore::OnWinEvent(uint32_t event, uint64_t hwnd, int32_t objectId, int32_t childId) {
    if (hwnd == 0 || objectId != 0 || childId != 0) return;
    auto describe = windows_.describe;
    const uint32_t ownPid = windows_.ownProcessId;
    std::shared_ptr<EntryGate> gate = delivering_;
    if (event == kEventForeground) {
        // Described when the task runs: no window query inside the hook.
        worker_.Post([onForeground = source_.OnForeground, gate, describe, ownPid, hwnd] {
            std::optional<WindowInfo> window = describe ? describe(hwnd) : std::nullopt;
            if (!window || window->processId == ownPid) return;
            EntryGate::Pass pass(*gate);
            if (pass.Entered() && onForeground) onForeground(*window);
        });
        return;
    }
    if (event != kEventDialogStart && event != kEventObjectShow) return;
    if (!windows_.isVisibleRoot || !windows_.isVisibleRoot(hwnd)) return;
    if (event == kEventObjectShow) {
        const bool owned = windows_.hasOwner && windows_.hasOwner(hwnd);
        if (!owned && (!windows_.className || windows_.className(hwnd) != "#32770")) return;
    }
    if (!RememberDialog(hwnd, Now())) return;
    worker_.Post([onDialog = source_.OnDialog, gate, describe, ownPid, hwnd] {
        std::optional<WindowInfo> window = describe ? describe(hwnd) : std::nullopt;
        if (!window || !IsReportableDialog(*window, ownPid)) return;
        EntryGate::Pass pass(*gate);
        if (pass.Entered() && onDialog) onDialog(*window);
    });
}

void ActivityMonitorCore::NotifyTraineeActive(int64_t now) {
    if (lastActiveNotice_ && Elapsed(now, *lastActiveNotice_) < kTraineeActiveEveryMs) return;
    lastActiveNotice_ = now;
    worker_.Post([onTraineeActive = source_.OnTraineeActive, gate = delivering_] {
        EntryGate::Pass pass(*gate);
        if (pass.Entered() && onTraineeActive) onTraineeActive();
    });
}

void ActivityMonitorCore::PostActivities(const std::vector<Activity>& activities) {
    for (const Activity& activity : activities) {
        worker_.Post([onActivity = source_.OnActivity, gate = delivering_, activity] {
            EntryGate::Pass pass(*gate);
            if (pass.Entered() && onActivity) onActivity(activity);
        });
    }
}

bool ActivityMonitorCore::RememberDialog(uint64_t hwnd, int64_t now) {
    auto found = recentDialogs_.find(hwnd);
    if (found != recentDialogs_.end() && Elapsed(now, found->second) < kDialogRepeatMs) return false;
    recentDialogs_[hwnd] = now;
    if (recentDialogs_.size() > kDialogMemoryPruneAbove) {
        for (auto it = recentDialogs_.begin(); it != recentDialogs_.end();) {
            if (Elapsed(now, it->second) > kDialogMemoryMaxAgeMs) {
                it = recentDialogs_.erase(it);
            } else {
                ++it;
            }
        }
    }
    return true;
}

}  // namespace training
}  // namespace sv
