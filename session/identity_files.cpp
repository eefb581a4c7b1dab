#include "session/identity_files.h"

#include <random>

#include "base/file_io.h"
#include "base/system_random.h"
#include "session/host_identity.h"

namespace sv {

uint32_t SystemRandom32() {
    uint32_t value = 0;
    if (SystemRandomFill(reinterpret_cast<uint8_t*>(&value), sizeof(value))) return value;
    // MinGW's random_device reads rand_s, the system's other strong source.
    static std::random_device device;
    return static_cast<uint32_t>(device());
}

std::string LoadOrCreateHostId(const std::string& dataDir) {
    std::string path = JoinDataPath(dataDir, "host-id.txt");
    if (IsRegularFile(path)) {
        std::string content;
        if (ReadWholeFile(path, content)) {
            std::string id = HostIdFromFileText(content);
            if (!id.empty()) return id;
        }
    }
    std::string id = HostIdFromRandom(SystemRandom32);
    EnsureDirectory(dataDir);
    WriteFileAtomically(path, id);
    return id;
}

std::string GeneratePassword() { return PasswordFromRandom(SystemRandom32); }

}  // namespace sv
