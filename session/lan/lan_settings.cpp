#include "session/lan/lan_settings.h"

#include <nlohmann/json.hpp>

#include "base/json_fields.h"

namespace sv {
namespace {

// A key whose value is of another type (null included) makes the whole file count as "off".
bool OfOtherKind(const nlohmann::json& j, const char* key, bool (*kindOk)(const nlohmann::json&)) {
    const nlohmann::json* v = JsonMember(j, key);
    return v != nullptr && !kindOk(*v);
}
bool IsBool(const nlohmann::json& v) { return v.is_boolean(); }
bool IsInteger(const nlohmann::json& v) { return v.is_number_integer(); }

}  // namespace

int32_t ChooseLanPort(int32_t optionPort, const std::optional<std::string>& hostUiJson) {
    // A TCP port cannot be larger: the listener would bind the low 16 bits while the
    // relay is told the whole number, so such a setting turns LAN direct off.
    if (optionPort > 65535) return 0;
    if (optionPort != 0) return optionPort;
    if (!hostUiJson) return 0;
    nlohmann::json j = nlohmann::json::parse(*hostUiJson, nullptr, false);
    if (j.is_discarded() || !j.is_object()) return 0;
    bool enabled = false;
    for (const char* key : {"LanDirectEnabled", "lanDirectEnabled"}) {
        if (OfOtherKind(j, key, IsBool)) return 0;
        enabled = JsonBool(j, key).value_or(false);
        if (enabled) break;
    }
    if (!enabled) return 0;
    if (OfOtherKind(j, "LanPort", IsInteger)) return 0;
    int64_t port = JsonInt64(j, "LanPort").value_or(0);
    if (port < 1) {
        if (OfOtherKind(j, "lanPort", IsInteger)) return 0;
        port = JsonInt64(j, "lanPort").value_or(0);
    }
    if (port < 1) port = kDefaultLanPort;
    // A TCP port cannot be larger; a bigger number is a broken setting, not a port.
    if (port > 65535) return 0;
    return static_cast<int32_t>(port);
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
