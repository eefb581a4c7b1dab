#pragma once
// The status a service reports to the service control manager, as one sequence:
// RUNNING after registration, STOP_PENDING on a stop or shutdown request, STOPPED when
// the worker has ended. The handler and the service's main run on different threads of
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

struct ServiceStatusRecord {
    uint32_t type = kServiceOwnProcess;
    uint32_t state = 0;
    uint32_t controlsAccepted = 0;
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

    uint32_t State() const;

private:
    void Report() SV_REQUIRES(mutex_);

    mutable Mutex mutex_;
    Reporter report_;
    ServiceStatusRecord record_ SV_GUARDED_BY(mutex_);
};

// The binary path the service is registered with: the executable in double quotes,
// then " --service".
std::wstring ServiceCommandLine(const std::wstring& executablePath);

}  // namespace sv
