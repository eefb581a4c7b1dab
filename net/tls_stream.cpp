#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include "net/tls_stream.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "base/file_io.h"
#include "net/ca_bundle.h"
#include "net/websocket_frame.h"

#include "mbedtls/error.h"
#include "mbedtls/threading.h"
#include "psa/crypto.h"

namespace sv {

namespace {

// ---------------------------------------------------------------- thread locks

void TlsMutexInit(mbedtls_threading_mutex_t* mutex) {
    if (!mutex) return;
    auto* section = new (std::nothrow) CRITICAL_SECTION;
    if (section) InitializeCriticalSection(section);
    mutex->impl = section;
    mutex->is_valid = section ? 1 : 0;
}

void TlsMutexFree(mbedtls_threading_mutex_t* mutex) {
    // Contexts initialised before the locks existed carry no section: nothing to free.
    if (!mutex || !mutex->is_valid || !mutex->impl) return;
    auto* section = static_cast<CRITICAL_SECTION*>(mutex->impl);
    DeleteCriticalSection(section);
    delete section;
    mutex->impl = nullptr;
    mutex->is_valid = 0;
}

int TlsMutexLock(mbedtls_threading_mutex_t* mutex) {
    if (!mutex || !mutex->is_valid || !mutex->impl) return MBEDTLS_ERR_THREADING_BAD_INPUT_DATA;
    EnterCriticalSection(static_cast<CRITICAL_SECTION*>(mutex->impl));
    return 0;
}

int TlsMutexUnlock(mbedtls_threading_mutex_t* mutex) {
    if (!mutex || !mutex->is_valid || !mutex->impl) return MBEDTLS_ERR_THREADING_BAD_INPUT_DATA;
    LeaveCriticalSection(static_cast<CRITICAL_SECTION*>(mutex->impl));
    return 0;
}

// Guards the installed state and the count of streams holding Mbed TLS contexts:
// the locks may only go away while that count is zero.
Mutex& LockStateMutex() {
    static Mutex m;
    return m;
}
bool g_locksInstalled = false;
int g_streamsWithContexts = 0;

void InstallLocked() {
    if (g_locksInstalled) return;
    mbedtls_threading_set_alt(TlsMutexInit, TlsMutexFree, TlsMutexLock, TlsMutexUnlock);
    // TLS 1.3 runs its key schedule through PSA; without this 1.3 handshakes fail.
    psa_crypto_init();
    g_locksInstalled = true;
}

const char kPersonalisation[] = "sorvane-host-win7";
// Bound on a TLS handshake, so a server that accepts TCP but never answers cannot
// hold a connect for ever; the owner sets its own receive time-out afterwards.
constexpr DWORD kHandshakeTimeoutMs = 60000;
// A waiting read looks at the abort flag this often.
constexpr int kWaitSliceMs = 200;

// What a failed handshake step says about the peer; a certificate that did not verify is
// named by its first fault (`verifyFlags`), for "not verified" alone helps nobody.
ConnectFailure HandshakeFailure(int ret, uint32_t verifyFlags) {
    switch (ret) {
    case MBEDTLS_ERR_X509_CERT_VERIFY_FAILED:
        return CertificateFailure(verifyFlags);
    case MBEDTLS_ERR_SSL_PEER_CLOSE_NOTIFY:
    case MBEDTLS_ERR_NET_CONN_RESET:
    case MBEDTLS_ERR_NET_RECV_FAILED:
    case MBEDTLS_ERR_SSL_CONN_EOF:
        return ConnectFailure::ClosedByPeer;
    default:
        return ConnectFailure::TlsFailed;
    }
}

}  // namespace

void InstallTlsThreadingLocks() {
    MutexLock lock(LockStateMutex());
    InstallLocked();
}

void ReleaseTlsThreadingLocks() {
    MutexLock lock(LockStateMutex());
    if (!g_locksInstalled || g_streamsWithContexts != 0) return;
    mbedtls_psa_crypto_free();
    mbedtls_threading_free_alt();
    g_locksInstalled = false;
}

bool TlsThreadingLocksInstalled() {
    MutexLock lock(LockStateMutex());
    return g_locksInstalled;
}

// ---------------------------------------------------------------- stream

TlsStream::TlsStream() {
    std::memset(&net_, 0, sizeof(net_));
    net_.fd = -1;
    std::memset(&ssl_, 0, sizeof(ssl_));
    std::memset(&conf_, 0, sizeof(conf_));
    std::memset(&entropy_, 0, sizeof(entropy_));
    std::memset(&drbg_, 0, sizeof(drbg_));
    std::memset(&ca_, 0, sizeof(ca_));
}

TlsStream::~TlsStream() { Close(); }

void TlsStream::Reset() {
    Close();
    {
        MutexLock lock(LockStateMutex());
        InstallLocked();
        ++g_streamsWithContexts;
    }
    mbedtls_net_init(&net_);
    mbedtls_ssl_init(&ssl_);
    mbedtls_ssl_config_init(&conf_);
    mbedtls_entropy_init(&entropy_);
    mbedtls_ctr_drbg_init(&drbg_);
    mbedtls_x509_crt_init(&ca_);
    contextsLive_ = true;
    fresh_ = true;
    lastFailure_ = ConnectFailure::None;
    connected_.store(false);
    plain_.store(false);
    aborted_.store(false);
    receiveTimeoutMs_.store(0);
    deadline_.store(0);
}

void TlsStream::BeginConnect() {
    // A connect always starts from fresh contexts; a Reset just before it (the usual
    // order) is not repeated, so an abort that arrived in between still counts.
    if (!fresh_) Reset();
    fresh_ = false;
}

void TlsStream::ReleaseContexts() {
    {
        // After this an abort finds no handle, so the close below cannot race it.
        MutexLock lock(socketMutex_);
        liveSocket_ = -1;
    }
    if (!contextsLive_) return;
    mbedtls_net_free(&net_);
    mbedtls_x509_crt_free(&ca_);
    mbedtls_ssl_free(&ssl_);
    mbedtls_ssl_config_free(&conf_);
    mbedtls_ctr_drbg_free(&drbg_);
    mbedtls_entropy_free(&entropy_);
    contextsLive_ = false;
    fresh_ = false;
    MutexLock lock(LockStateMutex());
    --g_streamsWithContexts;
}

void TlsStream::SetDeadline(Clock::time_point when) {
    Clock::rep ticks = when.time_since_epoch().count();
    deadline_.store(ticks == 0 ? 1 : ticks);
}

TlsStream::Clock::time_point TlsStream::ReadLimit() const {
    int32_t ms = receiveTimeoutMs_.load();
    return ms > 0 ? Clock::now() + std::chrono::milliseconds(ms) : Clock::time_point::max();
}

bool TlsStream::ConnectSocket(const char* host, uint16_t port, Clock::time_point until) {
    char portText[8];
    std::snprintf(portText, sizeof(portText), "%u", static_cast<unsigned>(port));
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo* list = nullptr;
    if (getaddrinfo(host, portText, &hints, &list) != 0 || !list) {
        lastFailure_ = ConnectFailure::NameNotFound;
        return false;
    }
    bool connected = false;
    // The first address's failure names the attempt unless a later one says more.
    lastFailure_ = ConnectFailure::Unreachable;
    for (addrinfo* a = list; a && !connected && !aborted_.load(); a = a->ai_next) {
        SOCKET s = socket(a->ai_family, a->ai_socktype, a->ai_protocol);
        if (s == INVALID_SOCKET) continue;
        // Non-blocking from the start: a blocking connect could neither be aborted nor
        // bounded, and every later wait happens in select slices.
        u_long nonBlocking = 1;
        if (ioctlsocket(s, FIONBIO, &nonBlocking) != 0) {
            closesocket(s);
            continue;
        }
        {
            MutexLock lock(socketMutex_);
            net_.fd = static_cast<int>(s);
            liveSocket_ = net_.fd;
        }
        bool ok = connect(s, a->ai_addr, static_cast<int>(a->ai_addrlen)) == 0;
        int error = ok ? 0 : WSAGetLastError();
        if (!ok && error == WSAEWOULDBLOCK) {
            const int waited = WaitSocket(true, until);
            if (waited == 1) {
                error = 0;
                int size = sizeof(error);
                if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) != 0) error = -1;
                ok = error == 0;
            } else if (waited == 0) {
                error = WSAETIMEDOUT;
            }
        }
        if (!ok) {
            lastFailure_ = error == WSAECONNREFUSED ? ConnectFailure::Refused
                           : error == WSAETIMEDOUT  ? ConnectFailure::ConnectTimedOut
                                                    : ConnectFailure::Unreachable;
        }
        if (ok && !aborted_.load()) {
            connected = true;
            break;
        }
        {
            MutexLock lock(socketMutex_);
            liveSocket_ = -1;
            net_.fd = -1;
        }
        closesocket(s);
        if (Clock::now() >= until) break;
    }
    freeaddrinfo(list);
    if (aborted_.load()) lastFailure_ = ConnectFailure::Aborted;
    if (connected) lastFailure_ = ConnectFailure::None;
    return connected;
}

bool TlsStream::ConnectTls(const char* host, uint16_t port, const char* caBundlePath) {
    BeginConnect();
    lastFailure_ = ConnectFailure::BadAddress;
    if (!host || !caBundlePath) {
        ReleaseContexts();
        return false;
    }
    auto fail = [this] {
        if (aborted_.load()) lastFailure_ = ConnectFailure::Aborted;
        ReleaseContexts();
        return false;
    };
    lastFailure_ = ConnectFailure::TlsFailed;
    // Connect and handshake share one bound, so a server that answers a byte at a
    // time cannot stretch the handshake past it.
    const Clock::time_point until = Clock::now() + std::chrono::milliseconds(kHandshakeTimeoutMs);
    if (mbedtls_ctr_drbg_seed(&drbg_, mbedtls_entropy_func, &entropy_,
                              reinterpret_cast<const unsigned char*>(kPersonalisation),
                              sizeof(kPersonalisation) - 1) != 0)
        return fail();
    // The bundle is read by its wide path: the C library's narrow open would miss a
    // program folder whose name is outside the ANSI code page.
    std::string bundle;
    lastFailure_ = ConnectFailure::CaUnreadable;
    if (!ReadWholeFile(caBundlePath, bundle)) return fail();
    if (ParseCaBundle(ca_, bundle) != 0) return fail();
    lastFailure_ = ConnectFailure::TlsFailed;
    if (mbedtls_ssl_config_defaults(&conf_, MBEDTLS_SSL_IS_CLIENT, MBEDTLS_SSL_TRANSPORT_STREAM,
                                    MBEDTLS_SSL_PRESET_DEFAULT) != 0)
        return fail();
    mbedtls_ssl_conf_authmode(&conf_, MBEDTLS_SSL_VERIFY_REQUIRED);
    mbedtls_ssl_conf_ca_chain(&conf_, &ca_, nullptr);
    mbedtls_ssl_conf_rng(&conf_, mbedtls_ctr_drbg_random, &drbg_);
    if (mbedtls_ssl_setup(&ssl_, &conf_) != 0) return fail();
    if (mbedtls_ssl_set_hostname(&ssl_, host) != 0) return fail();
    if (!ConnectSocket(host, port, until)) return fail();
    mbedtls_ssl_set_bio(&ssl_, &net_, mbedtls_net_send, mbedtls_net_recv, nullptr);
    for (;;) {
        int ret = mbedtls_ssl_handshake(&ssl_);
        if (ret == 0) break;
        if (ret != MBEDTLS_ERR_SSL_WANT_READ && ret != MBEDTLS_ERR_SSL_WANT_WRITE) {
            lastFailure_ = HandshakeFailure(ret, mbedtls_ssl_get_verify_result(&ssl_));
            return fail();
        }
        const int waited = WaitSocket(ret == MBEDTLS_ERR_SSL_WANT_WRITE, until);
        if (waited != 1) {
            lastFailure_ = waited == 0 ? ConnectFailure::HandshakeTimedOut : ConnectFailure::ConnectionLost;
            return fail();
        }
    }
    if (aborted_.load()) return fail();
    lastFailure_ = ConnectFailure::None;
    plain_.store(false);
    connected_.store(true);
    return true;
}

bool TlsStream::ConnectPlainLoopback(const char* host, uint16_t port) {
    BeginConnect();
    lastFailure_ = ConnectFailure::BadAddress;
    if (!host || !IsLoopbackHostName(host) ||
        !ConnectSocket(host, port, Clock::now() + std::chrono::milliseconds(kHandshakeTimeoutMs))) {
        ReleaseContexts();
        return false;
    }
    plain_.store(true);
    connected_.store(true);
    return true;
}

int TlsStream::WaitSocket(bool forWrite, Clock::time_point until) {
    for (;;) {
        if (aborted_.load()) return -1;
        int fd = net_.fd;
        if (fd < 0) return -1;
        // Read every slice: a deadline set by another thread (a closing owner) also ends a
        // wait that has already begun.
        Clock::time_point limit = until;
        const Clock::rep deadlineTicks = deadline_.load();
        if (deadlineTicks != 0) limit = std::min(limit, Clock::time_point(Clock::duration(deadlineTicks)));
        int slice = kWaitSliceMs;
        if (limit != Clock::time_point::max()) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(limit - Clock::now()).count();
            if (left <= 0) return 0;
            if (left < slice) slice = static_cast<int>(left);
        }
        fd_set set;
        FD_ZERO(&set);
        FD_SET(static_cast<SOCKET>(fd), &set);
        fd_set errors;
        FD_ZERO(&errors);
        FD_SET(static_cast<SOCKET>(fd), &errors);
        timeval tv;
        tv.tv_sec = slice / 1000;
        tv.tv_usec = (slice % 1000) * 1000;
        int ready = forWrite ? select(0, nullptr, &set, &errors, &tv) : select(0, &set, nullptr, &errors, &tv);
        if (ready == SOCKET_ERROR) return -1;
        if (ready > 0) return 1;  // readable/writable, or an error the next call reports
    }
}

int TlsStream::Read(unsigned char* buf, size_t n) {
    if (aborted_.load() || net_.fd < 0) return MBEDTLS_ERR_NET_RECV_FAILED;
    const Clock::time_point until = ReadLimit();
    if (plain_.load()) {
        for (;;) {
            int w = WaitSocket(false, until);
            if (w == 0) return MBEDTLS_ERR_SSL_TIMEOUT;
            if (w < 0) return MBEDTLS_ERR_NET_RECV_FAILED;
            int ret = mbedtls_net_recv(&net_, buf, n);
            if (ret != MBEDTLS_ERR_SSL_WANT_READ) return ret;
        }
    }
    for (;;) {
        if (aborted_.load()) return MBEDTLS_ERR_NET_RECV_FAILED;
        bool buffered;
        {
            MutexLock lock(ioMutex_);
            buffered = mbedtls_ssl_get_bytes_avail(&ssl_) > 0 || mbedtls_ssl_check_pending(&ssl_) != 0;
        }
        if (!buffered) {
            int w = WaitSocket(false, until);
            if (w == 0) return MBEDTLS_ERR_SSL_TIMEOUT;
            if (w < 0) return MBEDTLS_ERR_NET_RECV_FAILED;
        }
        int ret;
        {
            MutexLock lock(ioMutex_);
            ret = mbedtls_ssl_read(&ssl_, buf, n);
        }
        if (ret >= 0) return ret;
        if (ret == MBEDTLS_ERR_SSL_WANT_READ || ret == MBEDTLS_ERR_SSL_WANT_WRITE ||
            ret == MBEDTLS_ERR_SSL_RECEIVED_NEW_SESSION_TICKET)
            continue;
        return ret;
    }
}

bool TlsStream::ReadExact(unsigned char* buf, size_t n) {
    size_t got = 0;
    while (got < n) {
        int r = Read(buf + got, n - got);
        if (r < 1) return false;
        got += static_cast<size_t>(r);
    }
    return true;
}

int TlsStream::Write(const unsigned char* buf, size_t n) {
    if (aborted_.load() || net_.fd < 0) return MBEDTLS_ERR_NET_SEND_FAILED;
    const Clock::time_point until = Clock::now() + std::chrono::milliseconds(writeTimeoutMs_.load());
    for (;;) {
        if (aborted_.load()) return MBEDTLS_ERR_NET_SEND_FAILED;
        int ret;
        if (plain_.load()) {
            if (n == 0) return 0;
            ret = mbedtls_net_send(&net_, buf, n);
        } else {
            // Mbed TLS wants a write that reported WANT_WRITE repeated with the same data;
            // only this writer touches the pending output, so the lock is released while
            // waiting for socket space and the reader keeps reading in the meantime.
            MutexLock lock(ioMutex_);
            ret = mbedtls_ssl_write(&ssl_, buf, n);
        }
        if (ret == MBEDTLS_ERR_SSL_WANT_WRITE || ret == MBEDTLS_ERR_SSL_WANT_READ) {
            int w = WaitSocket(ret == MBEDTLS_ERR_SSL_WANT_WRITE, until);
            if (w == 0) AbortSocket();
            if (w != 1) return MBEDTLS_ERR_NET_SEND_FAILED;
            continue;
        }
        if (ret == MBEDTLS_ERR_SSL_RECEIVED_NEW_SESSION_TICKET) continue;
        if (ret == 0 && n > 0) return -1;
        return ret;
    }
}

bool TlsStream::WriteAll(const unsigned char* buf, size_t n) {
    size_t sent = 0;
    while (sent < n) {
        int r = Write(buf + sent, n - sent);
        if (r < 1) return false;
        sent += static_cast<size_t>(r);
    }
    return true;
}

void TlsStream::SetReceiveTimeout(int32_t ms) {
    if (!connected_.load()) return;
    if (ms < 0) ms = 0;
    receiveTimeoutMs_.store(ms);
}

void TlsStream::Close() {
    if (connected_.exchange(false)) {
        if (!plain_.load() && !aborted_.load() && net_.fd >= 0) {
            MutexLock lock(ioMutex_);
            // Best effort on a non-blocking socket: a full send buffer just skips it.
            mbedtls_ssl_close_notify(&ssl_);
        }
    }
    plain_.store(false);
    ReleaseContexts();
}

void TlsStream::AbortSocket() {
    aborted_.store(true);
    MutexLock lock(socketMutex_);
    if (liveSocket_ >= 0) shutdown(static_cast<SOCKET>(liveSocket_), SD_BOTH);
}

}  // namespace sv
