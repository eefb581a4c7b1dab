#pragma once
// The status a service reports to the service control manager, as one sequence:
// RUNNING after registration, STOP_PENDING on a stop or shutdown request, STOPPED when
// the worker has ended, or STOPPED at once with a code of ours when the start ends before
// the host runs. The handler and the service's main run on different threads of
// the dispatcher, so every report goes out under one lock, and once STOPPED has gone out
// nothing follows it (a late stop request must not make a stopped service look pending).
#include <cstdint>
#include <functional>
#include <string>

#include "base/annotated_mutex.h"

namespace sv {

constexpr uint32_t kServiceOwnProcess = 0x10;  // SERVICE_WIN32_OWN_PROCESS
constexpr uint32_t kServiceStopped = 1;
constexpr uint32_t kServiceStopPending = 3;
constexpr uint32_t kServiceRunning = 4;
constexpr uint32_t kServiceAcceptStopAndShutdown = 0x1 | 0x4;
constexpr uint32_t kServiceControlStop = 1;
constexpr uint32_t kServiceControlShutdown = 5;
constexpr uint32_t kErrorServiceSpecific = 1066;  // ERROR_SERVICE_SPECIFIC_ERROR: see the service's own code

struct ServiceStatusRecord {
    uint32_t type = kServiceOwnProcess;
    uint32_t state = 0;
    uint32_t controlsAccepted = 0;
    uint32_t win32ExitCode = 0;
    uint32_t serviceExitCode = 0;  // ours, when win32ExitCode is kErrorServiceSpecific
};

class ServiceStatusSequence {
public:
    using Reporter = std::function<void(const ServiceStatusRecord&)>;
    explicit ServiceStatusSequence(Reporter report);

    // RUNNING; not reported when a stop already came in (the state never goes back).
    void ReportRunning();
    // A control from the manager. True when it asks the host to stop: STOP or SHUTDOWN
    // before STOPPED was reported; STOP_PENDING is then reported.
    bool OnControl(uint32_t control);
    // STOPPED, once.
    void ReportStopped();
    // STOPPED, once, as a failure with the service's own `code` (never 0), which the
    // manager shows instead of waiting for a status that never comes.
    void ReportStoppedWithCode(uint32_t code);

    uint32_t State() const;

private:
    void Report() SV_REQUIRES(mutex_);
    void Stop(uint32_t win32ExitCode, uint32_t serviceExitCode) SV_EXCLUDES(mutex_);

    mutable Mutex mutex_;
    Reporter report_;
    ServiceStatusRecord record_ SV_GUARDED_BY(mutex_);
};

// The binary path the service is registered with: the executable in double quotes,
// then " --service".
std::wstring ServiceCommandLine(const std::wstring& executablePath);

}  // namespace sv
