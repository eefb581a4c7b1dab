#include "session/identity_files.h"

#include <windows.h>

#include <exception>
#include <optional>
#include <random>

#include "base/file_io.h"
#include "base/settings_file.h"
#include "base/system_random.h"
#include "base/text_encoding.h"
#include "session/host_identity.h"

namespace sv {
namespace {

const char kInUse[] = ": it is open in another program";

// Why a whole-file write to `path` failed, as far as the path tells: the ways a person
// can block it without meaning to come first.
std::string WhyNotWritten(const std::string& path) {
    const std::wstring wide = Utf8ToUtf16(path);
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return path + ": a folder of that name is in the way";
    }
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
        return path + ": the file is read-only";
    }
    // Replacing the file needs it to be opened for deletion; a program holding it
    // without sharing that refuses.
    HANDLE file = CreateFileW(wide.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_SHARING_VIOLATION) return path + kInUse;
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    return path + ": the file cannot be replaced";
}

}  // namespace

uint32_t SystemRandom32() {
    uint32_t value = 0;
    if (SystemRandomFill(reinterpret_cast<uint8_t*>(&value), sizeof(value))) return value;
    // MinGW's random_device reads rand_s, the system's other strong source.
    static std::random_device device;
    return static_cast<uint32_t>(device());
}

std::string LoadOrCreateHostId(const std::string& dataDir, std::string* notStored) {
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
    if (!WriteFileAtomically(path, id) && notStored != nullptr) *notStored = WhyNotWritten(path);
    return id;
}

std::string GeneratePassword() { return PasswordFromRandom(SystemRandom32); }

std::string LoadOrCreatePassword(const std::string& dataDir, std::string* notStored) {
    std::string password;
    bool found = false;  // the file already held it
    bool held = false;   // the file is there but cannot be read
    bool written = false;
    const SettingsFile settings = SettingsFile::InDataDir(dataDir);
    try {
        written = settings.Update([&](const SettingsText& file) -> std::optional<std::string> {
            if (file.readable) {
                password = PasswordFromSettingsText(file.text);
                found = !password.empty();
                if (found) return std::nullopt;
            }
            password = GeneratePassword();
            // A settings file that exists but cannot be read right now (held open by
            // someone else) is not ours to overwrite: this run uses the new password alone.
            held = file.exists && !file.readable;
            if (held) return std::nullopt;
            return SettingsTextWithNewPassword(file.text, file.readable, password, SV_DEFAULT_RELAY_URL,
                                               SV_DEFAULT_API_BASE);
        });
    } catch (const std::exception&) {
    }
    if (!found && !written && notStored != nullptr) {
        *notStored = held ? settings.Path() + kInUse : WhyNotWritten(settings.Path());
    }
    return password;
}

}  // namespace sv
