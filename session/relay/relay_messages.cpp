#include "session/relay/relay_messages.h"

#include "base/json_text.h"
#include "session/tools/file_transfer.h"

namespace sv {

using nlohmann::ordered_json;

namespace {

ordered_json EndpointsJson(const LanEndpoints& lan) {
    ordered_json j;
    j["port"] = lan.port;
    j["addrs"] = lan.addrs;
    return j;
}

}  // namespace

std::string HostRegisterMessage(const std::string& hostId, const std::string& passwordHash,
                                const std::optional<LanEndpoints>& lan) {
    ordered_json m;
    m["type"] = "host-register";
    m["hostId"] = hostId;
    m["passwordHash"] = passwordHash;
    if (lan) m["lan"] = EndpointsJson(*lan);
    return SerializeJson(m);
}

std::string DeviceRegisterMessage(int32_t deviceId, const std::string& deviceSecret,
                                  const std::optional<LanEndpoints>& lan) {
    ordered_json m;
    m["type"] = "device-register";
    m["deviceId"] = deviceId;
    m["deviceSecret"] = deviceSecret;
    if (lan) m["lan"] = EndpointsJson(*lan);
    return SerializeJson(m);
}

std::string MediaAttachMessage(const std::string& token) {
    ordered_json m;
    m["type"] = "media-attach";
    m["token"] = token;
    return SerializeJson(m);
}

std::string UpdatePasswordMessage(const std::string& passwordHash) {
    ordered_json m;
    m["type"] = "update-password";
    m["passwordHash"] = passwordHash;
    return SerializeJson(m);
}

std::string InputBlockResultMessage(const std::string& id, bool blocked, const char* error) {
    ordered_json m;
    m["type"] = "input-block-result";
    m["id"] = id;
    m["blocked"] = blocked;
    m["error"] = nullptr;
    if (error) m["error"] = error;
    return SerializeJson(m);
}

std::string FileErrorMessage(const std::string& id, const std::string& error) {
    ordered_json m;
    m["type"] = "file-error";
    m["id"] = id;
    m["error"] = error;
    return SerializeJson(m);
}

std::string StreamModeMessage(bool tiles) {
    ordered_json m;
    m["type"] = "stream-mode";
    m["tiles"] = tiles;
    return SerializeJson(m);
}

std::string ResolutionMessage(int32_t width, int32_t height) {
    ordered_json m;
    m["type"] = "resolution";
    m["width"] = width;
    m["height"] = height;
    return SerializeJson(m);
}

std::string LanEndpointsText(const LanEndpoints& endpoints) { return SerializeJson(EndpointsJson(endpoints)); }

std::string LanAdvertiseMessage(const LanEndpoints& endpoints) {
    ordered_json m;
    m["type"] = "lan-advertise";
    m["lan"] = nullptr;
    if (!endpoints.addrs.empty()) m["lan"] = EndpointsJson(endpoints);
    return SerializeJson(m);
}

std::string LanTicketReadyMessage(const std::string& ticketId) {
    ordered_json m;
    m["type"] = "lan-ticket-ready";
    m["ticketId"] = ticketId;
    return SerializeJson(m);
}

std::string LanPathMessage(const std::string& controllerId, bool active, const std::string& peerAddress) {
    ordered_json m;
    m["type"] = "lan-path";
    m["controllerId"] = controllerId;
    m["active"] = active;
    if (active) m["ip"] = peerAddress;
    return SerializeJson(m);
}

std::string ExecResultJson(const std::string& id, int32_t exitCode, const std::string& out, const std::string& err) {
    ordered_json m;
    m["type"] = "exec-result";
    m["id"] = id;
    m["exitCode"] = exitCode;
    m["stdout"] = out;
    m["stderr"] = err;
    return SerializeJson(m);
}

std::string FsListResultJson(const std::string& id, const std::string& path, const nlohmann::json& entries) {
    ordered_json m;
    m["type"] = "fs-list-result";
    m["id"] = id;
    m["path"] = path;
    m["entries"] = ordered_json::array();
    // Each entry keeps name, isDir, size, modified in that order.
    for (const auto& e : entries) {
        ordered_json entry;
        for (const char* key : {"name", "isDir", "size", "modified"}) {
            auto it = e.find(key);
            if (it != e.end()) entry[key] = *it;
        }
        m["entries"].push_back(std::move(entry));
    }
    return SerializeJson(m);
}

std::string FsListErrorJson(const std::string& id, const std::string& path, const std::string& error) {
    ordered_json m;
    m["type"] = "fs-list-result";
    m["id"] = id;
    m["path"] = path;
    m["entries"] = ordered_json::array();
    m["error"] = error;
    return SerializeJson(m);
}

std::string LogResultJson(const std::string& id, const std::string& text) {
    ordered_json m;
    m["type"] = "log-result";
    m["id"] = id;
    m["text"] = text;
    return SerializeJson(m);
}

std::string LogErrorJson(const std::string& id, const std::string& error) {
    ordered_json m;
    m["type"] = "log-result";
    m["id"] = id;
    m["text"] = "";
    m["error"] = error;
    return SerializeJson(m);
}

std::string FileBeginJson(const std::string& transferId, const std::string& name, uint64_t size) {
    ordered_json m;
    m["type"] = "file-begin";
    m["id"] = transferId;
    m["name"] = name;
    m["size"] = size;
    return SerializeJson(m);
}

std::string FileChunkJson(const std::string& transferId, uint64_t seq, const uint8_t* data, size_t length) {
    ordered_json m;
    m["type"] = "file-chunk";
    m["id"] = transferId;
    m["seq"] = seq;
    m["data"] = EncodeBase64(data, length);
    return SerializeJson(m);
}

std::string FileEndJson(const std::string& transferId) {
    ordered_json m;
    m["type"] = "file-end";
    m["id"] = transferId;
    return SerializeJson(m);
}

}  // namespace sv
