#pragma once
// The byte stream under a WebSocket connection or one HTTPS request: a verified
// Mbed TLS client connection, or plain TCP to a loopback address only.
#include <atomic>
#include <cstddef>
#include <cstdint>

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

    void Reset();
    bool ConnectTls(const char* host, uint16_t port, const char* caBundlePath);
    bool ConnectPlainLoopback(const char* host, uint16_t port);
    int Read(unsigned char* buf, size_t n);
    bool ReadExact(unsigned char* buf, size_t n);
    int Write(const unsigned char* buf, size_t n);
    bool WriteAll(const unsigned char* buf, size_t n);
    void SetReceiveTimeout(int32_t ms);
    void Close();
    void AbortSocket();

    bool IsConnected() const { return connected_.load(); }
    bool IsTls() const { return useTls_.load(); }

private:
    mbedtls_net_context net_;
    mbedtls_ssl_context ssl_;
    mbedtls_ssl_config conf_;
    mbedtls_entropy_context entropy_;
    mbedtls_ctr_drbg_context drbg_;
    mbedtls_x509_crt ca_;
    std::atomic<bool> connected_{false};
    std::atomic<bool> useTls_{false};
    std::atomic<bool> socketClosed_{true};
};

void InstallTlsThreadingLocks();
void ReleaseTlsThreadingLocks();

}  // namespace sv
