#include "training/win32/activity_monitor.h"

#include <windows.h>
#include <objbase.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "base/annotated_mutex.h"
#include "base/audit_log.h"
#include "base/elapsed_time.h"
#include "training/win32/window_info.h"

namespace sv {
namespace training {

namespace {

WindowQueries SystemWindowQueries() {
    WindowQueries q;
    q.isVisibleRoot = [](uint64_t value) {
        HWND hwnd = ToHwnd(value);
        return GetAncestor(hwnd, GA_ROOT) == hwnd && IsWindowVisible(hwnd) != FALSE;
    };
    q.hasOwner = [](uint64_t value) { return GetWindow(ToHwnd(value), GW_OWNER) != nullptr; };
    q.className = GetWindowClassName;
    q.describe = [](uint64_t value) { return DescribeWindow(value); };
    q.ownProcessId = GetCurrentProcessId();
    return q;
}

// What the hook thread tells its starter; shared with the thread so that a Start that
// stopped waiting leaves it valid.
struct HookThreadSignal {
    Mutex mutex;
    CondVar cv;
    bool ready SV_GUARDED_BY(mutex) = false;  // hooks installed, message queue in place
    DWORD threadId SV_GUARDED_BY(mutex) = 0;

    void Set(DWORD id) SV_EXCLUDES(mutex) {
        {
            MutexLock lock(mutex);
            ready = true;
            threadId = id;
        }
        cv.NotifyAll();
    }
};

class ActivityMonitor : public IActivitySource {
public:
    explicit ActivityMonitor(ActivityInterpreter interpreter)
        : worker_(kMaxWaitingCallbacks),
          core_(*this, worker_, std::move(interpreter), SystemWindowQueries(), SteadyMilliseconds) {}

    ~ActivityMonitor() override {
        Stop();
        OnDialog = nullptr;
        OnForeground = nullptr;
        OnActivity = nullptr;
        OnTraineeActive = nullptr;
    }

    void Start() override SV_EXCLUDES(stateMutex_) {
        MutexLock lock(stateMutex_);
        if (hookThread_.joinable()) return;
        core_.BeginCallbacks();
        worker_.Start([] { CoInitializeEx(nullptr, COINIT_MULTITHREADED); }, [] { CoUninitialize(); });
        signal_ = std::make_shared<HookThreadSignal>();
        hookThread_ = std::thread(&ActivityMonitor::HookThreadMain, this, signal_);
        HookThreadSignal* signal = signal_.get();
        MutexLock wait(signal->mutex);
        signal->cv.WaitFor(wait, std::chrono::milliseconds(5000),
                           [signal]() SV_REQUIRES(signal->mutex) { return signal->ready; });
    }

    // Joins the hook thread, whose hook procedures only note and queue (they call nothing
    // that waits on another thread), and stops the callbacks within their bound: every
    // session's end comes here, and a window query on the worker may never return.
    void Stop() override SV_EXCLUDES(stateMutex_) {
        MutexLock lock(stateMutex_);
        if (!hookThread_.joinable()) return;
        DWORD id = 0;
        {
            // The thread signals as soon as its queue exists, even when a hook failed; a
            // quit posted before that would be lost.
            HookThreadSignal* signal = signal_.get();
            MutexLock wait(signal->mutex);
            signal->cv.Wait(wait, [signal]() SV_REQUIRES(signal->mutex) { return signal->ready; });
            id = signal->threadId;
        }
        PostThreadMessageW(id, WM_QUIT, 0, 0);
        hookThread_.join();
        if (!core_.EndCallbacks(kCallbackStopBound)) {
            WriteAuditLine("training-hooks", "a window query outlived the monitor's stop and was left to end alone",
                           "");
        }
    }

private:
    static thread_local ActivityMonitor* t_monitor;

    static LRESULT CALLBACK MouseHookProc(int code, WPARAM message, LPARAM record) {
        if (code >= 0 && t_monitor != nullptr) {
            const auto* r = reinterpret_cast<const MSLLHOOKSTRUCT*>(record);
            t_monitor->core_.OnMouse(static_cast<uint32_t>(message), r->flags, r->pt.x, r->pt.y);
        }
        return CallNextHookEx(nullptr, code, message, record);
    }

    static LRESULT CALLBACK KeyboardHookProc(int code, WPARAM message, LPARAM record) {
        if (code >= 0 && t_monitor != nullptr) {
            const auto* r = reinterpret_cast<const KBDLLHOOKSTRUCT*>(record);
            t_monitor->core_.OnKeyboard(static_cast<uint32_t>(message), r->vkCode, r->flags);
        }
        return CallNextHookEx(nullptr, code, message, record);
    }

    static void CALLBACK WinEventProc(HWINEVENTHOOK, DWORD event, HWND hwnd, LONG objectId, LONG childId, DWORD,
                                      DWORD) {
        if (t_monitor == nullptr) return;
        t_monitor->core_.OnWinEvent(event, FromHwnd(hwnd), objectId, childId);
    }

    void HookThreadMain(std::shared_ptr<HookThreadSignal> signal) {
        // The hook procedures run on this thread only: each hook thread drives its own monitor.
        t_monitor = this;
        MSG msg;
        PeekMessageW(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);

        HINSTANCE module = GetModuleHandleW(nullptr);
        HHOOK mouse = SetWindowsHookExW(WH_MOUSE_LL, MouseHookProc, module, 0);
        HHOOK keys = SetWindowsHookExW(WH_KEYBOARD_LL, KeyboardHookProc, module, 0);
        const DWORD error = GetLastError();
        const DWORD flags = WINEVENT_OUTOFCONTEXT | WINEVENT_SKIPOWNPROCESS;
        HWINEVENTHOOK events[3] = {
            SetWinEventHook(EVENT_SYSTEM_FOREGROUND, EVENT_SYSTEM_FOREGROUND, nullptr, WinEventProc, 0, 0, flags),
            SetWinEventHook(EVENT_SYSTEM_DIALOGSTART, EVENT_SYSTEM_DIALOGSTART, nullptr, WinEventProc, 0, 0, flags),
            SetWinEventHook(EVENT_OBJECT_SHOW, EVENT_OBJECT_SHOW, nullptr, WinEventProc, 0, 0, flags),
        };
        if (mouse == nullptr || keys == nullptr) {
            WriteAuditLine("training-hooks",
                           std::string("hook install failed mouse=") + (mouse ? "True" : "False") +
                               " keys=" + (keys ? "True" : "False") + " err=" + std::to_string(error),
                           "");
        }
        UINT_PTR timer = SetTimer(nullptr, 0, 250, nullptr);
        signal->Set(GetCurrentThreadId());

        while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
            if (msg.message == WM_TIMER) core_.OnTimer();
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }

        if (timer != 0) KillTimer(nullptr, timer);
        if (mouse != nullptr) UnhookWindowsHookEx(mouse);
        if (keys != nullptr) UnhookWindowsHookEx(keys);
        for (HWINEVENTHOOK hook : events) {
            if (hook != nullptr) UnhookWinEvent(hook);
        }
        t_monitor = nullptr;
    }

    Mutex stateMutex_;
    std::thread hookThread_ SV_GUARDED_BY(stateMutex_);
    std::shared_ptr<HookThreadSignal> signal_ SV_GUARDED_BY(stateMutex_);
    CallbackWorker worker_;
    ActivityMonitorCore core_;
};

thread_local ActivityMonitor* ActivityMonitor::t_monitor = nullptr;

}  // namespace

std::unique_ptr<IActivitySource> MakeActivityMonitor(ActivityInterpreter interpreter) {
    return std::make_unique<ActivityMonitor>(std::move(interpreter));
}

std::unique_ptr<IActivitySource> MakeActivityMonitor() { return MakeActivityMonitor(DefaultActivityInterpreter()); }

}  // namespace training
}  // namespace sv
