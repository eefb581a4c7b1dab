// Temporary definitions so the host links until each area lands.
#include "session/host.h"
#include "session/screen_capture.h"

namespace sv {
// clipboard, uploads, remote tools
void Host::ApplyClipboardText(const std::string&) {}
void Host::HandleFileBegin(const nlohmann::json&, const std::string&) {}
void Host::HandleFileChunk(const nlohmann::json&, const std::string&) {}
void Host::HandleFileEnd(const nlohmann::json&, const std::string&) {}
void Host::HandleRemoteTool(const std::string&, const nlohmann::json&, const std::string&) {}
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
