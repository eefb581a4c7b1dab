#pragma once
// What every run mode runs once the Host exists: choose the identity (enrol first when
// asked) and run the host until it stops. Also the one-shot enrolment.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "app/enrollment.h"
#include "base/annotated_mutex.h"
#include "net/http_parsing.h"
#include "session/host_options.h"
#include "training/training_records.h"

namespace sv {

class Host;

// The ways out of enrolment, replaceable so the logic runs without a network.
struct EnrolmentIo {
    // POSTs JSON and returns the whole answer: the body decides, and when it is empty the
    // rest says why.
    std::function<HttpResponse(const std::string& url, const std::string& body, const std::string& caBundlePath)>
        postJson;
    std::FILE* out = stdout;
    std::FILE* err = stderr;
};

// The real network: HttpRequest's POST of JSON and the process's standard streams.
EnrolmentIo DefaultEnrolmentIo();

// The relay turned the device away for good: removed from the platform, or its secret
// no longer proves who it is. Either way it must be enrolled again.
enum class DeviceRejection { None, Revoked, AuthFailed };

// From the relay's reason ("device-revoked", "device-auth-failed"); None for others.
DeviceRejection ReadDeviceRejection(const std::string& reason);

// The one line that tells the person what happened and what to do.
std::string DeviceRejectionLine(DeviceRejection rejection);

// What the host-run task has settled on so far. The task (on its own thread in tray
// mode) writes it; the host window reads it, so that it never guesses the identity from
// a Host that has not been told yet.
class HostRunState {
public:
    enum class Phase {
        Starting,     // nothing decided yet
        Classic,      // host id and password
        Enrolling,    // asking the support API
        Enrolled,     // a device number
        EnrolFailed,  // the enrolment ended without a device; the host does not run
    };
    struct Snapshot {
        Phase phase = Phase::Starting;
        int32_t deviceId = 0;  // set with Enrolled
        // The run returned while the window may still be up (a device the relay rejected
        // for good): the host no longer connects and must not say it is connecting.
        bool ended = false;
        DeviceRejection rejection = DeviceRejection::None;  // why an enrolled run ended
        EnrolFailure enrolFailure;                          // why EnrolFailed
    };

    // `failure` goes with EnrolFailed, in one step: the window never sees the one without
    // the other.
    void Set(Phase phase, int32_t deviceId = 0, const EnrolFailure& failure = EnrolFailure());
    void MarkEnded();
    void MarkRejected(DeviceRejection rejection);
    Snapshot Get() const;
    // Waits until the phase is no longer Starting, at most `limit`; the last snapshot.
    Snapshot WaitDecided(std::chrono::milliseconds limit) const;

private:
    mutable Mutex mutex_;
    mutable CondVar changed_;
    Snapshot state_ SV_GUARDED_BY(mutex_);
};

class HostRunTask {
public:
    struct Runner {
        std::function<int()> runClassic;
        std::function<int(int32_t deviceId, const std::string& deviceSecret)> runEnrolled;
        // After an enrolled run: the relay's reason for turning the device away, empty
        // when it did not. Empty function: never.
        std::function<std::string()> rejection;
    };

    // Holds references to what `main` owns; they must outlive the task.
    HostRunTask(const bool& enroll, const std::string& token, const std::string& name, const HostOptions& options,
                Host& host);
    HostRunTask(const bool& enroll, const std::string& token, const std::string& name, const HostOptions& options,
                Runner runner, EnrolmentIo io);

    // The run's exit code: the host's result, or 1 for a failed enrolment or a device
    // the relay turned away.
    int operator()() const;

    // Where the task reports its phase (none by default); set before it runs.
    void ReportTo(HostRunState* state) { state_ = state; }
    // Where a run's failure line (a failed enrolment, a device the relay turned away) goes
    // besides standard error and the audit log (the service's event log); set before it runs.
    void ReportFailuresTo(std::function<void(const std::string& line)> sink) { failureSink_ = std::move(sink); }

private:
    void Report(HostRunState::Phase phase, int32_t deviceId = 0) const;

    int Run() const;
    int EnrolAndRun() const;
    int RunEnrolled(int32_t deviceId, const std::string& deviceSecret) const;

    const bool& enroll_;
    const std::string& token_;
    const std::string& name_;
    const HostOptions& options_;
    Runner runner_;
    EnrolmentIo io_;
    HostRunState* state_ = nullptr;
    std::function<void(const std::string&)> failureSink_;
};

// "--enroll-only": enrols, writes device.json and an audit line, never runs the host.
// Returns the exit code.
int RunEnrollOnly(const std::string& token, const std::string& name, const HostOptions& options,
                  const EnrolmentIo& io);

// The line "--uia-focus" prints for one focused element.
std::string FormatFocusedElement(const std::string& controlType, const std::string& name,
                                 const std::string& automationId, const training::Box& rect);

// The inspector's focus callback in "--uia-focus": that line on standard output, flushed.
void PrintFocusedElement(const training::UiElement& element);

}  // namespace sv
