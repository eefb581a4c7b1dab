#pragma once
// A Host for unit tests: its data and audit lines in a scratch folder, no training
// surface, and a command runner that never starts netsh.
#include <memory>
#include <string>

#include "base/audit_log.h"
#include "session/host.h"

namespace sv_test {

inline sv::HostOptions TestHostOptions(const std::string& dataDir, bool serviceMode = false) {
    sv::HostOptions options;
    options.dataDir = dataDir;
    options.trainingEnabled = 0;
    options.serviceMode = serviceMode;
    options.commandRunner = [](const std::wstring&) { return 0u; };
    return options;
}

inline std::unique_ptr<sv::Host> MakeTestHost(const std::string& dataDir, bool serviceMode = false) {
    sv::SetAuditDirectory(dataDir);
    return std::make_unique<sv::Host>(TestHostOptions(dataDir, serviceMode));
}

}  // namespace sv_test
