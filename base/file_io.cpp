#include "base/file_io.h"

#include <windows.h>

#include <algorithm>
#include <atomic>

#include "base/text_encoding.h"

namespace sv {

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

bool ReadWholeFile(const std::string& path, std::string& out) { return ReadWholeFile(path, out, 16u << 20); }

bool ReadWholeFile(const std::string& path, std::string& out, size_t maxBytes) {
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
        // A file larger than its reader expects is not read on.
        if (got > maxBytes - out.size()) {
            ok = false;
            break;
        }
        out.append(buffer, got);
    }
    CloseHandle(file);
    return ok;
}

namespace {

bool WriteAll(HANDLE file, const char* data, size_t size) {
    size_t done = 0;
    while (done < size) {
        DWORD wrote = 0;
        DWORD chunk = static_cast<DWORD>(std::min<size_t>(size - done, 1u << 20));
        if (!WriteFile(file, data + done, chunk, &wrote, nullptr) || wrote == 0) return false;
        done += wrote;
    }
    return true;
}

}  // namespace

bool WriteFileAtomically(const std::string& path, const std::string& bytes) {
    static std::atomic<uint32_t> counter{0};
    std::wstring target = Utf8ToUtf16(path);
    std::wstring temp = target + L".tmp-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                        std::to_wstring(counter.fetch_add(1));
    HANDLE file = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    bool ok = WriteAll(file, bytes.data(), bytes.size());
    // The content must be on disk before the name points at it.
    if (ok && !FlushFileBuffers(file)) ok = false;
    // A failed close can lose data the flush did not reach; it counts as a failed write.
    if (!CloseHandle(file)) ok = false;
    if (ok) ok = MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
    if (!ok) DeleteFileW(temp.c_str());
    return ok;
}

NewFileResult WriteNewFile(const std::string& path, const void* data, size_t size) {
    const std::wstring target = Utf8ToUtf16(path);
    // Created exclusively, so two writers of one name never share the file.
    HANDLE file = CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return GetFileAttributesW(target.c_str()) == INVALID_FILE_ATTRIBUTES ? NewFileResult::Failed
                                                                              : NewFileResult::Taken;
    }
    bool ok = WriteAll(file, static_cast<const char*>(data), size);
    if (!CloseHandle(file)) ok = false;
    if (ok) return NewFileResult::Written;
    DeleteFileW(target.c_str());
    return NewFileResult::Failed;
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

// Removes one entry of a tree: a link (junction, symbolic link, any reparse point) as
// itself, never what it points at; a real directory with its content. What the entry
// is comes from a handle opened on the entry itself, not from a listing that could be
// swapped for a link in the meantime, and a directory is held open without delete
// sharing while its content goes, so it cannot be replaced by a link under us.
bool RemoveEntryW(const std::wstring& path) {
    HANDLE h = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(h, &info)) {
        CloseHandle(h);
        return false;
    }
    DWORD attributes = info.dwFileAttributes;
    if (attributes & FILE_ATTRIBUTE_READONLY) SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    bool isDirectory = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        CloseHandle(h);
        return isDirectory ? RemoveDirectoryW(path.c_str()) != 0 : DeleteFileW(path.c_str()) != 0;
    }
    if (!isDirectory) {
        CloseHandle(h);
        return DeleteFileW(path.c_str()) != 0;
    }
    bool ok = true;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            if (!RemoveEntryW(path + L"\\" + name)) ok = false;
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    CloseHandle(h);
    if (!RemoveDirectoryW(path.c_str())) ok = false;
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

bool RemoveDirectoryTree(const std::string& path) { return RemoveEntryW(Utf8ToUtf16(path)); }

bool SameDirectory(const std::string& a, const std::string& b) {
    BY_HANDLE_FILE_INFORMATION ia{}, ib{};
    if (!DirectoryIdentity(Utf8ToUtf16(a), ia) || !DirectoryIdentity(Utf8ToUtf16(b), ib)) return false;
    return ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber && ia.nFileIndexHigh == ib.nFileIndexHigh &&
           ia.nFileIndexLow == ib.nFileIndexLow;
}

}  // namespace sv
