#pragma once
// Programs of Windows itself (cmd.exe, netsh.exe) are started by their full path in the
// system directory, never found through the search path or the working directory.
#include <string>

namespace sv {

// The system directory joined with `file`: "C:\Windows\System32\netsh.exe".
std::wstring SystemProgramPath(const std::wstring& file);

}  // namespace sv
