#pragma once
// What the activity monitor makes of each hook observation, apart from the hooks themselves:
// injected input, modifier state, the trainee-active throttle, the dialog filter and its
// de-duplication. Everything here runs on the monitor's hook thread except the posted
// tasks, which run on its callback worker; Windows is reached only through `WindowQueries`.
// Intervals are measured on the clock the core is given (a steady one): no time is reported
// from here, the agent stamps its events itself.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "training/entry_gate.h"
#include "training/training_interfaces.h"
#include "training/training_records.h"
#include "training/win32/callback_worker.h"

namespace sv {
namespace training {

// Window messages and events the hooks report (values as Windows defines them).
constexpr uint32_t kMsgKeyDown = 256;
constexpr uint32_t kMsgSysKeyDown = 260;
constexpr uint32_t kMsgLeftDown = 513;
constexpr uint32_t kMsgRightDown = 516;
constexpr uint32_t kMsgMiddleDown = 519;
constexpr uint32_t kMsgWheel = 522;
constexpr uint32_t kEventForeground = 3;
constexpr uint32_t kEventDialogStart = 0x10;
constexpr uint32_t kEventObjectShow = 0x8002;
// Injected-input bits of the low-level hook records (plain and lower-integrity injection).
constexpr uint32_t kMouseInjectedBits = 0x3;
constexpr uint32_t kKeyInjectedBits = 0x12;

constexpr size_t kMaxWaitingCallbacks = 1000;
constexpr int64_t kTraineeActiveEveryMs = 150;
constexpr int64_t kDialogRepeatMs = 2000;
constexpr size_t kDialogMemoryPruneAbove = 64;
constexpr int64_t kDialogMemoryMaxAgeMs = 10000;
// How long a stop waits for the callbacks under way (a session's end waits for it).
constexpr std::chrono::milliseconds kCallbackStopBound{2000};

// The coalescer's entry points: each returns the finished activities in the order they
// happened. An empty function produces nothing.
struct ActivityInterpreter {
    std::function<std::vector<Activity>(int64_t now)> flush;
    std::function<std::vector<Activity>(uint32_t vk, bool control, bool alt, bool win, int64_t now)> keyDown;
    std::function<std::vector<Activity>(const std::string& button, int32_t x, int32_t y, int64_t now)> buttonDown;
    std::function<std::vector<Activity>(int32_t x, int32_t y, int64_t now)> wheel;
};

// The interpreter each new monitor gets by default: one coalescer behind all four entry
// points.
ActivityInterpreter DefaultActivityInterpreter();

// What the monitor asks of the window system.
struct WindowQueries {
    std::function<bool(uint64_t hwnd)> isVisibleRoot;  // its own root window, and visible
    std::function<bool(uint64_t hwnd)> hasOwner;
    std::function<std::string(uint64_t hwnd)> className;
    std::function<std::optional<WindowInfo>(uint64_t hwnd)> describe;
    uint32_t ownProcessId = 0;
};

struct ModifierState {
    bool control = false;
    bool alt = false;
    bool win = false;
};

// Whether a described window is worth a dialog report: another process's, not a menu,
// tooltip, shadow, drop-down list or input-method window, titled or a dialog box, and at
// least 40 by 30 pixels.
bool IsReportableDialog(const WindowInfo& window, uint32_t ownProcessId);

class ActivityMonitorCore {
public:
    // `clock` gives milliseconds; read on the hook thread only.
    ActivityMonitorCore(IActivitySource& source, CallbackWorker& worker, ActivityInterpreter interpreter,
                        WindowQueries windows, std::function<int64_t()> clock);

    // Callbacks are delivered from here on (a fresh start after an end); call it before
    // the hook thread starts.
    void BeginCallbacks();
    // No callback is delivered from here on; the one under way gets up to `bound` to
    // return, then the worker is stopped within what is left. A task still running after
    // that (a window query that does not return) is let go: it never touches the monitor
    // again. True when nothing was left running. Call it once the hook thread has ended.
    bool EndCallbacks(std::chrono::milliseconds bound);

    void OnMouse(uint32_t message, uint32_t flags, int32_t x, int32_t y);
    void OnKeyboard(uint32_t message, uint32_t vk, uint32_t flags);
    void OnTimer();
    void OnWinEvent(uint32_t event, uint64_t hwnd, int32_t objectId, int32_t childId);

    ModifierState Modifiers() const { return modifiers_; }
    size_t RememberedDialogs() const { return recentDialogs_.size(); }

private:
    int64_t Now();
    void NotifyTraineeActive(int64_t now);
    void PostActivities(const std::vector<Activity>& activities);
    bool RememberDialog(uint64_t hwnd, int64_t now);

    IActivitySource& source_;
    CallbackWorker& worker_;
    // Each task passes it to reach the monitor's callbacks; the end shuts it.
    std::shared_ptr<EntryGate> delivering_ = std::make_shared<EntryGate>();
    ActivityInterpreter interpreter_;
    WindowQueries windows_;
    std::function<int64_t()> clock_;
    int64_t skew_ = 0;  // added to the clock so that time here never runs backwards
    std::optional<int64_t> lastNow_;
    ModifierState modifiers_;
    std::optional<int64_t> lastActiveNotice_;
    std::map<uint64_t, int64_t> recentDialogs_;
};

}  // namespace training
}  // namespace sv
