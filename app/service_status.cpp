#include "app/service_status.h"

#include <utility>

namespace sv {

ServiceStatusSequence::ServiceStatusSequence(Reporter report) : report_(std::move(report)) {}

void ServiceStatusSequence::Report() {
    if (report_) report_(record_);
}

void ServiceStatusSequence::ReportRunning() {
    MutexLock lock(mutex_);
    if (record_.state != 0) return;
    record_.state = kServiceRunning;
    record_.controlsAccepted = kServiceAcceptStopAndShutdown;
    Report();
}

bool ServiceStatusSequence::OnControl(uint32_t control) {
    if (control != kServiceControlStop && control != kServiceControlShutdown) return false;
    MutexLock lock(mutex_);
    if (record_.state == kServiceStopped) return false;
    record_.state = kServiceStopPending;
    record_.controlsAccepted = kServiceAcceptStopAndShutdown;
    Report();
    return true;
}

void ServiceStatusSequence::ReportStopped() { Stop(0, 0); }

void ServiceStatusSequence::ReportStoppedWithCode(uint32_t code) { Stop(kErrorServiceSpecific, code); }

void ServiceStatusSequence::Stop(uint32_t win32ExitCode, uint32_t serviceExitCode) {
    MutexLock lock(mutex_);
    if (record_.state == kServiceStopped) return;
    record_.state = kServiceStopped;
    record_.controlsAccepted = 0;
    record_.win32ExitCode = win32ExitCode;
    record_.serviceExitCode = serviceExitCode;
    Report();
}

uint32_t ServiceStatusSequence::State() const {
    MutexLock lock(mutex_);
    return record_.state;
}

std::wstring ServiceCommandLine(const std::wstring& executablePath) {
    return L"\"" + executablePath + L"\" --service";
}

}  // namespace sv
