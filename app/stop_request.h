#pragma once
// A stop that comes from outside the run: Ctrl+C or Ctrl+Break in the console, the console
// window closing, the user logging off, Windows shutting down. Each ends the run as the
// tray's exit does (Host::Stop, and the window's exit in tray mode), asked once, with one
// line that says why. Windows ends the process a few seconds after a close, logoff or
// shutdown, whatever the process is doing, so for those the caller is held until the run
// has ended (the training session and the relay connection closed) or a bound within
// those seconds has passed. No Windows here: app/stop_signals.h maps its events.
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "base/annotated_mutex.h"

namespace sv {

enum class StopCause : uint8_t { kCtrlC, kCtrlBreak, kConsoleClosed, kLogoff, kShutdown };

// The line written when a cause stops the host.
std::string StopCauseLine(StopCause cause);
// Whether Windows ends the process soon after telling it (close, logoff, shutdown).
bool WindowsEndsTheProcess(StopCause cause);

class StopRequest {
public:
    // Windows allows a closing console or session about 5 s.
    static constexpr std::chrono::milliseconds kRunEndWait{4000};

    // `report` takes the line of the first stop (console and audit log); empty: none.
    explicit StopRequest(std::function<void(const std::string& line)> report,
                         std::chrono::milliseconds runEndWait = kRunEndWait);

    // What ends the run; nullptr detaches. Held across the call, so a detach waits for a
    // stop that is using what it detaches.
    void Attach(std::function<void()> stop) SV_EXCLUDES(mutex_);
    // Any thread. The first signal reports its line and calls the attached stop (a later
    // one asks nothing more); after a close, logoff or shutdown it returns only once the
    // run has ended or runEndWait has passed.
    void OnSignal(StopCause cause) SV_EXCLUDES(mutex_);
    // The run is over and the Host is gone: waiting signals return.
    void RunEnded() SV_EXCLUDES(mutex_);

private:
    const std::function<void(const std::string&)> report_;
    const std::chrono::milliseconds runEndWait_;
    Mutex mutex_;
    CondVar ended_;
    std::function<void()> stop_ SV_GUARDED_BY(mutex_);
    bool requested_ SV_GUARDED_BY(mutex_) = false;
    bool runEnded_ SV_GUARDED_BY(mutex_) = false;
};

}  // namespace sv
