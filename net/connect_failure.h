#pragma once
// Why opening a connection failed, as a person can act on it: the name, the port, the
// certificate or the peer. TlsStream and WebSocketClient record one per attempt.
#include <cstdint>
#include <string>

namespace sv {

enum class ConnectFailure : uint8_t {
    None,               // connected, or nothing tried yet
    BadAddress,         // the URL cannot be used (scheme, host, port, ws:// off this computer)
    NameNotFound,       // the host name does not resolve
    Refused,            // nothing listens on that port
    Unreachable,        // the network gave another connect error
    ConnectTimedOut,    // no answer to the TCP connect
    CaUnreadable,       // the CA file cannot be read or holds no certificate
    TlsVerifyFailed,    // the peer's certificate failed a check not named below
    CertUntrusted,      // its issuer is not among the CA file's certificates
    CertNameMismatch,   // it is not for the name that was asked for
    CertExpired,        // its validity ended (or this computer's clock is ahead)
    CertNotYetValid,    // its validity has not begun (or this computer's clock is behind)
    TlsFailed,          // the TLS handshake failed otherwise
    HandshakeTimedOut,  // TLS or WebSocket opening not finished in time
    ClosedByPeer,       // the peer closed the connection during the opening
    UpgradeRefused,     // the peer answered the upgrade with something other than 101
    ConnectionLost,     // an opened connection ended with a read error
    Aborted,            // stopped from this side
};

// The certificate cause in Mbed TLS's verification flags (MBEDTLS_X509_BADCERT_*). A
// certificate can fail several checks at once; the one named is the one the person
// must act on first: an issuer the CA file does not know makes every other check moot,
// and a name mismatch means another server answered, whatever its dates.
ConnectFailure CertificateFailure(uint32_t verifyFlags);

bool IsCertificateFailure(ConnectFailure cause);

// What `cause` says about a connection to `host`, in a few words, with the next step
// where one helps: "connection refused", "the certificate's issuer is not trusted by the
// CA file <caFile> (give the file of the CA that issued it with --cacert)", ... No
// trailing full stop, so callers can go on with "; ...".
std::string ConnectFailureText(ConnectFailure cause, const std::string& host, const std::string& caFile);

}  // namespace sv
