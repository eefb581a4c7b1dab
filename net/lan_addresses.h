#pragma once
// Which IPv4 addresses the LAN listener advertises and binds. Pure text logic;
// the enumeration of the machine's addresses lives with the listener.
#include <string>
#include <vector>

namespace sv {

// True for 10.0.0.0/8, 172.16.0.0/12, 192.168.0.0/16 and 169.254.0.0/16.
// Anything that is not a well-formed dotted quad is not private.
bool IsPrivateIPv4(const std::string& dotted);

// The private addresses of `all`, in order, each once.
std::vector<std::string> SelectPrivateAddresses(const std::vector<std::string>& all);

// `all` as it is, with "127.0.0.1" appended.
std::vector<std::string> AppendLoopback(std::vector<std::string> all);

// Where a ticket-mode listener binds: the private addresses, then loopback.
std::vector<std::string> TicketListenAddresses(const std::vector<std::string>& all);

// The one lock-out peer that stands for every connection from this machine.
constexpr char kLocalPeer[] = "local";

// Who a connection counts as for the lock-out: kLocalPeer for any loopback source
// (127.0.0.0/8, "::1", either as an IPv4-mapped IPv6 text) and for any of `ownAddresses`,
// since a local user can pick from millions of such sources; any other address as it
// is. Comparison is by text, the way the listener and the resolver print addresses.
std::string LanPeerKey(const std::string& address, const std::vector<std::string>& ownAddresses);

}  // namespace sv
