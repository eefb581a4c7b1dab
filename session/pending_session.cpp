// Temporary definitions so the host links until each area lands.
#include "session/host.h"
#include "session/screen_capture.h"

namespace sv {
// LAN direct
void Host::AdvertiseLan() {}
int32_t Host::ReadLanPort() { return 0; }
void Host::StartLanWithPassword(int32_t, const std::string&) {}
void Host::StartLanWithTickets(int32_t) {}
std::string Host::BuildLanEndpoints() { return std::string(); }
void Host::UpdateLanPathState() {}
void Host::PrepareLanTicket(const std::string&, const std::string&, const std::string&) {}
void Host::RevokeLanTickets(const std::string&) {}
}  // namespace sv
