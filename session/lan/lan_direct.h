#pragma once
// Windows pieces of LAN direct: the firewall rule through netsh.
#include <cstdint>
#include <functional>
#include <string>

namespace sv {

// Runs a command line without a window and returns its exit code; all bits set when
// the process did not start, STILL_ACTIVE (259) when it outlived the 30 s wait.
uint32_t RunHiddenCommand(const std::wstring& commandLine);

using HiddenCommandRunner = std::function<uint32_t(const std::wstring& commandLine)>;
// Replaces the runner EnsureFirewallRule uses (tests: netsh under Wine always succeeds).
void SetHiddenCommandRunner(HiddenCommandRunner runner);

// True when the inbound rule for this program and port exists after the attempt.
bool EnsureFirewallRule(int32_t port);

}  // namespace sv
