#pragma once
// One command of the "exec-request" tool: cmd.exe with captured output, a deadline and a
// cap per output stream. Everything it starts — the process tree, the two pipe readers —
// is ended and joined before it returns.
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <utility>

#include "base/annotated_mutex.h"
#include "session/tools/remote_tool_formats.h"

namespace sv {

struct ShellCommandResult {
    int32_t exitCode = -1;  // -1: did not start, or did not end by itself in time
    std::string out;
    std::string err;
};

struct ShellCommandLimits {
    uint32_t timeoutMs = kCommandTimeoutMs;
    size_t outputCap = kCommandOutputCap;
    // How long the readers may go on after the command ended: something it started can
    // hold the pipes open.
    uint32_t readerGraceMs = kPipeReaderGraceMs;
};

// The two threads that drain standard output and error, so that a child filling one pipe
// never blocks while the host reads the other. They are owned here and always joined: a
// read that would outlast the command (something it started still holds the pipe) is
// cancelled instead.
class PipeReaders {
public:
    // Each stream keeps up to `cap` bytes; `overflow` runs on the reader whose stream
    // passed it (the command is ended: nothing more would be kept).
    PipeReaders(size_t cap, std::function<void()> overflow)
        : overflow_(std::move(overflow)), output_{CappedOutput(cap), CappedOutput(cap)} {}
    PipeReaders(const PipeReaders&) = delete;
    PipeReaders& operator=(const PipeReaders&) = delete;
    ~PipeReaders() { BreakAndJoin(); }

    // Takes both reading ends; each reader closes its own. False when a reader could not
    // start (its pipe is closed here and counts as read).
    bool Start(HANDLE out, HANDLE err);
    // Waits until both readers reached the end of their pipes, at most `graceMs` or until
    // `cancel`; then breaks what still reads and joins both.
    void Finish(uint32_t graceMs, const std::atomic<bool>* cancel);
    // What reader 0 (standard output) or 1 (standard error) kept.
    std::string Text(int which) {
        MutexLock lock(mutex_);
        return output_[which].Text();
    }

private:
    void Run(int which, HANDLE pipe);
    bool BothDone() const SV_REQUIRES(mutex_) { return done_[0] && done_[1]; }
    void BreakAndJoin();

    std::function<void()> overflow_;
    std::atomic<bool> quit_{false};
    Mutex mutex_;
    CondVar changed_;
    CappedOutput output_[2] SV_GUARDED_BY(mutex_);
    bool done_[2] SV_GUARDED_BY(mutex_) = {true, true};
    DWORD threadId_[2] SV_GUARDED_BY(mutex_) = {0, 0};
    std::thread threads_[2];
};

// Runs `command` under cmd.exe from the system directory with captured output. The child
// inherits its three pipe ends and nothing else; on a time-out, a cut output or `cancel`
// the command and what it started are ended. `cancel` also cuts the readers' grace short.
ShellCommandResult RunShellCommand(const std::string& command, const ShellCommandLimits& limits = ShellCommandLimits(),
                                   const std::atomic<bool>* cancel = nullptr);

// Reads `pipe` to its end in pieces of 8 KiB and hands each to `sink`; when `sink` answers
// false (its cap overflowed), `stop` ends the command and reading ends. A read cancelled
// from another thread ends reading too.
void ReadPipeCapped(HANDLE pipe, const std::function<bool(const char*, size_t)>& sink,
                    const std::function<void()>& stop);

// Command output arrives in the console's code page unless the program wrote UTF-8.
std::string ConsoleBytesToUtf8(const std::string& bytes);

}  // namespace sv
