#include "session/lan/lan_settings.h"

#include <nlohmann/json.hpp>

namespace sv {
namespace {

// A key whose value is of another type makes the whole file count as "off".
struct WrongType {};

bool ReadFlag(const nlohmann::json& j, const char* key) {
    auto it = j.find(key);
    if (it == j.end()) return false;
    if (!it->is_boolean()) throw WrongType{};
    return it->get<bool>();
}

int64_t ReadPort(const nlohmann::json& j, const char* key) {
    auto it = j.find(key);
    if (it == j.end()) return 0;
    if (!it->is_number_integer()) throw WrongType{};
    return it->get<int64_t>();
}

}  // namespace

int32_t ChooseLanPort(int32_t optionPort, const std::optional<std::string>& hostUiJson) {
    if (optionPort != 0) return optionPort;
    if (!hostUiJson) return 0;
    nlohmann::json j = nlohmann::json::parse(*hostUiJson, nullptr, false);
    if (j.is_discarded() || !j.is_object()) return 0;
    try {
        if (!ReadFlag(j, "LanDirectEnabled") && !ReadFlag(j, "lanDirectEnabled")) return 0;
        int64_t port = ReadPort(j, "LanPort");
        if (port < 1) port = ReadPort(j, "lanPort");
        if (port < 1) port = kDefaultLanPort;
        // A TCP port cannot be larger; a bigger number is a broken setting, not a port.
        if (port > 65535) return 0;
        return static_cast<int32_t>(port);
    } catch (const WrongType&) {
        return 0;
    }
}

bool AllControllersOnLan(const std::set<std::string>& joinedIds, int32_t controllerCount,
                         const std::vector<std::string>& lanControllerIds) {
    if (joinedIds.empty()) return false;
    if (controllerCount != static_cast<int32_t>(joinedIds.size())) return false;
    std::set<std::string> onLan(lanControllerIds.begin(), lanControllerIds.end());
    for (const std::string& id : joinedIds) {
        if (onLan.count(id) == 0) return false;
    }
    return true;
}

FirewallCommands BuildFirewallCommands(int32_t port, const std::wstring& programPath) {
    const std::wstring name = L"name=\"Sorvane LAN Direct Win7\"";
    FirewallCommands c;
    c.deleteRule = L"netsh advfirewall firewall delete rule " + name;
    c.addRule = L"netsh advfirewall firewall add rule " + name +
                L" description=\"Sorvane: incoming direct connections on the local network.\" dir=in action=allow"
                L" enable=yes profile=private protocol=TCP localport=" +
                std::to_wstring(port) + L" program=\"" + programPath + L"\"";
    c.showRule = L"netsh advfirewall firewall show rule " + name;
    return c;
}

}  // namespace sv
