// Temporary definitions so the host links until each area lands.
#include "session/host.h"
#include "session/screen_capture.h"

namespace sv {
// identity and relay loop
int Host::RunClassic() { return 0; }
int Host::RunEnrolled(int32_t, const std::string&) { return 0; }
void Host::RunMediaChannel(const std::string&, uint32_t) {}
void Host::OnControllerJoined(const std::string&) {}
void Host::OnPeerLeft(const std::string&) {}
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
void Host::ApplyStreamControl(const nlohmann::json&) {}
void Host::ApplyStreamPrefs(const std::string&, bool) {}
void Host::ApplyFrameAck(const std::string&, const nlohmann::json&) {}
void Host::RequestSingleFrame() {}
// LAN direct
void Host::AdvertiseLan() {}
void Host::PrepareLanTicket(const std::string&, const std::string&, const std::string&) {}
void Host::RevokeLanTickets(const std::string&) {}
}  // namespace sv
