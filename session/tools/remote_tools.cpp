#include "session/tools/remote_tools.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "base/audit_log.h"
#include "base/text_encoding.h"
#include "base/json_fields.h"
#include "session/host.h"
#include "session/tools/system_programs.h"
#include "session/tools/upload_names.h"

namespace sv {
namespace {

using nlohmann::json;

std::atomic<uint64_t> g_downloadCounter{0};

void CloseIfValid(HANDLE& h) {
    if (h != nullptr && h != INVALID_HANDLE_VALUE) CloseHandle(h);
    h = nullptr;
}

// What a command's two readers and its waiter share. A reader that cannot be stopped in
// time is left to finish alone, so the handles live as long as the last user.
struct CommandState {
    std::mutex mutex;
    std::condition_variable changed;
    CappedOutput output[2];
    bool done[2] = {false, false};
    DWORD threadId[2] = {0, 0};
    HANDLE process = nullptr;
    HANDLE job = nullptr;
    bool inJob = false;

    explicit CommandState(size_t cap) : output{CappedOutput(cap), CappedOutput(cap)} {}
    ~CommandState() {
        CloseIfValid(process);
        CloseIfValid(job);
    }
    // Ends the command: the whole job when it could be formed, else cmd.exe alone.
    void Stop() {
        if (inJob) {
            TerminateJobObject(job, 1);
        } else if (process) {
            TerminateProcess(process, 1);
        }
    }
};

void ReaderMain(std::shared_ptr<CommandState> st, int which, HANDLE pipe) {
    {
        std::lock_guard<std::mutex> lock(st->mutex);
        st->threadId[which] = GetCurrentThreadId();
    }
    ReadPipeCapped(
        pipe,
        [&](const char* data, size_t length) {
            std::lock_guard<std::mutex> lock(st->mutex);
            return st->output[which].Append(data, length);
        },
        [&] { st->Stop(); });
    CloseHandle(pipe);
    {
        std::lock_guard<std::mutex> lock(st->mutex);
        st->done[which] = true;
    }
    st->changed.notify_all();
}

std::string LinesText(const json& lines) {
    if (lines.is_number_integer()) return lines.is_number_unsigned() ? std::to_string(lines.get<uint64_t>())
                                                                     : std::to_string(lines.get<int64_t>());
    return lines.dump(-1, ' ', false, json::error_handler_t::replace);
}

// A string member; absent or of another kind reads as empty.
std::string ToolString(const json& msg, const char* key) { return JsonString(msg, key).value_or(""); }

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

void ReadPipeCapped(HANDLE pipe, const std::function<bool(const char*, size_t)>& sink,
                    const std::function<void()>& stop) {
    std::vector<char> buffer(kPipeReadSize);
    for (;;) {
        DWORD n = 0;
        if (!ReadFile(pipe, buffer.data(), static_cast<DWORD>(buffer.size()), &n, nullptr) || n == 0) return;
        if (!sink(buffer.data(), n)) {
            stop();
            return;
        }
    }
}

ShellCommandResult RunShellCommand(const std::string& command, const ShellCommandLimits& limits,
                                   const std::atomic<bool>* cancel) {
    ShellCommandResult result;
    SECURITY_ATTRIBUTES sa{};
    sa.nLength = sizeof(sa);
    sa.bInheritHandle = TRUE;
    HANDLE outRead = nullptr, outWrite = nullptr, errRead = nullptr, errWrite = nullptr, inRead = nullptr,
           inWrite = nullptr;
    auto closeAll = [&] {
        for (HANDLE* h : {&outRead, &outWrite, &errRead, &errWrite, &inRead, &inWrite}) CloseIfValid(*h);
    };
    if (!CreatePipe(&outRead, &outWrite, &sa, 0) || !CreatePipe(&errRead, &errWrite, &sa, 0) ||
        !CreatePipe(&inRead, &inWrite, &sa, 0)) {
        closeAll();
        result.err = "CreateProcess failed";
        return result;
    }
    SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(inWrite, HANDLE_FLAG_INHERIT, 0);

    // Only the child's own three pipe ends are inherited: never another command's pipes
    // (which would keep that command's readers from seeing its end) nor the host's sockets.
    HANDLE inherit[3] = {inRead, outWrite, errWrite};
    SIZE_T attrSize = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &attrSize);
    std::vector<char> attrBuffer(attrSize ? attrSize : 1);
    auto attrs = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attrBuffer.data());
    bool haveList = attrSize != 0 && InitializeProcThreadAttributeList(attrs, 1, 0, &attrSize);
    bool listSet = haveList && UpdateProcThreadAttribute(attrs, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherit,
                                                         sizeof(inherit), nullptr, nullptr);

    STARTUPINFOEXW si{};
    si.StartupInfo.cb = listSet ? sizeof(STARTUPINFOEXW) : sizeof(STARTUPINFOW);
    si.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    si.StartupInfo.hStdInput = inRead;
    si.StartupInfo.hStdOutput = outWrite;
    si.StartupInfo.hStdError = errWrite;
    if (listSet) si.lpAttributeList = attrs;

    std::wstring app = SystemProgramPath(L"cmd.exe");
    std::wstring line = L"cmd.exe /c " + Utf8ToUtf16(command);
    std::vector<wchar_t> lineBuffer(line.begin(), line.end());
    lineBuffer.push_back(L'\0');

    auto st = std::make_shared<CommandState>(limits.outputCap);
    st->job = CreateJobObjectW(nullptr, nullptr);
    DWORD flags = CREATE_NO_WINDOW | CREATE_SUSPENDED | (listSet ? EXTENDED_STARTUPINFO_PRESENT : 0);
    PROCESS_INFORMATION pi{};
    BOOL created = CreateProcessW(app.c_str(), lineBuffer.data(), nullptr, nullptr, TRUE, flags, nullptr, nullptr,
                                  &si.StartupInfo, &pi);
    if (haveList) DeleteProcThreadAttributeList(attrs);
    if (!created) {
        closeAll();
        result.err = "CreateProcess failed";
        return result;
    }
    st->process = pi.hProcess;
    // Joining a job fails where the host itself runs in one that forbids nesting; then only
    // cmd.exe can be ended.
    st->inJob = st->job != nullptr && AssignProcessToJobObject(st->job, pi.hProcess);
    ResumeThread(pi.hThread);
    CloseHandle(pi.hThread);
    CloseIfValid(outWrite);
    CloseIfValid(errWrite);
    CloseIfValid(inRead);
    CloseIfValid(inWrite);

    std::thread readers[2];
    try {
        readers[0] = std::thread(ReaderMain, st, 0, outRead);
        outRead = nullptr;
        readers[1] = std::thread(ReaderMain, st, 1, errRead);
        errRead = nullptr;
    } catch (...) {
        st->Stop();
    }
    {
        // A reader that never started counts as done.
        std::lock_guard<std::mutex> lock(st->mutex);
        if (!readers[0].joinable()) st->done[0] = true;
        if (!readers[1].joinable()) st->done[1] = true;
    }
    CloseIfValid(outRead);
    CloseIfValid(errRead);

    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limits.timeoutMs);
    bool ended = false;
    for (;;) {
        if (cancel && cancel->load()) break;
        auto now = std::chrono::steady_clock::now();
        if (now >= deadline) break;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
        DWORD slice = static_cast<DWORD>(std::min<long long>(left, cancel ? 100 : left));
        if (WaitForSingleObject(st->process, slice) == WAIT_OBJECT_0) {
            ended = true;
            break;
        }
    }
    std::string timedOut;
    if (!ended) {
        st->Stop();
        timedOut = "\n[timed out]";
        WaitForSingleObject(st->process, 2000);
    }

    std::unique_lock<std::mutex> lock(st->mutex);
    auto bothDone = [&] { return st->done[0] && st->done[1]; };
    if (!st->changed.wait_for(lock, std::chrono::milliseconds(limits.readerGraceMs), bothDone)) {
        // Something outside the command still holds a pipe: break the blocked reads.
        for (int i = 0; i < 2; ++i) {
            if (st->done[i] || st->threadId[i] == 0) continue;
            HANDLE t = OpenThread(THREAD_TERMINATE, FALSE, st->threadId[i]);
            if (t) {
                CancelSynchronousIo(t);
                CloseHandle(t);
            }
        }
        st->changed.wait_for(lock, std::chrono::milliseconds(1000), bothDone);
    }
    bool finished[2] = {st->done[0], st->done[1]};
    result.out = st->output[0].Text();
    result.err = st->output[1].Text() + timedOut;
    lock.unlock();
    for (int i = 0; i < 2; ++i) {
        if (!readers[i].joinable()) continue;
        if (finished[i]) {
            readers[i].join();
        } else {
            readers[i].detach();  // owns its pipe and a share of the state; ends when the pipe does
        }
    }
    if (ended) {
        DWORD code = 0;
        if (GetExitCodeProcess(st->process, &code)) result.exitCode = static_cast<int32_t>(code);
    }
    return result;
}

std::string ConsoleBytesToUtf8(const std::string& bytes) {
    if (IsValidUtf8(bytes)) return bytes;
    int n = MultiByteToWideChar(CP_OEMCP, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    if (n > 0) {
        std::wstring wide(static_cast<size_t>(n), L'\0');
        MultiByteToWideChar(CP_OEMCP, 0, bytes.data(), static_cast<int>(bytes.size()), &wide[0], n);
        std::string out = Utf16ToUtf8(wide);
        if (IsValidUtf8(out)) return out;
    }
    return ReplaceInvalidUtf8(bytes);
}

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

void Host::HandleRemoteTool(const std::string& type, const json& msg, const std::string& from) {
    std::string id = ToolString(msg, "id");
    ToolSend send = [this](const std::string& text) { SendText(text); };
    const std::atomic<bool>* cancel = &stop_;
    if (type == "exec-request") {
        std::string command = ToolString(msg, "command");
        RunDetached([send, id, command, from, cancel] { HandleExecRequest(send, id, command, from, cancel); });
    } else if (type == "fs-list") {
        std::string path = ToolString(msg, "path");
        RunDetached([send, id, path, from] { HandleFsList(send, id, path, from); });
    } else if (type == "fs-read") {
        std::string path = ToolString(msg, "path");
        RunDetached([send, id, path, from, cancel] { HandleFsRead(send, id, path, from, cancel); });
    } else if (type == "log-tail") {
        std::string path = ToolString(msg, "path");
        json lines = msg.contains("lines") && !msg["lines"].is_null() ? msg["lines"] : json(kLogTailDefaultLines);
        RunDetached([send, id, path, lines, from] { HandleLogTail(send, id, path, lines, from); });
    }
}

}  // namespace sv
