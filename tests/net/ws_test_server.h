#pragma once
// An in-process raw WebSocket server on 127.0.0.1 for tests: it writes crafted bytes and
// decodes what a client sends with its own small decoder.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "net/lan_test_support.h"
#include "net/websocket_frame.h"

namespace sv_test {

using sv::ComputeWebSocketAccept;

using Bytes = std::vector<uint8_t>;

// One accepted connection, seen from the server side.
class RawPeer {
public:
    explicit RawPeer(SOCKET s) : s_(s) {}

    bool RecvExact(size_t n, Bytes& out) {
        out.resize(n);
        size_t got = 0;
        while (got < n) {
            int r = recv(s_, reinterpret_cast<char*>(out.data() + got), static_cast<int>(n - got), 0);
            if (r <= 0) return false;
            got += static_cast<size_t>(r);
        }
        return true;
    }

    bool Send(const Bytes& b) { return SendRaw(b.data(), b.size()); }
    bool Send(const std::string& s) { return SendRaw(reinterpret_cast<const uint8_t*>(s.data()), s.size()); }

    bool SendRaw(const uint8_t* p, size_t n) {
        size_t sent = 0;
        while (sent < n) {
            int chunk = static_cast<int>(std::min<size_t>(n - sent, 1 << 20));
            int r = send(s_, reinterpret_cast<const char*>(p + sent), chunk, 0);
            if (r <= 0) return false;
            sent += static_cast<size_t>(r);
        }
        return true;
    }

    // Reads the upgrade request head; returns it (empty on failure).
    std::string ReadRequest() {
        std::string head;
        char c;
        while (head.size() < 65536) {
            if (recv(s_, &c, 1, 0) != 1) return std::string();
            head.push_back(c);
            if (head.size() >= 4 && head.compare(head.size() - 4, 4, "\r\n\r\n") == 0) return head;
        }
        return std::string();
    }

    static std::string HeaderValue(const std::string& head, const std::string& name) {
        size_t p = head.find("\r\n" + name + ": ");
        if (p == std::string::npos) return std::string();
        p += name.size() + 4;
        return head.substr(p, head.find("\r\n", p) - p);
    }

    // Reads the request and answers 101 with the right accept value.
    bool Handshake(std::string* requestOut = nullptr) {
        std::string req = ReadRequest();
        if (requestOut) *requestOut = req;
        if (req.empty()) return false;
        std::string key = HeaderValue(req, "Sec-WebSocket-Key");
        return Send("HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                    "Sec-WebSocket-Accept: " + ComputeWebSocketAccept(key) + "\r\n\r\n");
    }

    // Decodes one client frame independently of the client's own code.
    struct Frame {
        bool fin = false;
        bool masked = false;
        uint8_t opcode = 0;
        uint8_t lengthByte = 0;
        uint64_t length = 0;
        Bytes payload;
    };
    bool ReadFrame(Frame& f) {
        Bytes h;
        if (!RecvExact(2, h)) return false;
        f.fin = h[0] & 0x80;
        f.opcode = h[0] & 0x0F;
        f.masked = h[1] & 0x80;
        f.lengthByte = h[1] & 0x7F;
        f.length = f.lengthByte;
        Bytes ext;
        if (f.lengthByte == 126) {
            if (!RecvExact(2, ext)) return false;
            f.length = (uint64_t(ext[0]) << 8) | ext[1];
        } else if (f.lengthByte == 127) {
            if (!RecvExact(8, ext)) return false;
            f.length = 0;
            for (uint8_t b : ext) f.length = (f.length << 8) | b;
        }
        Bytes key(4, 0);
        if (f.masked && !RecvExact(4, key)) return false;
        if (!RecvExact(static_cast<size_t>(f.length), f.payload)) return false;
        for (size_t i = 0; i < f.payload.size(); ++i) f.payload[i] ^= key[i % 4];
        return true;
    }

    void Close() {
        if (s_ != INVALID_SOCKET) closesocket(s_);
        s_ = INVALID_SOCKET;
    }
    SOCKET Handle() const { return s_; }

private:
    SOCKET s_;
};

// A server frame (unmasked unless a key is given).
inline Bytes ServerFrame(uint8_t first, const Bytes& payload, const uint8_t* key = nullptr) {
    Bytes f;
    f.push_back(first);
    uint8_t maskBit = key ? 0x80 : 0;
    size_t n = payload.size();
    if (n <= 125) {
        f.push_back(static_cast<uint8_t>(maskBit | n));
    } else if (n <= 65535) {
        f.push_back(maskBit | 126);
        f.push_back(static_cast<uint8_t>(n >> 8));
        f.push_back(static_cast<uint8_t>(n));
    } else {
        f.push_back(maskBit | 127);
        for (int s = 56; s >= 0; s -= 8) f.push_back(static_cast<uint8_t>(uint64_t(n) >> s));
    }
    if (key) f.insert(f.end(), key, key + 4);
    size_t start = f.size();
    f.insert(f.end(), payload.begin(), payload.end());
    if (key)
        for (size_t i = 0; i < n; ++i) f[start + i] ^= key[i % 4];
    return f;
}

inline Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

// Only the head of a server frame that announces `length` bytes.
inline Bytes ServerHead(uint8_t first, uint64_t length) {
    Bytes f = {first, 127};
    for (int s = 56; s >= 0; s -= 8) f.push_back(static_cast<uint8_t>(length >> s));
    return f;
}

// Listens on 127.0.0.1 and runs `script` on the first accepted connection in its own thread.
class RawServer {
public:
    explicit RawServer(std::function<void(RawPeer&)> script) {
        EnsureWinsock();
        listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = 0;
        bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof(a));
        listen(listener_, 4);
        int len = sizeof(a);
        getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
        thread_ = std::thread([this, script] {
            SOCKET s = accept(listener_, nullptr, nullptr);
            if (s == INVALID_SOCKET) return;
            DWORD timeout = 20000;
            setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof(timeout));
            RawPeer peer(s);
            script(peer);
            done_.set_value();
            peer.Close();
        });
    }
    ~RawServer() {
        closesocket(listener_);
        if (thread_.joinable()) thread_.join();
    }
    uint16_t Port() const { return port_; }
    std::string Url(const std::string& path = "/") const { return "ws://127.0.0.1:" + std::to_string(port_) + path; }
    // Waits (bounded) for the script to finish.
    bool WaitDone(int seconds = 30) {
        return done_.get_future().wait_for(std::chrono::seconds(seconds)) == std::future_status::ready;
    }

private:
    SOCKET listener_;
    uint16_t port_ = 0;
    std::thread thread_;
    std::promise<void> done_;
};

}  // namespace sv_test
