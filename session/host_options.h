#pragma once
#include <cstdint>
#include <string>

namespace sv {

// What the command line decides about a host before it is built.
struct HostOptions {
    std::string relayUrl;
    std::string apiBase;
    std::string dataDir;
    std::string caBundlePath;
    int32_t lanPort = 0;          // 0: host-ui.json decides; >0: forced on that port; <0: off
    int32_t trainingEnabled = 1;
};

}  // namespace sv
