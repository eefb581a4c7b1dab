// Temporary definitions so the host links until the transport lands.
#include "net/websocket_client.h"

namespace sv {
TlsStream::TlsStream() {}
TlsStream::~TlsStream() {}
void TlsStream::AbortSocket() {}
void InstallTlsThreadingLocks() {}
void ReleaseTlsThreadingLocks() {}
WebSocketClient::WebSocketClient() {}
WebSocketClient::~WebSocketClient() {}
bool WebSocketClient::Connect(const std::string&, const char*, uint32_t) { return false; }
int WebSocketClient::ReceiveMessage(WebSocketMessage&) { return 2; }
bool WebSocketClient::SendText(const std::string&) { return false; }
bool WebSocketClient::SendBinary(const uint8_t*, size_t) { return false; }
void WebSocketClient::Disconnect() {}
void WebSocketClient::AbortSocket() {}
}  // namespace sv
