#pragma once
// Windows pieces of LAN direct: the firewall rule through netsh.
#include <cstdint>
#include <functional>
#include <string>

#include "session/host_options.h"

namespace sv {

// Runs a command line without a window and returns its exit code; all bits set when
// the process did not start, STILL_ACTIVE (259) when it outlived the 30 s wait.
uint32_t RunHiddenCommand(const std::wstring& commandLine);

// True when the inbound rule for this program and port exists after the attempt; each
// netsh command goes through `run` (tests: netsh under Wine always succeeds).
bool EnsureFirewallRule(int32_t port, const HiddenCommandRunner& run);

}  // namespace sv
