#include <winsock2.h>
#include <windows.h>

#include "net/tls_stream.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <new>

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
std::mutex& LockStateMutex() {
    static std::mutex m;
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

bool IsLoopbackName(const char* host) {
    return std::strcmp(host, "127.0.0.1") == 0 || std::strcmp(host, "localhost") == 0 ||
           std::strcmp(host, "::1") == 0;
}

}  // namespace

void InstallTlsThreadingLocks() {
    std::lock_guard<std::mutex> lock(LockStateMutex());
    InstallLocked();
}

void ReleaseTlsThreadingLocks() {
    std::lock_guard<std::mutex> lock(LockStateMutex());
    if (!g_locksInstalled || g_streamsWithContexts != 0) return;
    mbedtls_psa_crypto_free();
    mbedtls_threading_free_alt();
    g_locksInstalled = false;
}

bool TlsThreadingLocksInstalled() {
    std::lock_guard<std::mutex> lock(LockStateMutex());
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
        std::lock_guard<std::mutex> lock(LockStateMutex());
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
    connected_.store(false);
    plain_.store(false);
    aborted_.store(false);
    receiveTimeoutMs_.store(0);
}

void TlsStream::BeginConnect() {
    // A connect always starts from fresh contexts; a Reset just before it (the usual
    // order) is not repeated, so an abort that arrived in between still counts.
    if (!fresh_) Reset();
    fresh_ = false;
}

bool TlsStream::PublishSocket() {
    liveSocket_.store(net_.fd);
    return !aborted_.load();
}

void TlsStream::ReleaseContexts() {
    int fd = liveSocket_.exchange(-1);
    // AbortSocket already closed the handle: never close it a second time, the value
    // may name another socket by now.
    if (fd < 0) net_.fd = -1;
    if (!contextsLive_) return;
    mbedtls_net_free(&net_);
    mbedtls_x509_crt_free(&ca_);
    mbedtls_ssl_free(&ssl_);
    mbedtls_ssl_config_free(&conf_);
    mbedtls_ctr_drbg_free(&drbg_);
    mbedtls_entropy_free(&entropy_);
    contextsLive_ = false;
    fresh_ = false;
    std::lock_guard<std::mutex> lock(LockStateMutex());
    --g_streamsWithContexts;
}

bool TlsStream::ConnectTls(const char* host, uint16_t port, const char* caBundlePath) {
    BeginConnect();
    if (!host || !caBundlePath) {
        ReleaseContexts();
        return false;
    }
    char portText[8];
    std::snprintf(portText, sizeof(portText), "%u", static_cast<unsigned>(port));

    auto fail = [this] {
        ReleaseContexts();
        return false;
    };
    if (mbedtls_ctr_drbg_seed(&drbg_, mbedtls_entropy_func, &entropy_,
                              reinterpret_cast<const unsigned char*>(kPersonalisation),
                              sizeof(kPersonalisation) - 1) != 0)
        return fail();
    if (mbedtls_x509_crt_parse_file(&ca_, caBundlePath) != 0) return fail();
    if (mbedtls_ssl_config_defaults(&conf_, MBEDTLS_SSL_IS_CLIENT, MBEDTLS_SSL_TRANSPORT_STREAM,
                                    MBEDTLS_SSL_PRESET_DEFAULT) != 0)
        return fail();
    mbedtls_ssl_conf_authmode(&conf_, MBEDTLS_SSL_VERIFY_REQUIRED);
    mbedtls_ssl_conf_ca_chain(&conf_, &ca_, nullptr);
    mbedtls_ssl_conf_rng(&conf_, mbedtls_ctr_drbg_random, &drbg_);
    if (mbedtls_ssl_setup(&ssl_, &conf_) != 0) return fail();
    if (mbedtls_ssl_set_hostname(&ssl_, host) != 0) return fail();
    if (mbedtls_net_connect(&net_, host, portText, MBEDTLS_NET_PROTO_TCP) != 0) return fail();
    if (!PublishSocket()) return fail();
    DWORD handshakeTimeout = kHandshakeTimeoutMs;
    setsockopt(static_cast<SOCKET>(net_.fd), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&handshakeTimeout),
               sizeof(handshakeTimeout));
    mbedtls_ssl_set_bio(&ssl_, &net_, mbedtls_net_send, mbedtls_net_recv, nullptr);
    int ret;
    do {
        ret = mbedtls_ssl_handshake(&ssl_);
    } while ((ret == MBEDTLS_ERR_SSL_WANT_READ || ret == MBEDTLS_ERR_SSL_WANT_WRITE) && !aborted_.load());
    if (ret != 0 || aborted_.load()) return fail();
    // From here reads wait for the socket outside the SSL context (see the header), so
    // the socket must never block inside Mbed TLS.
    if (mbedtls_net_set_nonblock(&net_) != 0) return fail();
    plain_.store(false);
    connected_.store(true);
    return true;
}

bool TlsStream::ConnectPlainLoopback(const char* host, uint16_t port) {
    BeginConnect();
    if (!host || !IsLoopbackName(host)) {
        ReleaseContexts();
        return false;
    }
    char portText[8];
    std::snprintf(portText, sizeof(portText), "%u", static_cast<unsigned>(port));
    if (mbedtls_net_connect(&net_, host, portText, MBEDTLS_NET_PROTO_TCP) != 0 || !PublishSocket()) {
        ReleaseContexts();
        return false;
    }
    plain_.store(true);
    connected_.store(true);
    return true;
}

int TlsStream::WaitSocket(bool forWrite, bool bounded) {
    using Clock = std::chrono::steady_clock;
    int32_t limit = bounded ? receiveTimeoutMs_.load() : 0;
    auto deadline = Clock::now() + std::chrono::milliseconds(limit);
    for (;;) {
        if (aborted_.load()) return -1;
        int fd = liveSocket_.load();
        if (fd < 0) return -1;
        int slice = kWaitSliceMs;
        if (limit > 0) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
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
    if (aborted_.load() || liveSocket_.load() < 0) return MBEDTLS_ERR_NET_RECV_FAILED;
    if (plain_.load()) {
        int w = WaitSocket(false, true);
        if (w == 0) return MBEDTLS_ERR_SSL_TIMEOUT;
        if (w < 0) return MBEDTLS_ERR_NET_RECV_FAILED;
        return mbedtls_net_recv(&net_, buf, n);
    }
    for (;;) {
        if (aborted_.load()) return MBEDTLS_ERR_NET_RECV_FAILED;
        bool buffered;
        {
            std::lock_guard<std::mutex> lock(ioMutex_);
            buffered = mbedtls_ssl_get_bytes_avail(&ssl_) > 0 || mbedtls_ssl_check_pending(&ssl_) != 0;
        }
        if (!buffered) {
            int w = WaitSocket(false, true);
            if (w == 0) return MBEDTLS_ERR_SSL_TIMEOUT;
            if (w < 0) return MBEDTLS_ERR_NET_RECV_FAILED;
        }
        int ret;
        {
            std::lock_guard<std::mutex> lock(ioMutex_);
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
    if (aborted_.load() || liveSocket_.load() < 0) return MBEDTLS_ERR_NET_SEND_FAILED;
    if (plain_.load()) {
        if (n == 0) return 0;
        size_t sent = 0;
        while (sent < n) {
            int r = mbedtls_net_send(&net_, buf + sent, n - sent);
            if (r < 0) return r;
            if (r == 0) return -1;
            sent += static_cast<size_t>(r);
        }
        return static_cast<int>(n);
    }
    // The lock is held across retries: Mbed TLS wants a write that reported WANT_WRITE
    // repeated with the same data before anything else touches the context.
    std::lock_guard<std::mutex> lock(ioMutex_);
    for (;;) {
        if (aborted_.load()) return MBEDTLS_ERR_NET_SEND_FAILED;
        int ret = mbedtls_ssl_write(&ssl_, buf, n);
        if (ret == MBEDTLS_ERR_SSL_WANT_WRITE) {
            if (WaitSocket(true, false) < 0) return MBEDTLS_ERR_NET_SEND_FAILED;
            continue;
        }
        if (ret == MBEDTLS_ERR_SSL_WANT_READ) {
            if (WaitSocket(false, false) < 0) return MBEDTLS_ERR_NET_SEND_FAILED;
            continue;
        }
        if (ret == MBEDTLS_ERR_SSL_RECEIVED_NEW_SESSION_TICKET) continue;
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
    int fd = liveSocket_.load();
    if (fd < 0) return;
    DWORD value = static_cast<DWORD>(ms);
    setsockopt(static_cast<SOCKET>(fd), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&value), sizeof(value));
}

void TlsStream::Close() {
    if (connected_.exchange(false)) {
        if (!plain_.load() && !aborted_.load() && liveSocket_.load() >= 0) {
            std::lock_guard<std::mutex> lock(ioMutex_);
            // Best effort on a non-blocking socket: a full send buffer just skips it.
            mbedtls_ssl_close_notify(&ssl_);
        }
    }
    plain_.store(false);
    ReleaseContexts();
}

void TlsStream::AbortSocket() {
    aborted_.store(true);
    int fd = liveSocket_.exchange(-1);
    if (fd >= 0) closesocket(static_cast<SOCKET>(fd));
}

}  // namespace sv
