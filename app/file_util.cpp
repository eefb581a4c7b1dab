#include "app/file_util.h"

#include <windows.h>

#include "app/text_encoding.h"

namespace sv {

bool WriteTextFile(const std::string& path, const std::string& text) {
    if (path.empty()) return false;
    size_t slash = path.find_last_of("\\/");
    if (slash != std::string::npos && slash > 0) EnsureDirectory(path.substr(0, slash));
    return WriteFileAtomically(path, text);
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

}  // namespace sv
