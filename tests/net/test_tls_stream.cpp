// The byte stream itself: loopback-only plain TCP, CA bundle handling, time-outs,
// aborts and the Mbed TLS thread locks. Full TLS handshakes against real servers
// are in the end-to-end tests (tests/e2e/test_websocket.py).
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "mbedtls/x509_crt.h"
#include "base/text_encoding.h"
#include "net/tls_stream.h"
#include "test_support.h"

using namespace sv;

namespace {

struct WinsockInit {
    WinsockInit() {
        WSADATA d;
        WSAStartup(MAKEWORD(2, 2), &d);
    }
};
WinsockInit g_winsock;

class Listener {
public:
    explicit Listener(int family = AF_INET) {
        s_ = socket(family, SOCK_STREAM, IPPROTO_TCP);
        if (family == AF_INET) {
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            ok_ = bind(s_, reinterpret_cast<sockaddr*>(&a), sizeof(a)) == 0;
            int len = sizeof(a);
            getsockname(s_, reinterpret_cast<sockaddr*>(&a), &len);
            port_ = ntohs(a.sin_port);
        } else {
            sockaddr_in6 a{};
            a.sin6_family = AF_INET6;
            a.sin6_addr = in6addr_loopback;
            ok_ = bind(s_, reinterpret_cast<sockaddr*>(&a), sizeof(a)) == 0;
            int len = sizeof(a);
            getsockname(s_, reinterpret_cast<sockaddr*>(&a), &len);
            port_ = ntohs(a.sin6_port);
        }
        ok_ = ok_ && listen(s_, 4) == 0;
    }
    ~Listener() {
        if (peer_ != INVALID_SOCKET) closesocket(peer_);
        closesocket(s_);
    }
    bool Ok() const { return ok_; }
    uint16_t Port() const { return port_; }
    // Whether a connection is waiting to be accepted, looking for up to `ms`.
    bool HasPendingConnection(int ms) {
        fd_set set;
        FD_ZERO(&set);
        FD_SET(s_, &set);
        timeval tv{ms / 1000, (ms % 1000) * 1000};
        return select(0, &set, nullptr, nullptr, &tv) > 0;
    }
    SOCKET Accept() {
        peer_ = accept(s_, nullptr, nullptr);
        return peer_;
    }

private:
    SOCKET s_;
    SOCKET peer_ = INVALID_SOCKET;
    bool ok_ = false;
    uint16_t port_ = 0;
};

std::string FirstCertificate(const std::string& bundle) {
    size_t b = bundle.find("-----BEGIN CERTIFICATE-----");
    size_t e = bundle.find("-----END CERTIFICATE-----", b);
    if (b == std::string::npos || e == std::string::npos) return std::string();
    return bundle.substr(b, e + 25 - b) + "\n";
}

void WriteText(const std::string& path, const std::string& text) {
    FILE* f = _wfopen(Utf8ToUtf16(path).c_str(), L"wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
}

bool Exists(const std::string& path) { return GetFileAttributesW(Utf8ToUtf16(path).c_str()) != INVALID_FILE_ATTRIBUTES; }

// A plain loopback connection from `s` to `l`; the listener's end, or INVALID_SOCKET.
SOCKET ConnectPlainPair(Listener& l, TlsStream& s) {
    s.Reset();
    if (!s.ConnectPlainLoopback("127.0.0.1", l.Port())) return INVALID_SOCKET;
    return l.Accept();
}

}  // namespace

TEST(TlsStream, ShippedCaBundleParsesCompletely) {
    // Every certificate must parse, or every TLS connect would be refused.
    std::string bundle = sv_test::ExeDir() + "\\cacert.pem";
    if (!Exists(bundle)) GTEST_SKIP() << "no cacert.pem beside the tests";
    InstallTlsThreadingLocks();
    mbedtls_x509_crt chain;
    mbedtls_x509_crt_init(&chain);
    // Parsed from memory: the library's own file opening takes ANSI paths.
    const std::string pem = sv_test::ReadFile(bundle);
    EXPECT_EQ(mbedtls_x509_crt_parse(&chain, reinterpret_cast<const unsigned char*>(pem.c_str()), pem.size() + 1), 0);
    int count = 0;
    for (const mbedtls_x509_crt* c = &chain; c && c->raw.len; c = c->next) ++count;
    EXPECT_GT(count, 50);
    mbedtls_x509_crt_free(&chain);
}

TEST(TlsStream, BundleWithOneUnparsableCertificateRefusesBeforeConnecting) {
    std::string shipped = sv_test::ReadFile(sv_test::ExeDir() + "\\cacert.pem");
    std::string good = FirstCertificate(shipped);
    if (good.empty()) GTEST_SKIP() << "no cacert.pem beside the tests";
    sv_test::ScratchDir dir;
    std::string path = dir.Path() + "\\bundle.pem";
    WriteText(path, good + "-----BEGIN CERTIFICATE-----\nTm90IGEgY2VydGlmaWNhdGU=\n-----END CERTIFICATE-----\n");
    Listener l;
    ASSERT_TRUE(l.Ok());
    TlsStream s;
    s.Reset();
    EXPECT_FALSE(s.ConnectTls("127.0.0.1", l.Port(), path.c_str()));
    EXPECT_FALSE(s.IsConnected());
    EXPECT_FALSE(l.HasPendingConnection(200));
    // Missing bundle file: the same.
    s.Reset();
    EXPECT_FALSE(s.ConnectTls("127.0.0.1", l.Port(), (dir.Path() + "\\missing.pem").c_str()));
    EXPECT_FALSE(l.HasPendingConnection(200));
    s.Close();
}

TEST(TlsStream, HandshakeFailureLeavesAReusableStream) {
    std::string shipped = sv_test::ReadFile(sv_test::ExeDir() + "\\cacert.pem");
    if (shipped.empty()) GTEST_SKIP() << "no cacert.pem beside the tests";
    Listener l;
    ASSERT_TRUE(l.Ok());
    std::thread server([&] {
        SOCKET p = l.Accept();
        char buf[512];
        recv(p, buf, sizeof(buf), 0);  // the ClientHello
        const char junk[] = "HTTP/1.1 400 Bad Request\r\n\r\n";
        send(p, junk, sizeof(junk) - 1, 0);
    });
    TlsStream s;
    s.Reset();
    EXPECT_FALSE(s.ConnectTls("127.0.0.1", l.Port(), (sv_test::ExeDir() + "\\cacert.pem").c_str()));
    server.join();
    s.Close();
    s.Close();
    Listener plain;
    s.Reset();
    EXPECT_TRUE(s.ConnectPlainLoopback("127.0.0.1", plain.Port()));
    EXPECT_TRUE(s.IsConnected());
    EXPECT_FALSE(s.IsTls());
    s.Close();
}

TEST(TlsStream, PlainOnlyToTheThreeLoopbackNames) {
    Listener l;
    ASSERT_TRUE(l.Ok());
    TlsStream s;
    for (const char* host : {"LOCALHOST", "Localhost", "127.0.0.2", "127.1", "localhost.", " 127.0.0.1", "0.0.0.0", ""}) {
        s.Reset();
        EXPECT_FALSE(s.ConnectPlainLoopback(host, l.Port())) << host;
        EXPECT_FALSE(s.IsConnected());
    }
    EXPECT_FALSE(l.HasPendingConnection(200));
    s.Reset();
    ASSERT_TRUE(s.ConnectPlainLoopback("127.0.0.1", l.Port()));
    EXPECT_TRUE(l.HasPendingConnection(2000));
    s.Close();
    EXPECT_FALSE(s.IsConnected());
}

TEST(TlsStream, PlainToIpv6Loopback) {
    Listener l(AF_INET6);
    if (!l.Ok()) GTEST_SKIP() << "no IPv6 loopback here";
    TlsStream s;
    s.Reset();
    ASSERT_TRUE(s.ConnectPlainLoopback("::1", l.Port()));
    EXPECT_TRUE(l.HasPendingConnection(2000));
    s.Close();
}

TEST(TlsStream, ReadWriteAndOrderlyClose) {
    Listener l;
    TlsStream s;
    SOCKET p = ConnectPlainPair(l, s);
    ASSERT_NE(p, INVALID_SOCKET);
    EXPECT_TRUE(s.WriteAll(reinterpret_cast<const unsigned char*>(""), 0));
    unsigned char none[1];
    EXPECT_TRUE(s.ReadExact(none, 0));
    const unsigned char msg[] = "abcdef";
    ASSERT_TRUE(s.WriteAll(msg, 6));
    char got[6];
    int total = 0;
    while (total < 6) {
        int r = recv(p, got + total, 6 - total, 0);
        ASSERT_GT(r, 0);
        total += r;
    }
    EXPECT_EQ(std::string(got, 6), "abcdef");
    send(p, "xyz", 3, 0);
    unsigned char back[3];
    ASSERT_TRUE(s.ReadExact(back, 3));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(back), 3), "xyz");
    send(p, "q", 1, 0);
    shutdown(p, SD_SEND);
    unsigned char four[4];
    EXPECT_FALSE(s.ReadExact(four, 4));
    EXPECT_EQ(s.Read(four, 4), 0);
    s.Close();
}

TEST(TlsStream, ReceiveTimeoutBoundsARead) {
    Listener l;
    TlsStream s;
    s.SetReceiveTimeout(100);  // not connected: ignored, nothing breaks
    SOCKET p = ConnectPlainPair(l, s);
    ASSERT_NE(p, INVALID_SOCKET);
    s.SetReceiveTimeout(300);
    unsigned char b[4];
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_LT(s.Read(b, 4), 0);
    auto took = std::chrono::steady_clock::now() - t0;
    EXPECT_GE(took, std::chrono::milliseconds(250));
    EXPECT_LT(took, std::chrono::seconds(5));
    s.Close();
}

TEST(TlsStream, NegativeTimeoutMeansNoTimeout) {
    Listener l;
    TlsStream s;
    SOCKET p = ConnectPlainPair(l, s);
    ASSERT_NE(p, INVALID_SOCKET);
    s.SetReceiveTimeout(-5);
    std::promise<int> result;
    auto f = result.get_future();
    std::thread reader([&] {
        unsigned char b[4];
        result.set_value(s.Read(b, 4));
    });
    EXPECT_EQ(f.wait_for(std::chrono::milliseconds(700)), std::future_status::timeout);
    auto t0 = std::chrono::steady_clock::now();
    s.AbortSocket();
    ASSERT_EQ(f.wait_for(std::chrono::seconds(2)), std::future_status::ready);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(2));
    EXPECT_LT(f.get(), 0);
    reader.join();
    // The flags stay as they were until the owner closes.
    EXPECT_TRUE(s.IsConnected());
    unsigned char b[1];
    EXPECT_LT(s.Write(b, 1), 0);
    s.Close();
    EXPECT_FALSE(s.IsConnected());
}

// A peer that sends a byte now and then, each within the receive time-out, still
// cannot hold the stream past its deadline.
TEST(TlsStream, DeadlineEndsATricklingPeer) {
    Listener l;
    TlsStream s;
    SOCKET p = ConnectPlainPair(l, s);
    ASSERT_NE(p, INVALID_SOCKET);
    s.SetReceiveTimeout(2000);
    s.SetDeadline(std::chrono::steady_clock::now() + std::chrono::milliseconds(500));
    std::atomic<bool> stop{false};
    std::thread trickle([&] {
        for (int i = 0; i < 100 && !stop.load(); ++i) {
            send(p, "x", 1, 0);
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    });
    unsigned char buf[1000];
    EXPECT_FALSE(s.ReadExact(buf, sizeof(buf)));
    // Ended by the deadline while the trickle (5 s in all) was still going.
    EXPECT_FALSE(stop.exchange(true));
    trickle.join();
    s.Close();
}

// A peer that never reads: the write ends at its bound and the connection is aborted,
// instead of the sender waiting for ever.
TEST(TlsStream, WriteToAPeerThatNeverReadsEndsAtItsBound) {
    Listener l;
    TlsStream s;
    SOCKET p = ConnectPlainPair(l, s);
    ASSERT_NE(p, INVALID_SOCKET);
    s.SetWriteTimeout(300);
    std::vector<unsigned char> block(1 << 20, 0x5A);
    bool failed = false;
    for (int i = 0; i < 256 && !failed; ++i) failed = !s.WriteAll(block.data(), block.size());
    EXPECT_TRUE(failed);
    unsigned char b[1];
    EXPECT_LT(s.Read(b, 1), 0);  // aborted: nothing more goes either way
    s.Close();
}

TEST(TlsStream, AbortBeforeAnyConnectionIsHarmless) {
    TlsStream s;
    s.AbortSocket();
    s.Close();
    Listener l;
    s.Reset();
    EXPECT_TRUE(s.ConnectPlainLoopback("127.0.0.1", l.Port()));
    s.Close();
}

TEST(TlsStream, LocksStayWhileAStreamHoldsContexts) {
    InstallTlsThreadingLocks();
    ASSERT_TRUE(TlsThreadingLocksInstalled());
    {
        TlsStream s;
        s.Reset();
        ReleaseTlsThreadingLocks();
        EXPECT_TRUE(TlsThreadingLocksInstalled());
        s.Close();
        ReleaseTlsThreadingLocks();
        EXPECT_FALSE(TlsThreadingLocksInstalled());
    }
    // A stream installs them again by itself.
    TlsStream s2;
    s2.Reset();
    EXPECT_TRUE(TlsThreadingLocksInstalled());
    s2.Close();
    InstallTlsThreadingLocks();
    InstallTlsThreadingLocks();
    EXPECT_TRUE(TlsThreadingLocksInstalled());
}

TEST(TlsStream, AbortDuringTheHandshakeEndsTheConnect) {
    std::string bundle = sv_test::ExeDir() + "\\cacert.pem";
    if (!Exists(bundle)) GTEST_SKIP() << "no cacert.pem beside the tests";
    // The listener's backlog completes the TCP connection but nobody ever answers the
    // ClientHello: only an abort can end the connect before its own time-out.
    Listener l;
    TlsStream s;
    s.Reset();
    std::promise<bool> result;
    auto f = result.get_future();
    std::thread connector([&] { result.set_value(s.ConnectTls("127.0.0.1", l.Port(), bundle.c_str())); });
    ASSERT_TRUE(l.HasPendingConnection(5000));
    EXPECT_EQ(f.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout);
    auto t0 = std::chrono::steady_clock::now();
    s.AbortSocket();
    ASSERT_EQ(f.wait_for(std::chrono::seconds(2)), std::future_status::ready);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(2));
    EXPECT_FALSE(f.get());
    connector.join();
    EXPECT_FALSE(s.IsConnected());
    s.Close();
}
