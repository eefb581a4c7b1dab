#include "net/lan_handshake.h"

#include "net/srp.h"

namespace sv {

bool EncodeHandshakeMessage(const std::vector<uint8_t>& bytes, std::vector<uint8_t>& out) {
    if (bytes.size() > 0x7fffffffu) return false;
    uint32_t n = static_cast<uint32_t>(bytes.size());
    out.clear();
    out.reserve(4 + bytes.size());
    out.push_back(static_cast<uint8_t>(n >> 24));
    out.push_back(static_cast<uint8_t>(n >> 16));
    out.push_back(static_cast<uint8_t>(n >> 8));
    out.push_back(static_cast<uint8_t>(n));
    out.insert(out.end(), bytes.begin(), bytes.end());
    return true;
}

bool ReadHandshakeMessageFrom(const HandshakeRead& read, std::vector<uint8_t>& out, int32_t bound) {
    uint8_t lengthBytes[4];
    if (!read(lengthBytes, sizeof lengthBytes)) return false;
    int32_t length = static_cast<int32_t>((static_cast<uint32_t>(lengthBytes[0]) << 24) |
                                          (static_cast<uint32_t>(lengthBytes[1]) << 16) |
                                          (static_cast<uint32_t>(lengthBytes[2]) << 8) | lengthBytes[3]);
    if (length < 0 || length > bound) return false;
    out.assign(static_cast<size_t>(length), 0);
    return read(out.data(), out.size());
}

bool WriteHandshakeMessageTo(const HandshakeWrite& write, const std::vector<uint8_t>& bytes) {
    std::vector<uint8_t> message;
    if (!EncodeHandshakeMessage(bytes, message)) return false;
    return write(message.data(), message.size());
}

bool RunHostHandshake(const HandshakeRead& read, const HandshakeWrite& write, const std::vector<uint8_t>& salt,
                      const std::vector<uint8_t>& verifier, std::vector<uint8_t>& key, const RandomFill& random) {
    key.clear();
    SrpServerState state(salt);
    std::vector<uint8_t> B = SrpServerStart(state, verifier, random);
    if (B.empty() || salt.empty()) {
        // Nothing to prove against: refuse without going through the motions.
        WriteHandshakeMessageTo(write, {});
        return false;
    }
    if (!WriteHandshakeMessageTo(write, salt) || !WriteHandshakeMessageTo(write, B)) return false;
    std::vector<uint8_t> A, M1;
    if (!ReadHandshakeMessageFrom(read, A, kHandshakeMessageBound) ||
        !ReadHandshakeMessageFrom(read, M1, kHandshakeMessageBound)) {
        return false;
    }
    std::vector<uint8_t> M2 = SrpServerFinish(state, A, M1);
    if (M2.empty() || state.K.size() != 32) {
        WriteHandshakeMessageTo(write, {});
        return false;
    }
    if (!WriteHandshakeMessageTo(write, M2)) return false;
    key = state.K;
    return true;
}

bool RunTicketHandshake(const HandshakeRead& read, const HandshakeWrite& write, const HandshakeTicketLookup& lookup,
                        std::string& controllerId, std::vector<uint8_t>& key, const RandomFill& random) {
    key.clear();
    std::vector<uint8_t> idBytes;
    if (!ReadHandshakeMessageFrom(read, idBytes, kHandshakeMessageBound) || idBytes.empty()) return false;
    LanTicket ticket;
    if (!lookup || !lookup(std::string(idBytes.begin(), idBytes.end()), ticket)) {
        WriteHandshakeMessageTo(write, {});
        return false;
    }
    controllerId = ticket.controllerId;
    return RunHostHandshake(read, write, ticket.salt, ticket.verifier, key, random);
}

}  // namespace sv
