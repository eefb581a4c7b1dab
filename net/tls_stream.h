#pragma once
// The byte stream under a WebSocket connection or one HTTPS request: a verified
// Mbed TLS client connection, or plain TCP to a loopback address only.
//
// One thread reads; writers are serialised by the owner. Because Mbed TLS does
// not allow one SSL context to be used by two threads at once, TLS reads wait
// for the socket outside the context and only then enter it under `ioMutex_`,
// so a writer is never inside the context while the reader is.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "mbedtls/ctr_drbg.h"
#include "mbedtls/entropy.h"
#include "mbedtls/net_sockets.h"
#include "mbedtls/ssl.h"
#include "mbedtls/x509_crt.h"

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
    void Close();
    // From any thread: closes the socket handle at once so a blocked read fails.
    // The handle is closed exactly once whichever of AbortSocket and Close runs first.
    void AbortSocket();

    bool IsConnected() const { return connected_.load(); }
    bool IsTls() const { return connected_.load() && !plain_.load(); }

private:
    void BeginConnect();
    void ReleaseContexts();
    // Makes the new handle visible to AbortSocket; false when an abort came first.
    bool PublishSocket();
    // Waits until the socket can be read (or written). `bounded`: at most the receive
    // time-out. 1 ready, 0 time-out, -1 error or aborted.
    int WaitSocket(bool forWrite, bool bounded);

    mbedtls_net_context net_;
    mbedtls_ssl_context ssl_;
    mbedtls_ssl_config conf_;
    mbedtls_entropy_context entropy_;
    mbedtls_ctr_drbg_context drbg_;
    mbedtls_x509_crt ca_;
    bool contextsLive_ = false;  // the six contexts are initialised (owner thread only)
    bool fresh_ = false;         // Reset ran and no connect has used the contexts yet
    std::atomic<bool> connected_{false};
    std::atomic<bool> plain_{false};
    // The handle while it is open; -1 once AbortSocket or Close has taken it.
    std::atomic<int> liveSocket_{-1};
    std::atomic<bool> aborted_{false};
    std::atomic<int32_t> receiveTimeoutMs_{0};
    std::mutex ioMutex_;
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
