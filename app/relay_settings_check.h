#pragma once
// The start-up checks of what the host connects with: a relay address that can never
// work and a CA file that cannot be read end the start with one line naming the value,
// instead of a host that retries for ever. Plain logic; the file is read through the
// function the caller passes.
#include <functional>
#include <string>

namespace sv {

// Empty when `url` can reach a relay: "wss://" with a host and a port from 1 to 65535,
// or "ws://" to this computer (plain connections go nowhere else). Otherwise the line
// to print, naming the value.
std::string RelayUrlProblem(const std::string& url);

// Whether the relay is reached over TLS (and so needs the CA file); false for an
// address RelayUrlProblem refuses.
bool RelayUrlUsesTls(const std::string& url);

// Empty when `path` can be read (through `read`) and every certificate in it parses, at
// least one; otherwise the line to print, naming the path.
using WholeFileReader = std::function<bool(const std::string& path, std::string& contents)>;
std::string CaBundleProblem(const std::string& path, const WholeFileReader& read);

}  // namespace sv
