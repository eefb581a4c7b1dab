// Frames read from bytes and gathered into messages, without a stream.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/websocket_frame.h"
#include "net/websocket_message.h"

namespace sv {
namespace {

using Bytes = std::vector<uint8_t>;

// A server frame (unmasked unless a key is given) with any opcode, FIN and length field.
Bytes Frame(uint8_t opcode, bool fin, const Bytes& payload, const uint8_t* key = nullptr) {
    Bytes out;
    out.push_back(static_cast<uint8_t>((fin ? 0x80 : 0) | opcode));
    uint8_t maskBit = key ? 0x80 : 0;
    if (payload.size() < 126) {
        out.push_back(static_cast<uint8_t>(maskBit | payload.size()));
    } else if (payload.size() <= 0xffff) {
        out.push_back(maskBit | 126);
        out.push_back(static_cast<uint8_t>(payload.size() >> 8));
        out.push_back(static_cast<uint8_t>(payload.size()));
    } else {
        out.push_back(maskBit | 127);
        for (int i = 7; i >= 0; --i) out.push_back(static_cast<uint8_t>(uint64_t(payload.size()) >> (8 * i)));
    }
    Bytes body = payload;
    if (key) {
        out.insert(out.end(), key, key + 4);
        ApplyWebSocketMask(body.data(), body.size(), key);
    }
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

struct Source {
    Bytes bytes;
    size_t at = 0;
    WebSocketRead Reader() {
        return [this](uint8_t* p, size_t n) {
            if (bytes.size() - at < n) return false;
            std::copy(bytes.begin() + at, bytes.begin() + at + n, p);
            at += n;
            return true;
        };
    }
};

TEST(WebSocketFrameRead, FramesFromBytes) {
    const uint8_t key[4] = {1, 2, 3, 4};
    Bytes announcedHuge = {0x82, 127, 0, 0, 0, 0, 0x02, 0, 0, 1};  // one byte above the limit
    Bytes stalls = {0x82, 127, 0, 0, 0, 0, 0x01, 0, 0, 0, 'a', 'b'};  // 16 MiB announced, 2 sent
    const Bytes abc = Frame(kWsText, true, {'a', 'b', 'c'});
    const Bytes cutBody(abc.begin(), abc.end() - 1);
    struct Case {
        const char* name;
        Bytes wire;
        uint64_t continuationLimit;
        uint8_t opcode;
        Bytes payload;
        size_t consumed;
    } cases[] = {
        {"masked text", Frame(kWsText, true, {'h', 'i'}, key), kMaxWebSocketPayload, kWsText, {'h', 'i'}, 8},
        {"16-bit length", Frame(kWsBinary, true, Bytes(300, 9)), kMaxWebSocketPayload, kWsBinary, Bytes(300, 9), 304},
        {"control above 125 bytes", Frame(kWsPing, true, Bytes(126, 0)), kMaxWebSocketPayload, 255, {}, 4},
        {"fragmented control", Frame(kWsPing, false, Bytes(1, 0)), kMaxWebSocketPayload, 255, {}, 2},
        {"above the frame limit, body unread", announcedHuge, kMaxWebSocketPayload, 255, {}, 10},
        {"continuation above what the message has left", Frame(kWsContinuation, true, Bytes(11, 0)), 10, 255, {}, 2},
        {"continuation within it", Frame(kWsContinuation, false, Bytes(10, 0)), 10, kWsContinuation, Bytes(10, 0),
         12},
        {"cut inside the head", {0x81, 126, 0}, kMaxWebSocketPayload, 255, {}, 2},
        {"cut inside the body", cutBody, kMaxWebSocketPayload, 255, {}, 2},
        {"stalls after announcing a large frame", stalls, kMaxWebSocketPayload, 255, {}, 10},
    };
    for (const Case& c : cases) {
        Source src{c.wire};
        Bytes payload;
        bool fin = false;
        EXPECT_EQ(ReadWebSocketFrame(src.Reader(), payload, fin, c.continuationLimit), c.opcode) << c.name;
        if (c.opcode != 255) {
            EXPECT_EQ(payload, c.payload) << c.name;
        }
        EXPECT_EQ(src.at, c.consumed) << c.name;
        // Memory follows what arrived, not what was announced.
        EXPECT_LE(payload.size(), size_t(1) << 20) << c.name;
    }
}

TEST(WebSocketMessageAssembly, StepsThroughFragmentsAndControlFrames) {
    WebSocketMessageAssembler a;
    WebSocketMessage msg;
    Bytes p1 = {'h', 'a'}, ping = {'p'}, p2 = {'l', 'o'};
    EXPECT_EQ(a.Add(kWsText, false, p1, msg), WebSocketMessageAssembler::Step::kMore);
    EXPECT_EQ(a.ContinuationLimit(), kMaxWebSocketPayload - 2);
    // A ping between fragments is answered and leaves the message alone.
    EXPECT_EQ(a.Add(kWsPing, true, ping, msg), WebSocketMessageAssembler::Step::kPing);
    EXPECT_EQ(ping, Bytes{'p'});
    EXPECT_EQ(a.Add(kWsContinuation, true, p2, msg), WebSocketMessageAssembler::Step::kMessage);
    EXPECT_EQ(msg.opcode, kWsText);
    EXPECT_EQ(msg.text, "halo");
    EXPECT_TRUE(msg.data.empty());
    EXPECT_EQ(a.ContinuationLimit(), kMaxWebSocketPayload);

    Bytes bin = {0, 1, 2};
    EXPECT_EQ(a.Add(kWsBinary, true, bin, msg), WebSocketMessageAssembler::Step::kMessage);
    EXPECT_EQ(msg.opcode, kWsBinary);
    EXPECT_EQ(msg.data, (Bytes{0, 1, 2}));
    EXPECT_TRUE(msg.text.empty());
}

TEST(WebSocketMessageAssembly, CloseAndBadOpcodes) {
    struct Case {
        uint8_t opcode;
        Bytes payload;
        WebSocketMessageAssembler::Step step;
        uint16_t closeCode;
    } cases[] = {
        {kWsClose, {0x03, 0xe8, 'x'}, WebSocketMessageAssembler::Step::kClose, 1000},
        {kWsClose, {0x03}, WebSocketMessageAssembler::Step::kClose, 0},
        {kWsPong, {1}, WebSocketMessageAssembler::Step::kMore, 0},
        {3, {}, WebSocketMessageAssembler::Step::kError, 0},
        {255, {}, WebSocketMessageAssembler::Step::kError, 0},
    };
    for (const Case& c : cases) {
        WebSocketMessageAssembler a;
        WebSocketMessage msg;
        Bytes payload = c.payload;
        EXPECT_EQ(a.Add(c.opcode, true, payload, msg), c.step) << int(c.opcode);
        if (c.step == WebSocketMessageAssembler::Step::kClose) {
            EXPECT_EQ(msg.closed, 1);
            EXPECT_EQ(msg.closeCode, c.closeCode);
            EXPECT_EQ(payload, c.payload);  // still there to echo
        }
    }
}

}  // namespace
}  // namespace sv
