// Temporary definitions so the host links until LAN direct lands.
#include "net/lan_server.h"

namespace sv {
SecureChannel::SecureChannel(SOCKET socket, const std::vector<uint8_t>&, uint8_t role) : socket_(socket), role_(role) {}
SecureChannel::~SecureChannel() {}
bool SecureChannel::SendFrame(const std::vector<uint8_t>&, uint8_t) { return false; }
bool SecureChannel::ReceiveFrame(std::vector<uint8_t>&, bool&) { return false; }
void SecureChannel::Shutdown() { dead_.store(1); }
void SecureChannel::Close() {}
LanServer::LanServer() {}
LanServer::~LanServer() {}
void LanServer::Stop() {}
std::vector<std::string> ListLocalAddresses() { return {}; }
}  // namespace sv
