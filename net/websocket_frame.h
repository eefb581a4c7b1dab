#pragma once
// The byte-level side of the WebSocket client (RFC 6455): URL splitting, the
// upgrade request and its reply check, frame heads and masking. Plain functions
// over bytes, so every edge can be tested without a socket.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sv {

// Largest frame payload, and largest message gathered from fragments, that the
// client accepts from a peer.
constexpr uint64_t kMaxWebSocketPayload = 0x2000000;
// Ping, pong and close frames carry at most this many bytes.
constexpr uint64_t kMaxControlPayload = 125;
// The reply head of the upgrade is read up to this many bytes.
constexpr size_t kMaxUpgradeReplyHead = 16384;

enum WebSocketOpcode : uint8_t {
    kWsContinuation = 0,
    kWsText = 1,
    kWsBinary = 2,
    kWsClose = 8,
    kWsPing = 9,
    kWsPong = 10,
};

struct WebSocketUrl {
    bool tls = false;
    std::string host;
    uint16_t port = 0;
    std::string path = "/";
};

// "wss://host[:port][/path]" or "ws://...". The authority is split at its last ':'
// (so "::1:8080" is host "::1", port 8080). False for another scheme, an empty
// host, or a port that does not fit in 16 bits.
bool SplitWebSocketUrl(const std::string& url, WebSocketUrl& out);

// The host names a plain ws:// (or plain TCP) connection may go to: this computer only
// ("127.0.0.1", "localhost", "::1").
bool IsLoopbackHostName(const std::string& host);

// Base64 of 16 key bytes (24 characters).
std::string EncodeWebSocketKey(const uint8_t keyBytes[16]);
// Base64(SHA-1(key + the RFC 6455 GUID)): the value the server must answer with.
std::string ComputeWebSocketAccept(const std::string& key);

// The upgrade request, every line ended by CR LF, then the empty line. The Host
// line carries ":port" unless the port is 443.
std::string BuildUpgradeRequest(const std::string& host, uint16_t port, const std::string& path,
                                const std::string& key);

// True when `head` ends with the blank line that closes an HTTP head.
bool UpgradeReplyHeadComplete(const std::string& head);

// The reply must begin "HTTP/1.1 101" and hold a header line whose name is
// Sec-WebSocket-Accept (any letter case, optional whitespace around the colon)
// and whose value is exactly `expectedAccept`.
bool CheckUpgradeReply(const std::string& head, const std::string& expectedAccept);

// The four mask bytes of a mask word, least significant byte first.
void MaskKeyFromWord(uint32_t word, uint8_t key[4]);
// XORs data[i] with key[(offset + i) % 4]; applying it twice restores the data.
void ApplyWebSocketMask(uint8_t* data, size_t length, const uint8_t key[4], size_t offset = 0);

// A client frame: FIN set, one opcode, masked with `maskWord`, payload XORed.
std::vector<uint8_t> EncodeClientFrame(uint8_t opcode, const uint8_t* data, size_t length, uint32_t maskWord);
// Only the head of such a frame (2 to 14 bytes).
std::vector<uint8_t> EncodeClientFrameHead(uint8_t opcode, uint64_t length, const uint8_t key[4]);

struct WebSocketFrameHead {
    bool fin = false;
    uint8_t opcode = 0;
    bool masked = false;
    uint64_t length = 0;
    uint8_t mask[4] = {0, 0, 0, 0};
};

// Total head size (2, 4, 10, plus 4 when masked) given its first two bytes.
size_t WebSocketFrameHeadSize(uint8_t byte0, uint8_t byte1);
// Decodes a whole head of `size` bytes (as given by WebSocketFrameHeadSize). The
// reserved bits are ignored. False when `size` is too short for the head.
bool DecodeWebSocketFrameHead(const uint8_t* head, size_t size, WebSocketFrameHead& out);

}  // namespace sv
