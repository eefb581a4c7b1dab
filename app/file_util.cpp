#include "app/file_util.h"

#include <windows.h>

#include <algorithm>
#include <vector>

#include "app/text_encoding.h"

namespace sv {
namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

void CreateParentDirectories(const std::wstring& path) {
    // Every prefix that ends before a separator, shortest first; failures (the drive,
    // a directory that exists) are expected and ignored.
    for (size_t i = 1; i < path.size(); ++i) {
        if (!IsSeparator(path[i]) || IsSeparator(path[i - 1]) || path[i - 1] == L':') continue;
        CreateDirectoryW(path.substr(0, i).c_str(), nullptr);
    }
}

bool WriteAllToHandle(HANDLE file, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        DWORD chunk = static_cast<DWORD>(std::min<size_t>(text.size() - done, 1u << 20));
        DWORD written = 0;
        if (!WriteFile(file, text.data() + done, chunk, &written, nullptr) || written == 0) return false;
        done += written;
    }
    return FlushFileBuffers(file) != 0;
}

}  // namespace

bool WriteTextFile(const std::string& path, const std::string& text) {
    std::wstring target = Utf8ToUtf16(path);
    if (target.empty()) return false;
    CreateParentDirectories(target);
    std::wstring temp = target + L".part" + std::to_wstring(GetCurrentProcessId());
    HANDLE file = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    bool ok = WriteAllToHandle(file, text);
    if (!CloseHandle(file)) ok = false;
    if (ok) ok = MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
    if (!ok) DeleteFileW(temp.c_str());
    return ok;
}

bool ReadWholeFile(const std::string& path, std::string& out) {
    HANDLE file = CreateFileW(Utf8ToUtf16(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    std::string data;
    char buffer[65536];
    bool ok = true;
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file, buffer, sizeof(buffer), &got, nullptr)) {
            ok = false;
            break;
        }
        if (got == 0) break;
        data.append(buffer, got);
    }
    CloseHandle(file);
    if (ok) out = std::move(data);
    return ok;
}

bool IsRegularFile(const std::string& path) {
    DWORD attributes = GetFileAttributesW(Utf8ToUtf16(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsDirectory(const std::string& path) {
    DWORD attributes = GetFileAttributesW(Utf8ToUtf16(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool PathExists(const std::string& path) {
    return GetFileAttributesW(Utf8ToUtf16(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

namespace {

bool RemoveTreeW(const std::wstring& dir) {
    bool ok = true;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((dir + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            std::wstring full = dir + L"\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_READONLY) {
                SetFileAttributesW(full.c_str(), found.dwFileAttributes & ~FILE_ATTRIBUTE_READONLY);
            }
            // A junction is removed as a link, never followed.
            if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                !(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
                if (!RemoveTreeW(full)) ok = false;
            } else if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                if (!RemoveDirectoryW(full.c_str())) ok = false;
            } else if (!DeleteFileW(full.c_str())) {
                ok = false;
            }
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    if (!RemoveDirectoryW(dir.c_str())) ok = false;
    return ok;
}

bool DirectoryIdentity(const std::wstring& path, BY_HANDLE_FILE_INFORMATION& info) {
    HANDLE h = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    bool ok = GetFileInformationByHandle(h, &info) != 0;
    CloseHandle(h);
    return ok && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace

bool RemoveDirectoryTree(const std::string& path) { return RemoveTreeW(Utf8ToUtf16(path)); }

bool SameDirectory(const std::string& a, const std::string& b) {
    BY_HANDLE_FILE_INFORMATION ia{}, ib{};
    if (!DirectoryIdentity(Utf8ToUtf16(a), ia) || !DirectoryIdentity(Utf8ToUtf16(b), ib)) return false;
    return ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber && ia.nFileIndexHigh == ib.nFileIndexHigh &&
           ia.nFileIndexLow == ib.nFileIndexLow;
}

std::string JoinPath(const std::string& dir, const std::string& name) {
    if (dir.empty()) return name;
    char last = dir.back();
    if (last == '\\' || last == '/') return dir + name;
    return dir + "\\" + name;
}

}  // namespace sv
