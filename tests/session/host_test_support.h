#pragma once
// A Host for unit tests: its data in a scratch folder, no training surface.
#include <memory>
#include <string>

#include "session/host.h"

namespace sv_test {

inline std::unique_ptr<sv::Host> MakeTestHost(const std::string& dataDir) {
    sv::HostOptions options;
    options.dataDir = dataDir;
    options.trainingEnabled = 0;
    return std::make_unique<sv::Host>(options);
}

}  // namespace sv_test
