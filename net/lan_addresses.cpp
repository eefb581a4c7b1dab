#include "net/lan_addresses.h"

#include <algorithm>
#include <cstdint>

namespace sv {
namespace {

bool ParseDottedQuad(const std::string& text, uint8_t out[4]) {
    size_t pos = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (pos >= text.size() || text[pos] != '.') return false;
            ++pos;
        }
        size_t start = pos;
        unsigned value = 0;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && pos - start < 3) {
            value = value * 10 + static_cast<unsigned>(text[pos] - '0');
            ++pos;
        }
        if (pos == start || value > 255) return false;
        out[part] = static_cast<uint8_t>(value);
    }
    return pos == text.size();
}

bool StartsWithNoCase(const std::string& text, const std::string& prefix) {
    if (text.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != prefix[i]) return false;
    }
    return true;
}

}  // namespace

bool IsPrivateIPv4(const std::string& dotted) {
    uint8_t a[4];
    if (!ParseDottedQuad(dotted, a)) return false;
    if (a[0] == 10) return true;
    if (a[0] == 172 && (a[1] & 0xF0) == 16) return true;
    if (a[0] == 192 && a[1] == 168) return true;
    if (a[0] == 169 && a[1] == 254) return true;
    return false;
}

std::vector<std::string> SelectPrivateAddresses(const std::vector<std::string>& all) {
    std::vector<std::string> out;
    for (const std::string& a : all) {
        if (IsPrivateIPv4(a) && std::find(out.begin(), out.end(), a) == out.end()) out.push_back(a);
    }
    return out;
}

std::vector<std::string> AppendLoopback(std::vector<std::string> all) {
    all.push_back("127.0.0.1");
    return all;
}

std::vector<std::string> TicketListenAddresses(const std::vector<std::string>& all) {
    return AppendLoopback(SelectPrivateAddresses(all));
}

std::string LanPeerKey(const std::string& address, const std::vector<std::string>& ownAddresses) {
    std::string v4 = address;
    const std::string mapped = "::ffff:";
    if (StartsWithNoCase(address, mapped)) v4 = address.substr(mapped.size());
    uint8_t quad[4];
    if (ParseDottedQuad(v4, quad) && quad[0] == 127) return kLocalPeer;
    if (address == "::1") return kLocalPeer;
    for (const std::string& own : ownAddresses) {
        if (!own.empty() && (own == address || own == v4)) return kLocalPeer;
    }
    return address;
}

}  // namespace sv
