#include "session/send_paths.h"

#include <utility>

namespace sv {

SendPaths::SendPaths(Seams seams) : seams_(std::move(seams)) {}

void SendPaths::SendText(const std::string& text) const {
    seams_.sendRelayText(text);
    if (seams_.lanChannels() == 0) return;
    seams_.sendToLan(std::vector<uint8_t>(text.begin(), text.end()), 0);
}

bool SendPaths::SendBinary(const uint8_t* data, size_t length) const {
    // LAN decides only when nobody is left on the relay path.
    const bool allOnLan = seams_.allOnLan();
    const bool relayPath = !allOnLan && (seams_.relayControllers() || seams_.lanChannels() == 0);
    bool sent = false;
    if (!allOnLan) {
        if (seams_.mediaAttached()) {
            sent = seams_.sendMediaBinary(data, length) || seams_.sendRelayBinary(data, length);
        } else {
            sent = seams_.sendRelayBinary(data, length);
        }
    }
    if (seams_.lanChannels() == 0) return sent;
    const bool lanSent = seams_.sendToLan(std::vector<uint8_t>(data, data + length), 1);
    return relayPath ? sent : lanSent;
}

}  // namespace sv
