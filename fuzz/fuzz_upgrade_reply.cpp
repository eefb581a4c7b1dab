// The relay's answer to the upgrade request, as the client reads it: byte by byte up
// to the blank line or the head bound, then checked against the expected accept value.
#include <cstdint>
#include <string>

#include "net/websocket_frame.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string accept = sv::ComputeWebSocketAccept("dGhlIHNhbXBsZSBub25jZQ==");
    std::string head;
    for (size_t i = 0; i < size && head.size() < sv::kMaxUpgradeReplyHead && !sv::UpgradeReplyHeadComplete(head); ++i) {
        head.push_back(static_cast<char>(data[i]));
    }
    sv::CheckUpgradeReply(head, accept);
    // The whole input as well, whether or not it ends the head.
    sv::CheckUpgradeReply(std::string(reinterpret_cast<const char*>(data), size), accept);
    return 0;
}
