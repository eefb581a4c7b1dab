#include "app/host_run_task.h"

#include <exception>
#include <optional>

#include "base/audit_log.h"
#include "app/command_messages.h"
#include "app/enrollment.h"
#include "base/console_output.h"
#include "base/file_io.h"
#include "net/https_client.h"
#include "session/host.h"

namespace sv {
namespace {

const char kEnrollPath[] = "/api/devices/enroll";

void Print(std::FILE* stream, const std::string& text) { PrintText(stream, text); }

}  // namespace

EnrolmentIo DefaultEnrolmentIo() {
    EnrolmentIo io;
    io.postJson = [](const std::string& url, const std::string& body, const std::string& caBundlePath) {
        return HttpPostJsonAnswer(url, body, caBundlePath.c_str());
    };
    return io;
}

HostRunTask::HostRunTask(const bool& enroll, const std::string& token, const std::string& name,
                         const HostOptions& options, Host& host)
    : HostRunTask(enroll, token, name, options,
                  Runner{[&host] { return host.RunClassic(); },
                         [&host](int32_t id, const std::string& secret) { return host.RunEnrolled(id, secret); },
                         [&host] { return host.DeviceRejection(); }},
                  DefaultEnrolmentIo()) {
    // Host::Stop ends an enrolment that is still waiting for the support API.
    io_.postJson = [&host](const std::string& url, const std::string& body, const std::string& caBundlePath) {
        return HttpPostJsonAnswer(url, body, caBundlePath.c_str(), &host.EnrolmentCancel());
    };
}

DeviceRejection ReadDeviceRejection(const std::string& reason) {
    if (reason == "device-revoked") return DeviceRejection::Revoked;
    if (reason == "device-auth-failed") return DeviceRejection::AuthFailed;
    return DeviceRejection::None;
}

std::string DeviceRejectionLine(DeviceRejection rejection) {
    switch (rejection) {
    case DeviceRejection::Revoked:
        return "this computer was removed from the Sorvane platform (device-revoked): it must be enrolled again "
               "with --enroll <token> <name>";
    case DeviceRejection::AuthFailed:
        return "this computer could not prove its identity to the Sorvane platform (device-auth-failed): it must be "
               "enrolled again with --enroll <token> <name>";
    case DeviceRejection::None:
        break;
    }
    return std::string();
}

HostRunTask::HostRunTask(const bool& enroll, const std::string& token, const std::string& name,
                         const HostOptions& options, Runner runner, EnrolmentIo io)
    : enroll_(enroll), token_(token), name_(name), options_(options), runner_(std::move(runner)), io_(std::move(io)) {}

void HostRunState::Set(Phase phase, int32_t deviceId, const EnrolFailure& failure) {
    {
        MutexLock lock(mutex_);
        state_.phase = phase;
        state_.deviceId = phase == Phase::Enrolled ? deviceId : 0;
        state_.enrolFailure = failure;
    }
    changed_.NotifyAll();
}

void HostRunState::MarkRejected(DeviceRejection rejection) {
    {
        MutexLock lock(mutex_);
        state_.rejection = rejection;
    }
    changed_.NotifyAll();
}

void HostRunState::MarkEnded() {
    {
        MutexLock lock(mutex_);
        state_.ended = true;
    }
    changed_.NotifyAll();
}

HostRunState::Snapshot HostRunState::Get() const {
    MutexLock lock(mutex_);
    return state_;
}

HostRunState::Snapshot HostRunState::WaitDecided(std::chrono::milliseconds limit) const {
    MutexLock lock(mutex_);
    changed_.WaitFor(lock, limit, [this]() SV_REQUIRES(mutex_) { return state_.phase != Phase::Starting; });
    return state_;
}

void HostRunTask::Report(HostRunState::Phase phase, int32_t deviceId) const {
    if (state_ != nullptr) state_->Set(phase, deviceId);
}

int HostRunTask::operator()() const {
    const int rc = Run();
    if (state_ != nullptr) state_->MarkEnded();
    return rc;
}

int HostRunTask::Run() const {
    if (enroll_) return EnrolAndRun();

    // A missing, unreadable or malformed record is no error: the host runs classic.
    const std::string path = JoinDataPath(options_.dataDir, "device.json");
    std::string text;
    int32_t deviceId = 0;
    std::string deviceSecret;
    if (IsRegularFile(path) && ReadWholeFile(path, text) && ReadDeviceRecord(text, deviceId, deviceSecret)) {
        Report(HostRunState::Phase::Enrolled, deviceId);
        return RunEnrolled(deviceId, deviceSecret);
    }
    Report(HostRunState::Phase::Classic);
    return runner_.runClassic();
}

namespace {

const char kNotEnrolled[] = "; this computer was not enrolled";

// How an enrolment ended: the answer when it enrolled, else why not and the one line
// that says so (without its line end).
struct EnrolOutcome {
    std::optional<EnrollAnswer> enrolled;
    EnrolFailure failure;
    std::string line;
};

EnrolOutcome Failed(EnrolFailure::Kind kind, std::string line, std::string reason = std::string()) {
    EnrolOutcome outcome;
    outcome.failure.kind = kind;
    outcome.failure.reason = std::move(reason);
    outcome.line = std::move(line);
    return outcome;
}

// Asks the support API and writes device.json. `missingArgs` is the entry's own line for
// an empty token or name.
EnrolOutcome EnrolDevice(const std::string& token, const std::string& name, const HostOptions& options,
                         const EnrolmentIo& io, const char* missingArgs) {
    using Kind = EnrolFailure::Kind;
    if (token.empty() || name.empty()) return Failed(Kind::MissingWords, missingArgs);
    const std::string path = JoinDataPath(options.dataDir, "device.json");
    const std::string unreadable =
        "enroll failed: bad response: the answer cannot be read as an enrolment; check that --api names the support "
        "API" + std::string(kNotEnrolled);
    try {
        const HttpResponse answer =
            io.postJson(options.apiBase + kEnrollPath, BuildEnrollRequest(token, name), options.caBundlePath);
        const EnrollAnswer read = ReadEnrollAnswer(std::string(answer.body.begin(), answer.body.end()));
        switch (read.outcome) {
        case EnrollAnswer::Outcome::NoResponse:
            return Failed(Kind::NoResponse, "enroll failed (no response): " +
                                                NoAnswerReason(options.apiBase, answer, "--api", options.caBundlePath) +
                                                kNotEnrolled);
        case EnrollAnswer::Outcome::Refused:
            // The server's own reason, never its raw answer: that is JSON meant for programs.
            if (!read.errorGiven) return Failed(Kind::Unreadable, unreadable);
            return Failed(Kind::Refused,
                          "enroll failed: the support API refused the enrolment: " + read.error +
                              "; check the token and the name, or ask for a new enrolment token" + kNotEnrolled,
                          read.error);
        case EnrollAnswer::Outcome::BadResponse:
            return Failed(Kind::Unreadable, unreadable);
        case EnrollAnswer::Outcome::Enrolled:
            break;
        }
        if (!WriteTextFile(path, BuildDeviceRecord(read.deviceId, read.deviceSecret, options.apiBase))) {
            return Failed(Kind::NotStored, "enroll failed: cannot write " + path +
                                               ": the enrolment is lost with it; make the data folder writable, or "
                                               "choose another with --data-dir, and enrol again with a new token");
        }
        EnrolOutcome outcome;
        outcome.enrolled = read;
        return outcome;
    } catch (const std::exception&) {
        return Failed(Kind::Unreadable, unreadable);
    }
}

}  // namespace

int HostRunTask::EnrolAndRun() const {
    Report(HostRunState::Phase::Enrolling);
    const EnrolOutcome outcome = EnrolDevice(token_, name_, options_, io_, "--enroll needs a token and a name");
    if (!outcome.enrolled) {
        Print(io_.err, outcome.line + "\n");
        // A tray or service start has no console: the reason stays in the audit log in every mode.
        WriteAuditLine("enroll", outcome.line, "");
        if (failureSink_) failureSink_(outcome.line);
        if (state_ != nullptr) state_->Set(HostRunState::Phase::EnrolFailed, 0, outcome.failure);
        return 1;
    }
    const std::optional<EnrollAnswer>& enrolled = outcome.enrolled;
    Report(HostRunState::Phase::Enrolled, enrolled->deviceId);
    Print(io_.out, "enrolled as device " + std::to_string(enrolled->deviceId) + "\n");
    return RunEnrolled(enrolled->deviceId, enrolled->deviceSecret);
}

int HostRunTask::RunEnrolled(int32_t deviceId, const std::string& deviceSecret) const {
    const int rc = runner_.runEnrolled(deviceId, deviceSecret);
    const DeviceRejection rejection = ReadDeviceRejection(runner_.rejection ? runner_.rejection() : std::string());
    if (rejection == DeviceRejection::None) return rc;
    // The run "ended" by itself: a device that can no longer connect is a failure the
    // person must act on, not a normal end.
    const std::string line = DeviceRejectionLine(rejection);
    Print(io_.err, line + "\n");
    if (failureSink_) failureSink_(line);
    if (state_ != nullptr) state_->MarkRejected(rejection);
    return 1;
}

int RunEnrollOnly(const std::string& token, const std::string& name, const HostOptions& options,
                  const EnrolmentIo& io) {
    const std::string path = JoinDataPath(options.dataDir, "device.json");
    if (!token.empty() && !name.empty() && IsRegularFile(path)) {
        Print(io.err, "already enrolled (" + path + " exists)\n");
        return 1;
    }
    const EnrolOutcome outcome = EnrolDevice(token, name, options, io, "--enroll-only needs a token and a name");
    if (!outcome.enrolled) {
        Print(io.err, outcome.line + "\n");
        return 1;
    }
    const std::optional<EnrollAnswer>& enrolled = outcome.enrolled;
    SetAuditDirectory(options.dataDir);
    WriteAuditLine("enroll",
                   "device " + std::to_string(enrolled->deviceId) + " name=" + name + " (enrolled from the next start)",
                   "");
    Print(io.out, "enrolled as device " + std::to_string(enrolled->deviceId) +
                      "; the host runs enrolled from its next start\n");
    return 0;
}

std::string FormatFocusedElement(const std::string& controlType, const std::string& name,
                                 const std::string& automationId, const training::Box& rect) {
    return "focus " + controlType + " '" + name + "' #" + automationId + " [" + std::to_string(rect.x) + "," +
           std::to_string(rect.y) + "," + std::to_string(rect.width) + "," + std::to_string(rect.height) + "]\n";
}

void PrintFocusedElement(const training::UiElement& element) {
    Print(stdout, FormatFocusedElement(element.controlType, element.name, element.automationId, element.rect));
}

}  // namespace sv
