#include "session/tools/remote_tools.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "base/audit_log.h"
#include "base/text_encoding.h"
#include "base/json_fields.h"
#include "base/json_text.h"
#include "session/relay/relay_messages.h"
#include "session/tools/upload_names.h"

namespace sv {
namespace {

using nlohmann::json;

std::atomic<uint64_t> g_downloadCounter{0};

std::string LinesText(const json& lines) {
    if (lines.is_number_integer()) return lines.is_number_unsigned() ? std::to_string(lines.get<uint64_t>())
                                                                     : std::to_string(lines.get<int64_t>());
    return SerializeJson(lines);
}

// Reads exactly `want` bytes unless the file ends or fails first.
size_t ReadFully(HANDLE file, uint8_t* buffer, size_t want) {
    size_t got = 0;
    while (got < want) {
        DWORD n = 0;
        if (!ReadFile(file, buffer + got, static_cast<DWORD>(want - got), &n, nullptr) || n == 0) break;
        got += n;
    }
    return got;
}

}  // namespace

void MakeDirEntryJson(DirListing& listing, const WIN32_FIND_DATAW& entry, bool isDir) {
    if (listing.entries.size() >= listing.cap) return;
    std::string name = ReplaceInvalidUtf8(Utf16ToUtf8(entry.cFileName));
    int64_t size = 0;
    if (!isDir) size = static_cast<int64_t>((static_cast<uint64_t>(entry.nFileSizeHigh) << 32) | entry.nFileSizeLow);
    std::string modified;
    SYSTEMTIME utc;
    SYSTEMTIME local;
    if (FileTimeToSystemTime(&entry.ftLastWriteTime, &utc) && SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local)) {
        modified = FormatModifiedTime(local.wYear, local.wMonth, local.wDay, local.wHour, local.wMinute);
    }
    listing.Add(name, isDir, size, modified);
}

void HandleExecRequest(const ToolSend& send, const std::string& id, const std::string& command,
                       const std::string& from, const std::atomic<bool>* cancel) {
    WriteAuditLine("exec", command, from);
    ShellCommandResult r = RunShellCommand(command, ShellCommandLimits(), cancel);
    WriteAuditLine("exec-result", "exit=" + std::to_string(r.exitCode) + " cmd=" + command, from);
    send(ExecResultJson(id, r.exitCode, ConsoleBytesToUtf8(r.out), ConsoleBytesToUtf8(r.err)));
}

void HandleFsList(const ToolSend& send, const std::string& id, const std::string& path, const std::string& from) {
    WriteAuditLine("fs-list", path, from);
    std::string reply;
    try {
        std::wstring dir = Utf8ToUtf16(path);
        if (dir.empty()) {
            send(FsListErrorJson(id, path));
            return;
        }
        std::wstring pattern = dir;
        if (pattern.back() != L'\\' && pattern.back() != L'/') pattern += L'\\';
        pattern += L'*';
        WIN32_FIND_DATAW fd;
        HANDLE h = FindFirstFileExW(pattern.c_str(), FindExInfoStandard, &fd, FindExSearchNameMatch, nullptr, 0);
        if (h == INVALID_HANDLE_VALUE) {
            // A drive root that holds nothing has no "." entry to find.
            DWORD findError = GetLastError();
            DWORD attrs = GetFileAttributesW(dir.c_str());
            if (findError == ERROR_FILE_NOT_FOUND && attrs != INVALID_FILE_ATTRIBUTES &&
                (attrs & FILE_ATTRIBUTE_DIRECTORY)) {
                send(FsListResultJson(id, path, DirListing()));
            } else {
                send(FsListErrorJson(id, path));
            }
            return;
        }
        // Only as many as can be listed are kept: directories come first, so files are
        // needed only while directories leave room.
        std::vector<WIN32_FIND_DATAW> dirs;
        std::vector<WIN32_FIND_DATAW> files;
        do {
            if (wcscmp(fd.cFileName, L".") == 0 || wcscmp(fd.cFileName, L"..") == 0) continue;
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                if (dirs.size() < kDirListingCap) dirs.push_back(fd);
            } else if (files.size() < kDirListingCap) {
                files.push_back(fd);
            }
        } while (FindNextFileW(h, &fd));
        DWORD err = GetLastError();
        FindClose(h);
        if (err != ERROR_NO_MORE_FILES) {
            send(FsListErrorJson(id, path));
            return;
        }
        DirListing listing;
        for (const auto& d : dirs) MakeDirEntryJson(listing, d, true);
        for (const auto& f : files) MakeDirEntryJson(listing, f, false);
        reply = FsListResultJson(id, path, listing);
    } catch (...) {
        reply = FsListErrorJson(id, path);
    }
    send(reply);
}

void HandleFsRead(const ToolSend& send, const std::string& id, const std::string& path, const std::string& from,
                  const std::atomic<bool>* cancel) {
    WriteAuditLine("fs-read", path, from);
    std::wstring wpath = Utf8ToUtf16(path);
    WIN32_FILE_ATTRIBUTE_DATA attrs;
    if (wpath.empty() || !GetFileAttributesExW(wpath.c_str(), GetFileExInfoStandard, &attrs) ||
        (attrs.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE))) {
        send(LogErrorJson(id, "file not found"));
        return;
    }
    uint64_t size = (static_cast<uint64_t>(attrs.nFileSizeHigh) << 32) | attrs.nFileSizeLow;
    if (size > kFsReadMaxBytes) {
        send(LogErrorJson(id, "file too large"));
        return;
    }
    HANDLE file = CreateFileW(wpath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        send(LogErrorJson(id, "cannot read file"));
        return;
    }
    LARGE_INTEGER opened;
    if (!GetFileSizeEx(file, &opened) || opened.QuadPart < 0) {
        CloseHandle(file);
        send(LogErrorJson(id, "cannot read file"));
        return;
    }
    size = static_cast<uint64_t>(opened.QuadPart);
    if (size > kFsReadMaxBytes) {
        CloseHandle(file);
        send(LogErrorJson(id, "file too large"));
        return;
    }
    std::string transferId = MakeDownloadId(GetTickCount64(), ++g_downloadCounter);
    std::string name = ReplaceInvalidUtf8(LastPathComponent(path));
    send(FileBeginJson(transferId, name, size));
    // The file goes out piece by piece: memory stays at one chunk whatever its size.
    std::vector<uint8_t> buffer(kFsReadChunkBytes);
    uint64_t done = 0;
    uint64_t seq = 0;
    bool failed = false;
    while (done < size) {
        if (cancel && cancel->load()) {
            failed = true;
            break;
        }
        size_t want = static_cast<size_t>(std::min<uint64_t>(kFsReadChunkBytes, size - done));
        size_t got = ReadFully(file, buffer.data(), want);
        if (got != want) {  // shrank or failed while being read
            failed = true;
            break;
        }
        send(FileChunkJson(transferId, seq++, buffer.data(), got));
        done += got;
    }
    CloseHandle(file);
    if (failed) {
        // The controller already holds "file-begin": end that transfer as well as the request.
        send(FileErrorMessage(transferId, "cannot read file"));
        send(LogErrorJson(id, "cannot read file"));
        return;
    }
    send(FileEndJson(transferId));
    WriteAuditLine("fs-read-result", name + " bytes=" + std::to_string(done), "");
}

void HandleLogTail(const ToolSend& send, const std::string& id, const std::string& path, const json& lines,
                   const std::string& from) {
    WriteAuditLine("log-tail", path + " lines=" + LinesText(lines), from);
    int count = ClampTailLines(lines);
    std::wstring wpath = Utf8ToUtf16(path);
    HANDLE file = wpath.empty() ? INVALID_HANDLE_VALUE
                                : CreateFileW(wpath.c_str(), GENERIC_READ,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        send(LogErrorJson(id, "file not found"));
        return;
    }
    std::string text;
    LARGE_INTEGER size;
    if (GetFileSizeEx(file, &size) && size.QuadPart > 0) {
        uint64_t total = static_cast<uint64_t>(size.QuadPart);
        uint64_t start = total > kLogTailBytes ? total - kLogTailBytes : 0;
        LARGE_INTEGER offset;
        offset.QuadPart = static_cast<LONGLONG>(start);
        if (SetFilePointerEx(file, offset, nullptr, FILE_BEGIN)) {
            text.resize(static_cast<size_t>(total - start));
            text.resize(ReadFully(file, reinterpret_cast<uint8_t*>(&text[0]), text.size()));
        }
    }
    CloseHandle(file);
    send(LogResultJson(id, ReplaceInvalidUtf8(TailLines(text, count))));
}

}  // namespace sv
