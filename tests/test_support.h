#pragma once
// Helpers shared by the unit tests: a scratch directory and file reading.
// The pure units' tests also build natively (Linux, sanitizers): there the same
// helpers sit on std::filesystem.
#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <filesystem>

inline int gmtime_s(std::tm* out, const std::time_t* t) { return gmtime_r(t, out) ? 0 : 1; }
#endif

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <thread>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#ifdef _WIN32
#include "base/text_encoding.h"
#endif

namespace sv_test {

// How long a test waits for what another thread brings about before calling it lost.
// Generous: a wait ends as soon as the thing happens, and a loaded machine under Wine
// can take seconds to start a thread.
constexpr int kPatienceMs = 20000;

// Waits for a condition that another thread brings about; false when it did not come.
inline bool WaitUntil(const std::function<bool()>& pred, int timeoutMs = kPatienceMs) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// A number no other thread of this run had, unlike a thread id, which the system may
// hand out again once its thread has ended.
inline int ThreadSerial() {
    static std::atomic<int> next{0};
    thread_local const int serial = ++next;
    return serial;
}

#ifdef _WIN32

// The folder of the running test program, UTF-8.
inline std::string ExeDir() {
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::string p = sv::Utf16ToUtf8(std::wstring(path, n));
    return p.substr(0, p.find_last_of("\\/"));
}

// Paths are UTF-8 here as in the host, and every Windows call takes the wide form: a
// developer's temp folder or checkout may hold names outside the ANSI code page.

// A fresh directory under the Windows temp folder, removed with its files at the end.
// Process ids repeat between Wine runs, so the name also carries the time.
class ScratchDir {
public:
    ScratchDir() {
        static std::atomic<int> counter{0};
        wchar_t tmp[MAX_PATH + 1];
        DWORD n = GetTempPathW(MAX_PATH + 1, tmp);
        path_ = sv::Utf16ToUtf8(std::wstring(tmp, n > MAX_PATH ? 0 : n)) + "sv-test-" +
                std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetTickCount64()) + "-" +
                std::to_string(counter++);
        CreateDirectoryW(sv::Utf8ToUtf16(path_).c_str(), nullptr);
    }
    ~ScratchDir() { RemoveTree(path_); }
    const std::string& Path() const { return path_; }

    static void RemoveTree(const std::string& dir) { RemoveTreeW(sv::Utf8ToUtf16(dir)); }
    static void RemoveTreeW(const std::wstring& dir) {
        WIN32_FIND_DATAW fd;
        HANDLE h = FindFirstFileW((dir + L"\\*").c_str(), &fd);
        if (h != INVALID_HANDLE_VALUE) {
            do {
                std::wstring name = fd.cFileName;
                if (name == L"." || name == L"..") continue;
                std::wstring full = dir + L"\\" + name;
                if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                    RemoveTreeW(full);
                } else {
                    SetFileAttributesW(full.c_str(), FILE_ATTRIBUTE_NORMAL);
                    DeleteFileW(full.c_str());
                }
            } while (FindNextFileW(h, &fd));
            FindClose(h);
        }
        RemoveDirectoryW(dir.c_str());
    }

private:
    std::string path_;
};
#else
class ScratchDir {
public:
    ScratchDir() {
        static std::atomic<int> counter{0};
        const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
        path_ = (std::filesystem::temp_directory_path() /
                 ("sv-test-" + std::to_string(getpid()) + "-" + std::to_string(now) + "-" + std::to_string(counter++)))
                    .string();
        std::filesystem::create_directories(path_);
    }
    ~ScratchDir() { RemoveTree(path_); }
    const std::string& Path() const { return path_; }
    static void RemoveTree(const std::string& dir) {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }

private:
    std::string path_;
};
#endif

// The whole file, or "" when it cannot be read.
inline std::string ReadFile(const std::string& path) {
#ifdef _WIN32
    std::string out;
    FILE* f = _wfopen(sv::Utf8ToUtf16(path).c_str(), L"rb");
    if (!f) return out;
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof(buf), f)) > 0) out.append(buf, n);
    std::fclose(f);
    return out;
#else
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
#endif
}

inline std::vector<std::string> ListFiles(const std::string& dir) {
    std::vector<std::string> out;
#ifndef _WIN32
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(dir, ec)) out.push_back(e.path().filename().string());
    return out;
#else
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW(sv::Utf8ToUtf16(dir + "\\*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return out;
    do {
        std::wstring name = fd.cFileName;
        if (name != L"." && name != L"..") out.push_back(sv::Utf16ToUtf8(name));
    } while (FindNextFileW(h, &fd));
    FindClose(h);
    return out;
#endif
}

// Every audit line written under `dir`, all days together.
inline std::string AuditText(const std::string& dir) {
    std::string all;
    for (const std::string& name : ListFiles(dir)) {
        if (name.rfind("audit-", 0) == 0) all += ReadFile(dir + "/" + name);
    }
    return all;
}

// Audit lines of the scratch directory without their time stamps.
inline std::vector<std::string> AuditLines(const std::string& dir) {
    std::vector<std::string> lines;
    for (const std::string& name : ListFiles(dir)) {
        if (name.rfind("audit-", 0) != 0) continue;
        std::string text = ReadFile(dir + "/" + name);
        size_t start = 0;
        while (start < text.size()) {
            size_t end = text.find('\n', start);
            std::string line = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
            lines.push_back(line.size() > 22 ? line.substr(22) : line);
            start = end == std::string::npos ? text.size() : end + 1;
        }
    }
    return lines;
}

}  // namespace sv_test
