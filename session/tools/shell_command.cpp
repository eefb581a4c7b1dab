#include "session/tools/shell_command.h"

#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

#include "base/text_encoding.h"
#include "session/tools/system_programs.h"

namespace sv {
namespace {

void CloseIfValid(HANDLE& h) {
    if (h != nullptr && h != INVALID_HANDLE_VALUE) CloseHandle(h);
    h = nullptr;
}

// How often a wait that can be cancelled looks at its cancel flag.
constexpr uint32_t kCancelCheckMs = 100;
// How long a command that was just ended gets to go before its readers are broken.
constexpr uint32_t kEndedProcessWaitMs = 2000;

// The command's three anonymous pipes. The host keeps the reading ends of standard output
// and error; the child gets the other ends, and its standard input is at end-of-file from
// the start.
struct CommandPipes {
    HANDLE outRead = nullptr, outWrite = nullptr;
    HANDLE errRead = nullptr, errWrite = nullptr;
    HANDLE inRead = nullptr, inWrite = nullptr;

    CommandPipes() = default;
    CommandPipes(const CommandPipes&) = delete;
    CommandPipes& operator=(const CommandPipes&) = delete;
    ~CommandPipes() {
        CloseChildEnds();
        CloseIfValid(outRead);
        CloseIfValid(errRead);
    }

    bool Create() {
        SECURITY_ATTRIBUTES sa{};
        sa.nLength = sizeof(sa);
        sa.bInheritHandle = TRUE;
        if (!CreatePipe(&outRead, &outWrite, &sa, 0) || !CreatePipe(&errRead, &errWrite, &sa, 0) ||
            !CreatePipe(&inRead, &inWrite, &sa, 0)) {
            return false;
        }
        return SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0) &&
               SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0) &&
               SetHandleInformation(inWrite, HANDLE_FLAG_INHERIT, 0);
    }
    // Once the child holds its ends the host lets go of them: the readers then see the end
    // of a pipe as soon as the child's side of it is gone.
    void CloseChildEnds() {
        CloseIfValid(outWrite);
        CloseIfValid(errWrite);
        CloseIfValid(inRead);
        CloseIfValid(inWrite);
    }
};

// cmd.exe, started suspended and put into a job before it runs anything, so that ending the
// job ends what the command started too. Joining a job fails where the host itself runs in
// one that forbids nesting; then only cmd.exe can be ended.
class CommandProcess {
public:
    CommandProcess() = default;
    CommandProcess(const CommandProcess&) = delete;
    CommandProcess& operator=(const CommandProcess&) = delete;
    ~CommandProcess() {
        CloseIfValid(process_);
        CloseIfValid(job_);
    }

    bool Start(const std::string& command, const CommandPipes& pipes);
    // Safe from any thread once Start returned.
    void Stop() const {
        if (inJob_) {
            TerminateJobObject(job_, 1);
        } else if (process_) {
            TerminateProcess(process_, 1);
        }
    }
    HANDLE Handle() const { return process_; }
    void ReadExitCode(int32_t& code) const {
        DWORD value = 0;
        if (GetExitCodeProcess(process_, &value)) code = static_cast<int32_t>(value);
    }

private:
    HANDLE process_ = nullptr;
    HANDLE job_ = nullptr;
    bool inJob_ = false;
};

bool CommandProcess::Start(const std::string& command, const CommandPipes& pipes) {
    // Only the child's own three pipe ends are inherited: never another command's pipes
    // (which would keep that command's readers from seeing its end) nor the host's sockets.
    HANDLE inherit[3] = {pipes.inRead, pipes.outWrite, pipes.errWrite};
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
    si.StartupInfo.hStdInput = pipes.inRead;
    si.StartupInfo.hStdOutput = pipes.outWrite;
    si.StartupInfo.hStdError = pipes.errWrite;
    if (listSet) si.lpAttributeList = attrs;

    std::wstring app = SystemProgramPath(L"cmd.exe");
    std::wstring line = L"cmd.exe /c " + Utf8ToUtf16(command);
    std::vector<wchar_t> lineBuffer(line.begin(), line.end());
    lineBuffer.push_back(L'\0');

    job_ = CreateJobObjectW(nullptr, nullptr);
    DWORD flags = CREATE_NO_WINDOW | CREATE_SUSPENDED | (listSet ? EXTENDED_STARTUPINFO_PRESENT : 0);
    PROCESS_INFORMATION pi{};
    BOOL created = CreateProcessW(app.c_str(), lineBuffer.data(), nullptr, nullptr, TRUE, flags, nullptr, nullptr,
                                  &si.StartupInfo, &pi);
    if (haveList) DeleteProcThreadAttributeList(attrs);
    if (!created) return false;
    process_ = pi.hProcess;
    inJob_ = job_ != nullptr && AssignProcessToJobObject(job_, pi.hProcess);
    ResumeThread(pi.hThread);
    CloseHandle(pi.hThread);
    return true;
}

}  // namespace

bool PipeReaders::Start(HANDLE out, HANDLE err) {
    HANDLE pipes[2] = {out, err};
    bool started = true;
    for (int i = 0; i < 2; ++i) {
        {
            MutexLock lock(mutex_);
            done_[i] = false;
        }
        try {
            threads_[i] = std::thread(&PipeReaders::Run, this, i, pipes[i]);
        } catch (...) {
            CloseHandle(pipes[i]);
            MutexLock lock(mutex_);
            done_[i] = true;
            started = false;
        }
    }
    return started;
}

void PipeReaders::Run(int which, HANDLE pipe) {
    {
        MutexLock lock(mutex_);
        threadId_[which] = GetCurrentThreadId();
    }
    if (!quit_.load()) {
        ReadPipeCapped(
            pipe,
            [&](const char* data, size_t length) {
                if (quit_.load()) return false;  // being broken off: keep nothing more
                MutexLock lock(mutex_);
                return output_[which].Append(data, length);
            },
            [&] {
                if (!quit_.load()) overflow_();
            });
    }
    CloseHandle(pipe);
    {
        MutexLock lock(mutex_);
        done_[which] = true;
    }
    changed_.NotifyAll();
}

void PipeReaders::Finish(uint32_t graceMs, const std::atomic<bool>* cancel) {
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(graceMs);
    MutexLock lock(mutex_);
    while (!BothDone() && !(cancel && cancel->load())) {
        auto slice = std::min(until, std::chrono::steady_clock::now() + std::chrono::milliseconds(kCancelCheckMs));
        if (changed_.WaitUntil(lock, slice, [this]() SV_REQUIRES(mutex_) { return BothDone(); })) break;
        if (std::chrono::steady_clock::now() >= until) break;
    }
    lock.Unlock();
    BreakAndJoin();
}

void PipeReaders::BreakAndJoin() {
    quit_.store(true);
    MutexLock lock(mutex_);
    // A reader checks the flag before each read, so the cancel can only miss one that is
    // between its check and its read; the next round catches it there.
    while (!BothDone()) {
        for (int i = 0; i < 2; ++i) {
            if (done_[i] || threadId_[i] == 0) continue;
            HANDLE thread = OpenThread(THREAD_TERMINATE, FALSE, threadId_[i]);
            if (thread) {
                CancelSynchronousIo(thread);
                CloseHandle(thread);
            }
        }
        changed_.WaitFor(lock, std::chrono::milliseconds(20), [this]() SV_REQUIRES(mutex_) { return BothDone(); });
    }
    lock.Unlock();
    for (auto& t : threads_) {
        if (t.joinable()) t.join();
    }
}

namespace {

// True when the process ended by itself within `timeoutMs`; false on the deadline or
// `cancel`.
bool WaitForCommand(HANDLE process, uint32_t timeoutMs, const std::atomic<bool>* cancel) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (cancel && cancel->load()) return false;
        auto now = std::chrono::steady_clock::now();
        if (now >= deadline) return false;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
        DWORD slice = static_cast<DWORD>(cancel ? std::min<long long>(left, kCancelCheckMs) : left);
        if (WaitForSingleObject(process, slice) == WAIT_OBJECT_0) return true;
    }
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
    CommandPipes pipes;
    CommandProcess process;
    if (!pipes.Create() || !process.Start(command, pipes)) {
        result.err = "CreateProcess failed";
        return result;
    }
    pipes.CloseChildEnds();

    // Declared after the process: the readers are joined before its handles close.
    PipeReaders readers(limits.outputCap, [&process] { process.Stop(); });
    HANDLE out = pipes.outRead;
    HANDLE err = pipes.errRead;
    pipes.outRead = pipes.errRead = nullptr;
    // A stream that nobody drains would stall the command until its deadline.
    if (!readers.Start(out, err)) process.Stop();

    bool ended = WaitForCommand(process.Handle(), limits.timeoutMs, cancel);
    std::string timedOut;
    if (!ended) {
        process.Stop();
        timedOut = "\n[timed out]";
        WaitForSingleObject(process.Handle(), kEndedProcessWaitMs);
    }
    readers.Finish(limits.readerGraceMs, cancel);
    result.out = readers.Text(0);
    result.err = readers.Text(1) + timedOut;
    if (ended) process.ReadExitCode(result.exitCode);
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

}  // namespace sv
