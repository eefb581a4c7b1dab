#include "session/identity_files.h"

#include <exception>
#include <optional>
#include <random>

#include "base/file_io.h"
#include "base/settings_file.h"
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

std::string LoadOrCreatePassword(const std::string& dataDir) {
    std::string password;
    try {
        SettingsFile::InDataDir(dataDir).Update([&](const SettingsText& file) -> std::optional<std::string> {
            if (file.readable) {
                password = PasswordFromSettingsText(file.text);
                if (!password.empty()) return std::nullopt;
            }
            password = GeneratePassword();
            // A settings file that exists but cannot be read right now (held open by
            // someone else) is not ours to overwrite: this run uses the new password alone.
            if (file.exists && !file.readable) return std::nullopt;
            return SettingsTextWithNewPassword(file.text, file.readable, password, SV_DEFAULT_RELAY_URL,
                                               SV_DEFAULT_API_BASE);
        });
    } catch (const std::exception&) {
    }
    return password;
}

}  // namespace sv
