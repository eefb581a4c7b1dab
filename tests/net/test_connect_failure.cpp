#include "net/connect_failure.h"

#include <gtest/gtest.h>

#include "mbedtls/x509.h"

namespace {

using sv::ConnectFailure;

// A certificate that fails several checks is named by the one to act on first.
TEST(ConnectFailure, CertificateCauseFromTheVerifyFlags) {
    const struct {
        uint32_t flags;
        ConnectFailure cause;
    } cases[] = {
        {MBEDTLS_X509_BADCERT_NOT_TRUSTED, ConnectFailure::CertUntrusted},
        {MBEDTLS_X509_BADCERT_CN_MISMATCH, ConnectFailure::CertNameMismatch},
        {MBEDTLS_X509_BADCERT_EXPIRED, ConnectFailure::CertExpired},
        {MBEDTLS_X509_BADCERT_FUTURE, ConnectFailure::CertNotYetValid},
        {MBEDTLS_X509_BADCERT_NOT_TRUSTED | MBEDTLS_X509_BADCERT_EXPIRED | MBEDTLS_X509_BADCERT_CN_MISMATCH,
         ConnectFailure::CertUntrusted},
        {MBEDTLS_X509_BADCERT_CN_MISMATCH | MBEDTLS_X509_BADCERT_FUTURE, ConnectFailure::CertNameMismatch},
        {MBEDTLS_X509_BADCERT_EXPIRED | MBEDTLS_X509_BADCERT_KEY_USAGE, ConnectFailure::CertExpired},
        // Faults no one at the computer can tell apart keep the general cause.
        {MBEDTLS_X509_BADCERT_KEY_USAGE, ConnectFailure::TlsVerifyFailed},
        {0, ConnectFailure::TlsVerifyFailed},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(sv::CertificateFailure(c.flags), c.cause) << std::hex << c.flags;
        EXPECT_TRUE(sv::IsCertificateFailure(c.cause));
    }
    EXPECT_FALSE(sv::IsCertificateFailure(ConnectFailure::TlsFailed));
}

}  // namespace
