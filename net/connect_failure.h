#pragma once
// Why opening a connection failed, as a person can act on it: the name, the port, the
// certificate or the peer. TlsStream and WebSocketClient record one per attempt.
#include <cstdint>

namespace sv {

enum class ConnectFailure : uint8_t {
    None,               // connected, or nothing tried yet
    BadAddress,         // the URL cannot be used (scheme, host, port, ws:// off this computer)
    NameNotFound,       // the host name does not resolve
    Refused,            // nothing listens on that port
    Unreachable,        // the network gave another connect error
    ConnectTimedOut,    // no answer to the TCP connect
    CaUnreadable,       // the CA file cannot be read or holds no certificate
    TlsVerifyFailed,    // the peer's certificate is not trusted for that name
    TlsFailed,          // the TLS handshake failed otherwise
    HandshakeTimedOut,  // TLS or WebSocket opening not finished in time
    ClosedByPeer,       // the peer closed the connection during the opening
    UpgradeRefused,     // the peer answered the upgrade with something other than 101
    ConnectionLost,     // an opened connection ended with a read error
    Aborted,            // stopped from this side
};

}  // namespace sv
