#pragma once
// Where Windows tells a running host to stop from outside, handed to a StopRequest: the
// console control handler (Ctrl+C, Ctrl+Break, the console window closing, and logoff and
// shutdown where a console program hears them) and a hidden window of its own, since a
// program that has loaded user32 hears of logoff and shutdown by WM_ENDSESSION, never
// by its console handler. Not for the service, which the service manager stops.
#include <windows.h>

#include <optional>
#include <thread>

#include "app/stop_request.h"
#include "base/annotated_mutex.h"

namespace sv {

// The console control code as a cause; none for a code that asks no stop.
std::optional<StopCause> ConsoleStopCause(DWORD code);
// WM_ENDSESSION's flags as a cause: signing out when they say so, else shutting down.
StopCause EndSessionCause(LPARAM flags);

class StopSignals {
public:
    // Installs the console handler, which stays for the process's life (Windows may be
    // running it until the end), and makes the window on a thread of its own. `request`
    // must outlive this.
    explicit StopSignals(StopRequest& request);
    // Closes the window and joins its thread. A WM_ENDSESSION still inside waits for its
    // request, so the request's run should have ended first.
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // The hidden window (null when it could not be made).
    HWND Window() const { return window_; }

private:
    void WindowThread() SV_EXCLUDES(mutex_);

    StopRequest& request_;
    Mutex mutex_;
    CondVar made_;
    bool ready_ SV_GUARDED_BY(mutex_) = false;
    HWND window_ = nullptr;  // written by the window thread before ready_, then only read
    std::thread thread_;
};

}  // namespace sv
