// A LAN controller's side of the handshake: the ticket id, A and M1 as it sends them,
// against a host with one known ticket. The exponent source is fixed and small so an
// input always takes the same path and runs fast.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "net/lan_handshake.h"
#include "net/srp.h"

namespace {

const std::vector<uint8_t>& Salt() {
    static const std::vector<uint8_t> salt(32, 0x11);
    return salt;
}

const std::vector<uint8_t>& Verifier() {
    static const std::vector<uint8_t> v = sv::SrpMakeVerifier(sv::SrpSalt(Salt()), sv::SrpPassword("kata sandi"));
    return v;
}

bool SmallExponent(uint8_t* out, size_t n) {
    std::memset(out, 0, n);
    if (n) out[n - 1] = 7;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    size_t at = 0;
    sv::HandshakeRead read = [&](uint8_t* p, size_t n) {
        if (size - at < n) return false;
        if (n) std::memcpy(p, data + at, n);
        at += n;
        return true;
    };
    std::vector<uint8_t> written;
    sv::HandshakeWrite write = [&](const uint8_t* p, size_t n) {
        written.insert(written.end(), p, p + n);
        return true;
    };
    sv::HandshakeTicketLookup lookup = [](const std::string& id, sv::LanTicket& out) {
        if (id != "t1") return false;
        out = sv::LanTicket{Salt(), Verifier(), "c1"};
        return true;
    };
    std::string controller;
    std::vector<uint8_t> key;
    bool ok = size > 0 && (data[0] & 1)
                  ? sv::RunTicketHandshake(read, write, lookup, controller, key, SmallExponent)
                  : sv::RunHostHandshake(read, write, Salt(), Verifier(), key, SmallExponent);
    // Only a right proof opens the channel, and a fuzzer cannot guess one.
    if (ok) __builtin_trap();
    if (!key.empty()) __builtin_trap();
    return 0;
}
