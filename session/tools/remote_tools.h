#pragma once
// The four remote tools a controller may use: run a command, list a directory, fetch a file,
// read the end of a log. Each worker runs on a detached thread of its own and answers through
// `send`; none of them throws.
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include <nlohmann/json.hpp>

#include "session/tools/remote_tool_formats.h"

namespace sv {

using ToolSend = std::function<void(const std::string& text)>;

struct ShellCommandResult {
    int32_t exitCode = -1;  // -1: did not start, or did not end by itself in time
    std::string out;
    std::string err;
};

struct ShellCommandLimits {
    uint32_t timeoutMs = kCommandTimeoutMs;
    size_t outputCap = kCommandOutputCap;
    uint32_t readerGraceMs = kPipeReaderGraceMs;
};

// Runs `command` under cmd.exe from the system directory with captured output. The child
// inherits its three pipe ends and nothing else; on a time-out, a cut output or `cancel`
// the command and what it started are ended.
ShellCommandResult RunShellCommand(const std::string& command, const ShellCommandLimits& limits = ShellCommandLimits(),
                                   const std::atomic<bool>* cancel = nullptr);

// Reads `pipe` to its end in pieces of 8 KiB and hands each to `sink`; when `sink` answers
// false (its cap overflowed), `stop` ends the command and reading ends.
void ReadPipeCapped(HANDLE pipe, const std::function<bool(const char*, size_t)>& sink,
                    const std::function<void()>& stop);

// Adds one entry of a directory to `listing` (left out once the listing is full).
void MakeDirEntryJson(DirListing& listing, const WIN32_FIND_DATAW& entry, bool isDir);

// Command output arrives in the console's code page unless the program wrote UTF-8.
std::string ConsoleBytesToUtf8(const std::string& bytes);

void HandleExecRequest(const ToolSend& send, const std::string& id, const std::string& command,
                       const std::string& from, const std::atomic<bool>* cancel = nullptr);
void HandleFsList(const ToolSend& send, const std::string& id, const std::string& path, const std::string& from);
void HandleFsRead(const ToolSend& send, const std::string& id, const std::string& path, const std::string& from,
                  const std::atomic<bool>* cancel = nullptr);
void HandleLogTail(const ToolSend& send, const std::string& id, const std::string& path, const nlohmann::json& lines,
                   const std::string& from);

}  // namespace sv
