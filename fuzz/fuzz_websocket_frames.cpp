// Bytes from a relay after the upgrade: frames read and gathered into messages
// exactly as the client's receive loop does, until the bytes run out or it gives up.
#include <cstdint>
#include <cstring>
#include <vector>

#include "net/websocket_frame.h"
#include "net/websocket_message.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    size_t at = 0;
    sv::WebSocketRead read = [&](uint8_t* p, size_t n) {
        if (size - at < n) return false;
        if (n) std::memcpy(p, data + at, n);
        at += n;
        return true;
    };
    for (int messages = 0; messages < 64; ++messages) {
        sv::WebSocketMessageAssembler assembler;
        sv::WebSocketMessage msg;
        for (;;) {
            std::vector<uint8_t> payload;
            bool fin = false;
            uint8_t opcode = sv::ReadWebSocketFrame(read, payload, fin, assembler.ContinuationLimit());
            sv::WebSocketMessageAssembler::Step step = assembler.Add(opcode, fin, payload, msg);
            if (step == sv::WebSocketMessageAssembler::Step::kError || step == sv::WebSocketMessageAssembler::Step::kClose) {
                return 0;
            }
            if (step == sv::WebSocketMessageAssembler::Step::kPing && payload.size() > sv::kMaxControlPayload) __builtin_trap();
            if (step == sv::WebSocketMessageAssembler::Step::kMessage) {
                if (msg.text.size() > sv::kMaxWebSocketPayload || msg.data.size() > sv::kMaxWebSocketPayload) __builtin_trap();
                break;
            }
        }
    }
    return 0;
}
