#pragma once
// Programs of Windows itself (cmd.exe, netsh.exe) are started by their full path in the
// system directory, never found through the search path or the working directory.
#include <cstdint>
#include <string>

namespace sv {

// The system directory joined with `file`: "C:\Windows\System32\netsh.exe".
std::wstring SystemProgramPath(const std::wstring& file);

// Runs a system program hidden, with `arguments` after its name, inheriting no handles at
// all; waits at most `timeoutMs` and ends it after that. The exit code, or -1 when it did
// not start or did not end in time.
int32_t RunSystemProgram(const std::wstring& file, const std::wstring& arguments, uint32_t timeoutMs);

}  // namespace sv
