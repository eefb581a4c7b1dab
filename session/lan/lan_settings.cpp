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

// A setting's value as the warning names it: JSON as written, cut short.
std::string Shown(const nlohmann::json& value) {
    std::string text = value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    if (text.size() <= 40) return text;
    size_t cut = 40;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;  // whole characters only
    return text.substr(0, cut) + "...";
}

LanPortChoice Off(const nlohmann::json& j, const char* key, const std::string& what) {
    LanPortChoice choice;
    const nlohmann::json* v = JsonMember(j, key);
    choice.problem = "\"" + std::string(key) + "\" is " + (v != nullptr ? Shown(*v) : std::string("missing")) + what;
    return choice;
}

}  // namespace

int32_t ChooseLanPort(int32_t optionPort, const std::optional<std::string>& hostUiJson) {
    return ChooseLanPortSaying(optionPort, hostUiJson).port;
}

LanPortChoice ChooseLanPortSaying(int32_t optionPort, const std::optional<std::string>& hostUiJson) {
    LanPortChoice choice;
    // A TCP port cannot be larger: the listener would bind the low 16 bits while the
    // relay is told the whole number, so such a setting turns LAN direct off. The
    // command line says so where the word is read.
    if (optionPort > 65535) return choice;
    if (optionPort != 0) {
        choice.port = optionPort;
        return choice;
    }
    if (!hostUiJson) return choice;
    nlohmann::json j = nlohmann::json::parse(*hostUiJson, nullptr, false);
    if (j.is_discarded() || !j.is_object()) return choice;
    const char notAFlag[] = ", not true or false; give it true or false";
    const char notAPort[] = ", which is no port; give it a port from 1 to 65535";
    bool enabled = false;
    for (const char* key : {"LanDirectEnabled", "lanDirectEnabled"}) {
        if (OfOtherKind(j, key, IsBool)) return Off(j, key, notAFlag);
        enabled = JsonBool(j, key).value_or(false);
        if (enabled) break;
    }
    if (!enabled) return choice;
    const char* key = "LanPort";
    if (OfOtherKind(j, key, IsInteger)) return Off(j, key, notAPort);
    int64_t port = JsonInt64(j, key).value_or(0);
    if (port < 1) {
        key = "lanPort";
        if (OfOtherKind(j, key, IsInteger)) return Off(j, key, notAPort);
        port = JsonInt64(j, key).value_or(0);
    }
    if (port < 1) port = kDefaultLanPort;
    // A TCP port cannot be larger; a bigger number is a broken setting, not a port.
    if (port > 65535) return Off(j, key, notAPort);
    choice.port = static_cast<int32_t>(port);
    return choice;
}

std::string ListenFailureCause(int socketError, int32_t port) {
    // Winsock's numbers, named here so that this stays free of the Windows headers.
    constexpr int kAccessDenied = 10013;  // WSAEACCES
    constexpr int kInUse = 10048;         // WSAEADDRINUSE
    constexpr int kNotHere = 10049;       // WSAEADDRNOTAVAIL
    const std::string p = std::to_string(port);
    const std::string code = " (socket error " + std::to_string(socketError) + ")";
    switch (socketError) {
    case 0:
        return "there was no address to listen on";
    case kInUse:
        return "port " + p + " is in use by another program" + code;
    case kAccessDenied:
        // What a port another program holds exclusively gives, or one the system reserves.
        return "port " + p + " is in use by another program, or reserved by the system" + code;
    case kNotHere:
        return "the address to listen on is not one of this computer's" + code;
    default:
        return "the port cannot be opened" + code;
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
