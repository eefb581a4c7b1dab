// The LAN handshake's framing alone, message after message, as the listener reads it
// before any arithmetic: lengths, bounds and bodies cut short. (The whole exchange with
// the proof is fuzz_lan_handshake, far slower per input.)
#include <cstdint>
#include <cstring>
#include <vector>

#include "net/lan_handshake.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    size_t at = 0;
    int reads = 0;
    sv::HandshakeRead read = [&](uint8_t* p, size_t n) {
        ++reads;
        if (size - at < n) return false;
        if (n) std::memcpy(p, data + at, n);
        at += n;
        return true;
    };
    std::vector<uint8_t> message;
    for (int i = 0; i < 64; ++i) {
        if (!sv::ReadHandshakeMessageFrom(read, message, sv::kHandshakeMessageBound)) break;
        if (message.size() > static_cast<size_t>(sv::kHandshakeMessageBound)) __builtin_trap();
        std::vector<uint8_t> again;
        if (!sv::EncodeHandshakeMessage(message, again) || again.size() != message.size() + 4) __builtin_trap();
    }
    return 0;
}
