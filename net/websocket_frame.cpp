#include "net/websocket_frame.h"

#include <cstring>

#include "base/case_fold.h"
#include "mbedtls/base64.h"
#include "mbedtls/sha1.h"

namespace sv {

namespace {

const char kAcceptGuid[] = "258EAFA5-E914-47DA-95CA-C5AB0DC85B11";

std::string Base64(const unsigned char* data, size_t length) {
    unsigned char out[64];
    size_t written = 0;
    if (mbedtls_base64_encode(out, sizeof(out), &written, data, length) != 0) return std::string();
    return std::string(reinterpret_cast<const char*>(out), written);
}


bool IsLineSpace(char c) { return c == ' ' || c == '\t'; }

}  // namespace

bool IsLoopbackHostName(const std::string& host) {
    return host == "127.0.0.1" || host == "localhost" || host == "::1";
}

bool SplitWebSocketUrl(const std::string& url, WebSocketUrl& out) {
    std::string rest;
    if (url.compare(0, 6, "wss://") == 0) {
        out.tls = true;
        rest = url.substr(6);
    } else if (url.compare(0, 5, "ws://") == 0) {
        out.tls = false;
        rest = url.substr(5);
    } else {
        return false;
    }
    std::string authority;
    size_t slash = rest.find('/');
    if (slash == std::string::npos) {
        authority = rest;
        out.path = "/";
    } else {
        authority = rest.substr(0, slash);
        out.path = rest.substr(slash);
    }
    size_t colon = authority.rfind(':');
    if (colon == std::string::npos) {
        out.host = authority;
        out.port = out.tls ? 443 : 80;
    } else {
        out.host = authority.substr(0, colon);
        // Digits up to the first non-digit; a number that does not fit a port is refused
        // rather than silently wrapped onto some other port.
        uint32_t port = 0;
        for (size_t i = colon + 1; i < authority.size(); ++i) {
            char c = authority[i];
            if (c < '0' || c > '9') break;
            port = port * 10 + static_cast<uint32_t>(c - '0');
            if (port > 65535) return false;
        }
        out.port = static_cast<uint16_t>(port);
    }
    return !out.host.empty();
}

std::string EncodeWebSocketKey(const uint8_t keyBytes[16]) { return Base64(keyBytes, 16); }

std::string ComputeWebSocketAccept(const std::string& key) {
    std::string joined = key + kAcceptGuid;
    unsigned char digest[20];
    if (mbedtls_sha1(reinterpret_cast<const unsigned char*>(joined.data()), joined.size(), digest) != 0)
        return std::string();
    return Base64(digest, sizeof(digest));
}

std::string BuildUpgradeRequest(const std::string& host, uint16_t port, const std::string& path,
                                const std::string& key) {
    std::string r;
    r += "GET " + path + " HTTP/1.1\r\n";
    r += "Host: " + host;
    if (port != 443) r += ":" + std::to_string(port);
    r += "\r\n";
    r += "Upgrade: websocket\r\n";
    r += "Connection: Upgrade\r\n";
    r += "Sec-WebSocket-Key: " + key + "\r\n";
    r += "Sec-WebSocket-Version: 13\r\n";
    r += "\r\n";
    return r;
}

bool UpgradeReplyHeadComplete(const std::string& head) {
    return head.size() >= 4 && head.compare(head.size() - 4, 4, "\r\n\r\n") == 0;
}

bool CheckUpgradeReply(const std::string& head, const std::string& expectedAccept) {
    if (head.size() < 12 || head.compare(0, 12, "HTTP/1.1 101") != 0) return false;
    if (expectedAccept.empty()) return false;
    static const char kName[] = "sec-websocket-accept";
    const size_t nameLen = sizeof(kName) - 1;
    // Header lines start after the status line; each begins right after a line feed.
    size_t pos = head.find('\n');
    while (pos != std::string::npos) {
        size_t lineStart = pos + 1;
        size_t lineEnd = head.find('\n', lineStart);
        size_t end = (lineEnd == std::string::npos) ? head.size() : lineEnd;
        if (end > lineStart && head[end - 1] == '\r') --end;
        if (end - lineStart >= nameLen) {
            bool nameMatches = true;
            for (size_t i = 0; i < nameLen; ++i) {
                if (AsciiLowerChar(head[lineStart + i]) != kName[i]) {
                    nameMatches = false;
                    break;
                }
            }
            if (nameMatches) {
                size_t p = lineStart + nameLen;
                while (p < end && IsLineSpace(head[p])) ++p;
                if (p < end && head[p] == ':') {
                    ++p;
                    while (p < end && IsLineSpace(head[p])) ++p;
                    size_t valueEnd = end;
                    while (valueEnd > p && IsLineSpace(head[valueEnd - 1])) --valueEnd;
                    if (head.compare(p, valueEnd - p, expectedAccept) == 0 && valueEnd - p == expectedAccept.size())
                        return true;
                }
            }
        }
        pos = lineEnd;
    }
    return false;
}

void MaskKeyFromWord(uint32_t word, uint8_t key[4]) {
    key[0] = static_cast<uint8_t>(word & 0xFF);
    key[1] = static_cast<uint8_t>((word >> 8) & 0xFF);
    key[2] = static_cast<uint8_t>((word >> 16) & 0xFF);
    key[3] = static_cast<uint8_t>((word >> 24) & 0xFF);
}

void ApplyWebSocketMask(uint8_t* data, size_t length, const uint8_t key[4], size_t offset) {
    for (size_t i = 0; i < length; ++i) data[i] ^= key[(offset + i) & 3];
}

std::vector<uint8_t> EncodeClientFrameHead(uint8_t opcode, uint64_t length, const uint8_t key[4]) {
    std::vector<uint8_t> head;
    head.reserve(14);
    head.push_back(static_cast<uint8_t>(0x80 | (opcode & 0x0F)));
    if (length <= 125) {
        head.push_back(static_cast<uint8_t>(0x80 | length));
    } else if (length <= 65535) {
        head.push_back(0x80 | 126);
        head.push_back(static_cast<uint8_t>(length >> 8));
        head.push_back(static_cast<uint8_t>(length & 0xFF));
    } else {
        head.push_back(0x80 | 127);
        for (int shift = 56; shift >= 0; shift -= 8) head.push_back(static_cast<uint8_t>((length >> shift) & 0xFF));
    }
    head.insert(head.end(), key, key + 4);
    return head;
}

std::vector<uint8_t> EncodeClientFrame(uint8_t opcode, const uint8_t* data, size_t length, uint32_t maskWord) {
    uint8_t key[4];
    MaskKeyFromWord(maskWord, key);
    std::vector<uint8_t> frame = EncodeClientFrameHead(opcode, length, key);
    size_t headSize = frame.size();
    frame.resize(headSize + length);
    if (length) {
        std::memcpy(frame.data() + headSize, data, length);
        ApplyWebSocketMask(frame.data() + headSize, length, key);
    }
    return frame;
}

size_t WebSocketFrameHeadSize(uint8_t byte0, uint8_t byte1) {
    (void)byte0;
    size_t size = 2;
    uint8_t len7 = byte1 & 0x7F;
    if (len7 == 126) size += 2;
    else if (len7 == 127) size += 8;
    if (byte1 & 0x80) size += 4;
    return size;
}

bool DecodeWebSocketFrameHead(const uint8_t* head, size_t size, WebSocketFrameHead& out) {
    if (size < 2 || size < WebSocketFrameHeadSize(head[0], head[1])) return false;
    out.fin = (head[0] & 0x80) != 0;
    out.opcode = head[0] & 0x0F;
    out.masked = (head[1] & 0x80) != 0;
    uint8_t len7 = head[1] & 0x7F;
    size_t p = 2;
    if (len7 == 126) {
        out.length = (static_cast<uint64_t>(head[2]) << 8) | head[3];
        p = 4;
    } else if (len7 == 127) {
        uint64_t v = 0;
        for (int i = 0; i < 8; ++i) v = (v << 8) | head[2 + i];
        out.length = v;
        p = 10;
    } else {
        out.length = len7;
    }
    // Control frames travel whole and small (at most 125 bytes): a larger or fragmented
    // one is a protocol error, never something to echo back.
    if ((out.opcode & 0x08) != 0 && (!out.fin || out.length > kMaxControlPayload)) return false;
    if (out.masked) {
        std::memcpy(out.mask, head + p, 4);
    } else {
        std::memset(out.mask, 0, 4);
    }
    return true;
}

}  // namespace sv
