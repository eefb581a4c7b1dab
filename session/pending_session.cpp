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
// streaming
std::pair<int32_t, int32_t> GetScreenSize() { return {0, 0}; }
void StopGdiplus() {}
TileEncoder::TileEncoder() {}
void Host::StopStreaming() {}
void Host::StartStreaming() {}
void Host::AnnounceStreamMode() {}
void Host::SendResolution() {}
void Host::ApplyStreamControl(const nlohmann::json&) {}
void Host::ApplyStreamPrefs(const std::string&, bool) {}
void Host::ApplyFrameAck(const std::string&, const nlohmann::json&) {}
void Host::RequestSingleFrame() {}
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
