#include "app/stop_request.h"

#include <utility>

namespace sv {

std::string StopCauseLine(StopCause cause) {
    const char* what = "";
    switch (cause) {
    case StopCause::kCtrlC:
        what = "Ctrl+C in the console";
        break;
    case StopCause::kCtrlBreak:
        what = "Ctrl+Break in the console";
        break;
    case StopCause::kConsoleClosed:
        what = "the console window was closed";
        break;
    case StopCause::kLogoff:
        what = "the user is signing out";
        break;
    case StopCause::kShutdown:
        what = "Windows is shutting down";
        break;
    }
    return std::string(what) + ": the host ends its session and closes its connections";
}

bool WindowsEndsTheProcess(StopCause cause) {
    return cause == StopCause::kConsoleClosed || cause == StopCause::kLogoff || cause == StopCause::kShutdown;
}

StopRequest::StopRequest(std::function<void(const std::string&)> report, std::chrono::milliseconds runEndWait)
    : report_(std::move(report)), runEndWait_(runEndWait) {}

void StopRequest::Attach(std::function<void()> stop) {
    MutexLock lock(mutex_);
    stop_ = std::move(stop);
    // A stop asked for before this was attached still reaches it.
    if (requested_ && stop_) stop_();
}

void StopRequest::OnSignal(StopCause cause) {
    MutexLock lock(mutex_);
    if (!requested_) {
        requested_ = true;
        if (report_) report_(StopCauseLine(cause));
        if (stop_) stop_();
    }
    if (!WindowsEndsTheProcess(cause)) return;
    ended_.WaitFor(lock, runEndWait_, [this]() SV_REQUIRES(mutex_) { return runEnded_; });
}

void StopRequest::RunEnded() {
    {
        MutexLock lock(mutex_);
        runEnded_ = true;
    }
    ended_.NotifyAll();
}

}  // namespace sv
