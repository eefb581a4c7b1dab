#include "net/websocket_frame.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace sv;

namespace {

std::string Reply(const std::string& headers) { return "HTTP/1.1 101 Switching Protocols\r\n" + headers + "\r\n"; }

const char kRfcKey[] = "dGhlIHNhbXBsZSBub25jZQ==";
const char kRfcAccept[] = "s3pPLMBiTxaQ9kYGzzhZRbK+xOo=";

}  // namespace

TEST(WsFrame, AcceptValueMatchesTheRfcExample) {
    EXPECT_EQ(ComputeWebSocketAccept(kRfcKey), kRfcAccept);
    EXPECT_NE(ComputeWebSocketAccept("dGhlIHNhbXBsZSBub25jZQ=="), ComputeWebSocketAccept("dGhlIHNhbXBsZSBub25jZA=="));
}

TEST(WsFrame, KeyIsBase64OfSixteenBytes) {
    uint8_t bytes[16];
    for (int i = 0; i < 16; ++i) bytes[i] = static_cast<uint8_t>(i + 1);
    EXPECT_EQ(EncodeWebSocketKey(bytes), "AQIDBAUGBwgJCgsMDQ4PEA==");
    uint8_t ff[16];
    for (uint8_t& b : ff) b = 0xFF;
    EXPECT_EQ(EncodeWebSocketKey(ff), "/////////////////////w==");
}

TEST(WsFrame, UpgradeRequestLinesAndHostPort) {
    EXPECT_EQ(BuildUpgradeRequest("relay.example", 443, "/", "KEY"),
              "GET / HTTP/1.1\r\nHost: relay.example\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
              "Sec-WebSocket-Key: KEY\r\nSec-WebSocket-Version: 13\r\n\r\n");
    std::string r = BuildUpgradeRequest("relay.example", 444, "/ws?token=a%20b&x=1", "K");
    EXPECT_EQ(r.substr(0, r.find("\r\n")), "GET /ws?token=a%20b&x=1 HTTP/1.1");
    EXPECT_NE(r.find("\r\nHost: relay.example:444\r\n"), std::string::npos);
    EXPECT_NE(BuildUpgradeRequest("127.0.0.1", 80, "/", "K").find("\r\nHost: 127.0.0.1:80\r\n"), std::string::npos);
}

TEST(WsFrame, SplitsUrlsAsTheClientNeeds) {
    WebSocketUrl u;
    ASSERT_TRUE(SplitWebSocketUrl("wss://relay.example:444/path?q=1", u));
    EXPECT_TRUE(u.tls);
    EXPECT_EQ(u.host, "relay.example");
    EXPECT_EQ(u.port, 444);
    EXPECT_EQ(u.path, "/path?q=1");

    ASSERT_TRUE(SplitWebSocketUrl("wss://relay.example", u));
    EXPECT_EQ(u.port, 443);
    EXPECT_EQ(u.path, "/");

    ASSERT_TRUE(SplitWebSocketUrl("ws://localhost/x", u));
    EXPECT_FALSE(u.tls);
    EXPECT_EQ(u.host, "localhost");
    EXPECT_EQ(u.port, 80);
    EXPECT_EQ(u.path, "/x");

    ASSERT_TRUE(SplitWebSocketUrl("ws://::1:8080/", u));
    EXPECT_EQ(u.host, "::1");
    EXPECT_EQ(u.port, 8080);

    // Without a port the authority still splits at its last colon.
    ASSERT_TRUE(SplitWebSocketUrl("ws://::1/", u));
    EXPECT_EQ(u.host, ":");
    EXPECT_EQ(u.port, 1);

    // Digits up to the first non-digit.
    ASSERT_TRUE(SplitWebSocketUrl("ws://127.0.0.1:81abc/", u));
    EXPECT_EQ(u.port, 81);

    EXPECT_FALSE(SplitWebSocketUrl("http://relay.example/", u));
    EXPECT_FALSE(SplitWebSocketUrl("WSS://relay.example/", u));
    EXPECT_FALSE(SplitWebSocketUrl("wss:///path", u));
    EXPECT_FALSE(SplitWebSocketUrl("wss://:443/", u));
    EXPECT_FALSE(SplitWebSocketUrl("", u));
    // A port beyond 16 bits is refused rather than wrapped onto another port.
    EXPECT_FALSE(SplitWebSocketUrl("ws://127.0.0.1:65536/", u));
    EXPECT_FALSE(SplitWebSocketUrl("ws://127.0.0.1:99999999999999999999/", u));
    ASSERT_TRUE(SplitWebSocketUrl("ws://127.0.0.1:65535/", u));
    EXPECT_EQ(u.port, 65535);
}

TEST(WsFrame, ReplyHeadCompletion) {
    EXPECT_FALSE(UpgradeReplyHeadComplete(""));
    EXPECT_FALSE(UpgradeReplyHeadComplete("\r\n\r"));
    EXPECT_TRUE(UpgradeReplyHeadComplete("\r\n\r\n"));
    EXPECT_TRUE(UpgradeReplyHeadComplete("HTTP/1.1 101 x\r\nA: b\r\n\r\n"));
    EXPECT_FALSE(UpgradeReplyHeadComplete("HTTP/1.1 101 x\r\nA: b\r\n"));
}

TEST(WsFrame, ReplyCheckAcceptsTheExactValue) {
    EXPECT_TRUE(CheckUpgradeReply(Reply(std::string("Upgrade: websocket\r\nSec-WebSocket-Accept: ") + kRfcAccept + "\r\n"),
                                  kRfcAccept));
}

TEST(WsFrame, ReplyCheckHeaderNameInAnyCaseAndSpacing) {
    for (const char* line : {"sec-websocket-accept: ", "SEC-WEBSOCKET-ACCEPT:", "Sec-WebSocket-Accept :\t ",
                             "sEc-WeBsOcKeT-aCcEpT:   "}) {
        std::string head = Reply(std::string("Connection: Upgrade\r\n") + line + kRfcAccept + " \r\n");
        EXPECT_TRUE(CheckUpgradeReply(head, kRfcAccept)) << line;
    }
}

TEST(WsFrame, ReplyCheckRefusals) {
    std::string good = std::string("Sec-WebSocket-Accept: ") + kRfcAccept + "\r\n";
    // Status other than 101, or a head too short to hold one.
    EXPECT_FALSE(CheckUpgradeReply("HTTP/1.1 200 OK\r\n" + good + "\r\n", kRfcAccept));
    EXPECT_FALSE(CheckUpgradeReply("HTTP/1.1 10", kRfcAccept));
    EXPECT_FALSE(CheckUpgradeReply("HTTP/1.0 101 x\r\n" + good + "\r\n", kRfcAccept));
    // The value is compared exactly.
    std::string lower(kRfcAccept);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_FALSE(CheckUpgradeReply(Reply("Sec-WebSocket-Accept: " + lower + "\r\n"), kRfcAccept));
    std::string prefix(kRfcAccept, sizeof(kRfcAccept) - 2);
    EXPECT_FALSE(CheckUpgradeReply(Reply("Sec-WebSocket-Accept: " + prefix + "\r\n"), kRfcAccept));
    EXPECT_FALSE(CheckUpgradeReply(Reply(std::string("Sec-WebSocket-Accept: ") + kRfcAccept + "x\r\n"), kRfcAccept));
    // The name must start its line: a longer header that ends in it does not count.
    EXPECT_FALSE(CheckUpgradeReply(Reply(std::string("X-Sec-WebSocket-Accept: ") + kRfcAccept + "\r\n"), kRfcAccept));
    EXPECT_FALSE(CheckUpgradeReply(Reply(std::string("X-Note: Sec-WebSocket-Accept: ") + kRfcAccept + "\r\n"), kRfcAccept));
    EXPECT_FALSE(CheckUpgradeReply(Reply(std::string("Sec-WebSocket-Accepted: ") + kRfcAccept + "\r\n"), kRfcAccept));
    // Missing colon, or no header at all.
    EXPECT_FALSE(CheckUpgradeReply(Reply(std::string("Sec-WebSocket-Accept ") + kRfcAccept + "\r\n"), kRfcAccept));
    EXPECT_FALSE(CheckUpgradeReply(Reply("Upgrade: websocket\r\n"), kRfcAccept));
    // The status line itself is not a header line.
    EXPECT_FALSE(CheckUpgradeReply(std::string("HTTP/1.1 101 Sec-WebSocket-Accept: ") + kRfcAccept + "\r\n\r\n", kRfcAccept));
    // An empty expectation never matches an empty value.
    EXPECT_FALSE(CheckUpgradeReply(Reply("Sec-WebSocket-Accept: \r\n"), ""));
}

TEST(WsFrame, ReplyCheckOnAHeadCutAtTheLimit) {
    // The head reader stops at its limit without a blank line; a complete accept line
    // before that point still counts, a cut one does not.
    std::string head = std::string("HTTP/1.1 101 Switching Protocols\r\nSec-WebSocket-Accept: ") + kRfcAccept + "\r\n";
    while (head.size() < kMaxUpgradeReplyHead) head += "X-Filler: aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa\r\n";
    head.resize(kMaxUpgradeReplyHead);
    EXPECT_TRUE(CheckUpgradeReply(head, kRfcAccept));
    std::string cut = std::string("HTTP/1.1 101 x\r\nSec-WebSocket-Accept: ") + std::string(kRfcAccept).substr(0, 10);
    EXPECT_FALSE(CheckUpgradeReply(cut, kRfcAccept));
    EXPECT_TRUE(CheckUpgradeReply(std::string("HTTP/1.1 101 x\nSec-WebSocket-Accept: ") + kRfcAccept, kRfcAccept));
}

TEST(WsFrame, MaskKeyIsLeastSignificantByteFirst) {
    uint8_t key[4];
    MaskKeyFromWord(0x11223344u, key);
    EXPECT_EQ(key[0], 0x44);
    EXPECT_EQ(key[1], 0x33);
    EXPECT_EQ(key[2], 0x22);
    EXPECT_EQ(key[3], 0x11);
}

TEST(WsFrame, MaskingIsAnInvolutionAndHonoursTheOffset) {
    const uint8_t key[4] = {0x01, 0x02, 0x04, 0x80};
    std::vector<uint8_t> data = {0, 0, 0, 0, 0, 0xFF};
    ApplyWebSocketMask(data.data(), data.size(), key);
    EXPECT_EQ(data, (std::vector<uint8_t>{0x01, 0x02, 0x04, 0x80, 0x01, 0xFD}));
    ApplyWebSocketMask(data.data(), data.size(), key);
    EXPECT_EQ(data, (std::vector<uint8_t>{0, 0, 0, 0, 0, 0xFF}));
    std::vector<uint8_t> z(2, 0);
    ApplyWebSocketMask(z.data(), z.size(), key, 3);
    EXPECT_EQ(z, (std::vector<uint8_t>{0x80, 0x01}));
}

TEST(WsFrame, ControlFramesAreWholeAndAtMost125Bytes) {
    struct Case {
        uint8_t byte0, byte1;
        bool accepted;
    } cases[] = {
        {0x89, 125, true},    // ping at the limit
        {0x89, 126, false},   // ping with a 16-bit length
        {0x8A, 127, false},   // pong with a 64-bit length
        {0x88, 125, true},    // close at the limit
        {0x08, 0, false},     // fragmented close
        {0x09, 5, false},     // fragmented ping
        {0x02, 126, true},    // data frames may be large and fragmented
    };
    for (const Case& c : cases) {
        uint8_t head[10] = {c.byte0, c.byte1, 0, 200, 0, 0, 0, 0, 0, 1};
        WebSocketFrameHead h;
        EXPECT_EQ(DecodeWebSocketFrameHead(head, WebSocketFrameHeadSize(head[0], head[1]), h), c.accepted)
            << std::hex << int(c.byte0) << " " << int(c.byte1);
    }
}

TEST(WsFrame, HeadAtTheLengthEdges) {
    const uint8_t key[4] = {9, 8, 7, 6};
    EXPECT_EQ(EncodeClientFrameHead(1, 0, key), (std::vector<uint8_t>{0x81, 0x80, 9, 8, 7, 6}));
    EXPECT_EQ(EncodeClientFrameHead(2, 125, key), (std::vector<uint8_t>{0x82, 0x80 | 125, 9, 8, 7, 6}));
    EXPECT_EQ(EncodeClientFrameHead(2, 126, key), (std::vector<uint8_t>{0x82, 0xFE, 0x00, 0x7E, 9, 8, 7, 6}));
    EXPECT_EQ(EncodeClientFrameHead(2, 65535, key), (std::vector<uint8_t>{0x82, 0xFE, 0xFF, 0xFF, 9, 8, 7, 6}));
    EXPECT_EQ(EncodeClientFrameHead(2, 65536, key),
              (std::vector<uint8_t>{0x82, 0xFF, 0, 0, 0, 0, 0, 1, 0, 0, 9, 8, 7, 6}));
    EXPECT_EQ(EncodeClientFrameHead(8, 0x0102030405060708ull, key),
              (std::vector<uint8_t>{0x88, 0xFF, 1, 2, 3, 4, 5, 6, 7, 8, 9, 8, 7, 6}));
}

TEST(WsFrame, EncodedFrameDecodesBack) {
    for (size_t len : {size_t(0), size_t(1), size_t(125), size_t(126), size_t(65535), size_t(65536), size_t(70001)}) {
        std::vector<uint8_t> payload(len);
        for (size_t i = 0; i < len; ++i) payload[i] = static_cast<uint8_t>(i * 13 + 5);
        std::vector<uint8_t> frame = EncodeClientFrame(2, payload.data(), payload.size(), 0xA1B2C3D4u);
        ASSERT_GE(frame.size(), 2u);
        size_t headSize = WebSocketFrameHeadSize(frame[0], frame[1]);
        ASSERT_EQ(frame.size(), headSize + len) << len;
        WebSocketFrameHead h;
        ASSERT_TRUE(DecodeWebSocketFrameHead(frame.data(), headSize, h));
        EXPECT_TRUE(h.fin);
        EXPECT_EQ(h.opcode, 2);
        EXPECT_TRUE(h.masked);
        EXPECT_EQ(h.length, len);
        EXPECT_EQ(h.mask[0], 0xD4);
        EXPECT_EQ(h.mask[3], 0xA1);
        std::vector<uint8_t> body(frame.begin() + static_cast<long>(headSize), frame.end());
        if (len >= 4) {
            // On the wire the payload is masked.
            EXPECT_EQ(body[0], static_cast<uint8_t>(payload[0] ^ 0xD4));
            EXPECT_EQ(body[1], static_cast<uint8_t>(payload[1] ^ 0xC3));
        }
        ApplyWebSocketMask(body.data(), body.size(), h.mask);
        EXPECT_EQ(body, payload) << len;
    }
}

TEST(WsFrame, DecodesServerHeads) {
    WebSocketFrameHead h;
    const uint8_t small[] = {0x01, 0x05};
    ASSERT_TRUE(DecodeWebSocketFrameHead(small, 2, h));
    EXPECT_FALSE(h.fin);
    EXPECT_EQ(h.opcode, 1);
    EXPECT_FALSE(h.masked);
    EXPECT_EQ(h.length, 5u);

    // Reserved bits are ignored.
    const uint8_t reserved[] = {0xF2, 0x00};
    ASSERT_TRUE(DecodeWebSocketFrameHead(reserved, 2, h));
    EXPECT_TRUE(h.fin);
    EXPECT_EQ(h.opcode, 2);

    const uint8_t big[] = {0x82, 0x7F, 0x80, 0, 0, 0, 0, 0, 0, 1};
    EXPECT_EQ(WebSocketFrameHeadSize(big[0], big[1]), 10u);
    ASSERT_TRUE(DecodeWebSocketFrameHead(big, sizeof(big), h));
    EXPECT_EQ(h.length, 0x8000000000000001ull);

    const uint8_t masked[] = {0x82, 0xFE, 0x01, 0x00, 0xAA, 0xBB, 0xCC, 0xDD};
    EXPECT_EQ(WebSocketFrameHeadSize(masked[0], masked[1]), 8u);
    ASSERT_TRUE(DecodeWebSocketFrameHead(masked, sizeof(masked), h));
    EXPECT_EQ(h.opcode, 2);
    EXPECT_EQ(h.length, 256u);
    EXPECT_TRUE(h.masked);
    EXPECT_EQ(h.mask[0], 0xAA);
    EXPECT_EQ(h.mask[3], 0xDD);

    // A head shorter than its own size is refused.
    EXPECT_FALSE(DecodeWebSocketFrameHead(masked, 7, h));
    EXPECT_FALSE(DecodeWebSocketFrameHead(big, 9, h));
    EXPECT_FALSE(DecodeWebSocketFrameHead(small, 1, h));
    EXPECT_EQ(WebSocketFrameHeadSize(0x81, 0xFF), 14u);
    EXPECT_EQ(WebSocketFrameHeadSize(0x81, 0x7D), 2u);
}
