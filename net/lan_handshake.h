#pragma once
// The LAN handshake's bytes, apart from the socket that carries them. Every
// message is a 4-byte big-endian length and that many bytes:
//   [ticket mode: controller -> ticket id]
//   host -> salt, host -> B, controller -> A, controller -> M1,
//   host -> M2 (32 bytes), or an empty message that refuses.
// The transport hands in two function objects: one that reads exactly n bytes
// and one that writes all n bytes, each false on failure.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "base/system_random.h"

namespace sv {

struct LanTicket {
    std::vector<uint8_t> salt;
    std::vector<uint8_t> verifier;
    std::string controllerId;
};

constexpr int32_t kHandshakeMessageBound = 4096;

using HandshakeRead = std::function<bool(uint8_t* data, size_t length)>;
using HandshakeWrite = std::function<bool(const uint8_t* data, size_t length)>;
using HandshakeTicketLookup = std::function<bool(const std::string& ticketId, LanTicket& out)>;

// The length prefix and the bytes; false (nothing written to `out`) above 2^31 - 1 bytes.
bool EncodeHandshakeMessage(const std::vector<uint8_t>& bytes, std::vector<uint8_t>& out);
// Reads one message; refuses a negative length or one above `bound` before
// reading its body.
bool ReadHandshakeMessageFrom(const HandshakeRead& read, std::vector<uint8_t>& out, int32_t bound);
bool WriteHandshakeMessageTo(const HandshakeWrite& write, const std::vector<uint8_t>& bytes);

// The host side of the proof against one salt and verifier. On success `key` holds the
// 32-byte session key; on any failure it is empty (and the peer got the empty refusal
// where the exchange got that far).
bool RunHostHandshake(const HandshakeRead& read, const HandshakeWrite& write, const std::vector<uint8_t>& salt,
                      const std::vector<uint8_t>& verifier, std::vector<uint8_t>& key,
                      const RandomFill& random = SystemRandom());
// Ticket mode: the ticket id first, then the proof against that ticket's values. An
// unknown ticket is refused with the empty message. `controllerId` is the ticket's.
bool RunTicketHandshake(const HandshakeRead& read, const HandshakeWrite& write, const HandshakeTicketLookup& lookup,
                        std::string& controllerId, std::vector<uint8_t>& key,
                        const RandomFill& random = SystemRandom());

}  // namespace sv
