#pragma once
// Every message the host sends to the relay and its controllers, built in one place with
// its keys in the order peers expect. Compact JSON; text that is not UTF-8 never throws
// (such bytes become U+FFFD). Pure: no I/O.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace sv {

// Registration and the media connection.
struct LanEndpoints {
    int64_t port = 0;
    std::vector<std::string> addrs;
};
std::string HostRegisterMessage(const std::string& hostId, const std::string& passwordHash,
                                const std::optional<LanEndpoints>& lan);
std::string DeviceRegisterMessage(int32_t deviceId, const std::string& deviceSecret,
                                  const std::optional<LanEndpoints>& lan);
std::string MediaAttachMessage(const std::string& token);
std::string UpdatePasswordMessage(const std::string& passwordHash);

// Input and uploads.
std::string InputBlockResultMessage(const std::string& id, bool blocked, const char* error);
std::string FileErrorMessage(const std::string& id, const std::string& error);

// The stream.
std::string StreamModeMessage(bool tiles);
std::string ResolutionMessage(int32_t width, int32_t height);

// LAN direct.
std::string LanEndpointsText(const LanEndpoints& endpoints);
// "lan" is null when there is no address to offer.
std::string LanAdvertiseMessage(const LanEndpoints& endpoints);
std::string LanTicketReadyMessage(const std::string& ticketId);
std::string LanPathMessage(const std::string& controllerId, bool active, const std::string& peerAddress);

// Remote tools.
struct DirListing;
std::string ExecResultJson(const std::string& id, int32_t exitCode, const std::string& out, const std::string& err);
std::string FsListResultJson(const std::string& id, const std::string& path, const nlohmann::json& entries);
std::string FsListErrorJson(const std::string& id, const std::string& path,
                            const std::string& error = "directory not found");
std::string LogResultJson(const std::string& id, const std::string& text);
std::string LogErrorJson(const std::string& id, const std::string& error);
std::string FileBeginJson(const std::string& transferId, const std::string& name, uint64_t size);
std::string FileChunkJson(const std::string& transferId, uint64_t seq, const uint8_t* data, size_t length);
std::string FileEndJson(const std::string& transferId);

}  // namespace sv
