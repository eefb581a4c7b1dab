#include "net/connect_failure.h"

#include "mbedtls/x509.h"

namespace sv {

ConnectFailure CertificateFailure(uint32_t verifyFlags) {
    if (verifyFlags & MBEDTLS_X509_BADCERT_NOT_TRUSTED) return ConnectFailure::CertUntrusted;
    if (verifyFlags & MBEDTLS_X509_BADCERT_CN_MISMATCH) return ConnectFailure::CertNameMismatch;
    if (verifyFlags & MBEDTLS_X509_BADCERT_EXPIRED) return ConnectFailure::CertExpired;
    if (verifyFlags & MBEDTLS_X509_BADCERT_FUTURE) return ConnectFailure::CertNotYetValid;
    return ConnectFailure::TlsVerifyFailed;
}

bool IsCertificateFailure(ConnectFailure cause) {
    switch (cause) {
    case ConnectFailure::TlsVerifyFailed:
    case ConnectFailure::CertUntrusted:
    case ConnectFailure::CertNameMismatch:
    case ConnectFailure::CertExpired:
    case ConnectFailure::CertNotYetValid:
        return true;
    default:
        return false;
    }
}

std::string ConnectFailureText(ConnectFailure cause, const std::string& host, const std::string& caFile) {
    switch (cause) {
    case ConnectFailure::None:
        return "no failure";
    case ConnectFailure::BadAddress:
        return "the address cannot be used";
    case ConnectFailure::NameNotFound:
        return "name not found";
    case ConnectFailure::Refused:
        return "connection refused";
    case ConnectFailure::Unreachable:
        return "network unreachable";
    case ConnectFailure::ConnectTimedOut:
        return "connection timed out";
    case ConnectFailure::CaUnreadable:
        return "the CA file " + caFile + " cannot be read";
    case ConnectFailure::TlsVerifyFailed:
        return "the certificate of " + host + " does not verify against the CA file " + caFile +
               " (give the right CA file with --cacert)";
    case ConnectFailure::CertUntrusted:
        // The CA file is the one thing here the person can change.
        return "the certificate's issuer is not trusted by the CA file " + caFile +
               " (give the file of the CA that issued it with --cacert)";
    case ConnectFailure::CertNameMismatch:
        return "the certificate is not for " + host + " (it names another server)";
    case ConnectFailure::CertExpired:
        return "the certificate of " + host + " has expired (or this computer's clock is wrong)";
    case ConnectFailure::CertNotYetValid:
        return "the certificate of " + host + " is not valid yet (or this computer's clock is wrong)";
    case ConnectFailure::TlsFailed:
        return "TLS handshake failed";
    case ConnectFailure::HandshakeTimedOut:
        return "handshake timed out";
    case ConnectFailure::ClosedByPeer:
        return "closed by the server";
    case ConnectFailure::UpgradeRefused:
        return "the server refused the WebSocket upgrade";
    case ConnectFailure::ConnectionLost:
        return "connection lost";
    case ConnectFailure::Aborted:
        return "stopped";
    }
    return "unknown failure";
}

}  // namespace sv
