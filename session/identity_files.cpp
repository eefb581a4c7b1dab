#include "session/identity_files.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <random>

#include "app/text_encoding.h"
#include "net/system_random.h"
#include "session/host_identity.h"

namespace sv {

uint32_t SystemRandom32() {
    uint32_t value = 0;
    if (SystemRandomFill(reinterpret_cast<uint8_t*>(&value), sizeof(value))) return value;
    // MinGW's random_device reads rand_s, the system's other strong source.
    static std::random_device device;
    return static_cast<uint32_t>(device());
}

std::string JoinDataPath(const std::string& dir, const std::string& name) {
    if (dir.empty()) return name;
    char last = dir.back();
    if (last == '\\' || last == '/') return dir + name;
    return dir + "\\" + name;
}

bool IsRegularFile(const std::string& path) {
    DWORD attributes = GetFileAttributesW(Utf8ToUtf16(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool ReadWholeFile(const std::string& path, std::string& out) {
    out.clear();
    HANDLE file = CreateFileW(Utf8ToUtf16(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    bool ok = true;
    char buffer[4096];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file, buffer, sizeof(buffer), &got, nullptr)) {
            ok = false;
            break;
        }
        if (got == 0) break;
        out.append(buffer, got);
        // Settings and ids are tiny; a huge file is not ours and is not read on.
        if (out.size() > (16u << 20)) {
            ok = false;
            break;
        }
    }
    CloseHandle(file);
    return ok;
}

bool WriteFileAtomically(const std::string& path, const std::string& bytes) {
    static std::atomic<uint32_t> counter{0};
    std::wstring target = Utf8ToUtf16(path);
    std::wstring temp = target + L".tmp-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                        std::to_wstring(counter.fetch_add(1));
    HANDLE file = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    bool ok = true;
    size_t done = 0;
    while (ok && done < bytes.size()) {
        DWORD wrote = 0;
        DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 20));
        if (!WriteFile(file, bytes.data() + done, chunk, &wrote, nullptr) || wrote == 0) ok = false;
        done += wrote;
    }
    // The content must be on disk before the name points at it.
    if (ok && !FlushFileBuffers(file)) ok = false;
    // A failed close can lose data the flush did not reach; it counts as a failed write.
    if (!CloseHandle(file)) ok = false;
    if (ok) ok = MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
    if (!ok) DeleteFileW(temp.c_str());
    return ok;
}

void EnsureDirectory(const std::string& dir) {
    if (dir.empty()) return;
    std::wstring wide = Utf8ToUtf16(dir);
    for (wchar_t& c : wide) {
        if (c == L'/') c = L'\\';
    }
    DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return;
    // Each missing level in turn: the data directory's parent may be missing too
    // (a fresh profile), and the path may be relative.
    for (size_t i = 1; i <= wide.size(); ++i) {
        if (i == wide.size() || wide[i] == L'\\') {
            std::wstring prefix = wide.substr(0, i);
            if (!prefix.empty() && prefix.back() != L':') CreateDirectoryW(prefix.c_str(), nullptr);
        }
    }
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
