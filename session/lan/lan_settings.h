#pragma once
// Whether and where LAN direct listens, from the command line and host-ui.json.
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace sv {

constexpr int32_t kDefaultLanPort = 47811;

// optionPort is --lan (0 when not given). hostUiJson is the text of host-ui.json, or
// none when that file is absent. The result is 0 or below when LAN direct is off.
int32_t ChooseLanPort(int32_t optionPort, const std::optional<std::string>& hostUiJson);

// ChooseLanPort's port, and when the file asks for LAN direct with a value that turns it
// off instead, what is wrong and how to mend it: `"LanPort" is 70000, which is no port;
// give it a port from 1 to 65535`. Empty when nothing in the file went unheeded.
struct LanPortChoice {
    int32_t port = 0;
    std::string problem;
};
LanPortChoice ChooseLanPortSaying(int32_t optionPort, const std::optional<std::string>& hostUiJson);

// Why a listener on `port` could not be opened, from the socket error of its bind or
// listen (0: there was no address to listen on), for the "lan" audit line and the console.
std::string ListenFailureCause(int socketError, int32_t port);

// True when at least one controller has joined, every joined controller has an id
// (a password-mode peer has none) and each of them has an open LAN channel.
bool AllControllersOnLan(const std::set<std::string>& joinedIds, int32_t controllerCount,
                         const std::vector<std::string>& lanControllerIds);

// The firewall commands, in the order they are tried: delete, add, show.
struct FirewallCommands {
    std::wstring deleteRule;
    std::wstring addRule;
    std::wstring showRule;
};
FirewallCommands BuildFirewallCommands(int32_t port, const std::wstring& programPath);

}  // namespace sv
