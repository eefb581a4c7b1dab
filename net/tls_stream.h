#pragma once
// The byte stream under a WebSocket connection or one HTTPS request: a verified
// Mbed TLS client connection, or plain TCP to a loopback address only.
//
// One thread reads; writers are serialised by the owner. Because Mbed TLS does
// not allow one SSL context to be used by two threads at once, TLS reads wait
// for the socket outside the context and only then enter it under `ioMutex_`,
// so a writer is never inside the context while the reader is.
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>

#include "base/annotated_mutex.h"

#include "mbedtls/ctr_drbg.h"
#include "mbedtls/entropy.h"
#include "mbedtls/net_sockets.h"
#include "mbedtls/ssl.h"
#include "mbedtls/x509_crt.h"
#include "net/connect_failure.h"

namespace sv {

class TlsStream {
public:
    TlsStream();
    ~TlsStream();
    TlsStream(const TlsStream&) = delete;
    TlsStream& operator=(const TlsStream&) = delete;

    // Releases whatever a previous connection left and initialises fresh contexts.
    void Reset();
    bool ConnectTls(const char* host, uint16_t port, const char* caBundlePath);
    bool ConnectPlainLoopback(const char* host, uint16_t port);
    // >0 bytes read, 0 orderly close (plain), negative Mbed TLS error.
    int Read(unsigned char* buf, size_t n);
    bool ReadExact(unsigned char* buf, size_t n);
    int Write(const unsigned char* buf, size_t n);
    bool WriteAll(const unsigned char* buf, size_t n);
    void SetReceiveTimeout(int32_t ms);
    // Bounds everything this stream still does (connect, handshake, every read and
    // write) by one point in time, so a peer that trickles a byte at a time cannot
    // hold a request for ever. Any thread; a wait already under way sees it within a
    // slice. Reset clears it.
    void SetDeadline(std::chrono::steady_clock::time_point when);
    // A write whose socket takes nothing for this long aborts the connection (a peer
    // that stops reading must not hold a sender for ever). Default 30 s.
    void SetWriteTimeout(int32_t ms) { writeTimeoutMs_.store(ms > 0 ? ms : 1); }
    void Close();
    // From any thread: shuts the socket down and flags the stream, so every wait
    // (connect, handshake, read, write) ends within a slice. Only the owner closes the
    // handle (Close), so a read that already passed its checks never meets a handle
    // value that by then names another socket.
    void AbortSocket();

    bool IsConnected() const { return connected_.load(); }
    // Why the last ConnectTls or ConnectPlainLoopback failed (None after a success);
    // owner thread only.
    ConnectFailure LastConnectFailure() const { return lastFailure_; }
    bool WasAborted() const { return aborted_.load(); }
    bool IsTls() const { return connected_.load() && !plain_.load(); }

private:
    using Clock = std::chrono::steady_clock;
    void BeginConnect();
    void ReleaseContexts();
    // A non-blocking TCP connection to host:port, tried address by address until
    // `until`, the abort flag looked at every slice; the socket goes to net_.
    bool ConnectSocket(const char* host, uint16_t port, Clock::time_point until);
    // Waits until the socket can be read (or written), at the latest until `until`
    // and the stream's deadline. 1 ready, 0 time-out, -1 error or aborted.
    int WaitSocket(bool forWrite, Clock::time_point until);
    // The receive time-out from now, or no bound.
    Clock::time_point ReadLimit() const;

    mbedtls_net_context net_;
    mbedtls_ssl_context ssl_;
    mbedtls_ssl_config conf_;
    mbedtls_entropy_context entropy_;
    mbedtls_ctr_drbg_context drbg_;
    mbedtls_x509_crt ca_;
    bool contextsLive_ = false;  // the six contexts are initialised (owner thread only)
    bool fresh_ = false;         // Reset ran and no connect has used the contexts yet
    ConnectFailure lastFailure_ = ConnectFailure::None;  // owner thread only
    std::atomic<bool> connected_{false};
    std::atomic<bool> plain_{false};
    // The handle while it is open, for AbortSocket; under its lock so that an abort
    // never shuts down a handle the owner has already closed.
    Mutex socketMutex_;
    int liveSocket_ SV_GUARDED_BY(socketMutex_) = -1;
    std::atomic<bool> aborted_{false};
    std::atomic<int32_t> receiveTimeoutMs_{0};
    std::atomic<int32_t> writeTimeoutMs_{30000};
    // Steady-clock ticks of the deadline; 0: none.
    std::atomic<Clock::rep> deadline_{0};
    Mutex ioMutex_;
};

// Plugs the host's locks (critical sections) into Mbed TLS's threading hooks and
// starts PSA crypto (TLS 1.3 needs it). Idempotent; streams call it themselves
// if the process entry has not.
void InstallTlsThreadingLocks();
// Removes the locks, but only when no stream holds Mbed TLS contexts; otherwise the
// locks stay until the process ends. Meant for the very end of the process, if at all.
void ReleaseTlsThreadingLocks();
// Whether the locks are currently installed (for tests and diagnostics).
bool TlsThreadingLocksInstalled();

}  // namespace sv
