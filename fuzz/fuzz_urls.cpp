// URLs from settings and from servers: relay URLs, API URLs and redirect targets.
#include <cstdint>
#include <string>

#include "net/http_parsing.h"
#include "net/websocket_frame.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    sv::WebSocketUrl ws;
    if (sv::SplitWebSocketUrl(text, ws)) sv::BuildUpgradeRequest(ws.host, ws.port, ws.path, "key");
    sv::HttpsUrl https;
    if (sv::SplitHttpsUrl(text, https)) {
        std::string request = sv::BuildHttpRequest("GET", https, "");
        // Nothing from the URL may end the request line early.
        if (request.find("\r\n") < request.find(" HTTP/1.1\r\n")) __builtin_trap();
    }
    size_t cut = text.find('\n');
    std::string current = cut == std::string::npos ? "https://api.invalid/v1/x" : text.substr(0, cut);
    std::string location = cut == std::string::npos ? text : text.substr(cut + 1);
    std::string next = sv::ResolveLocation(current, location);
    // From a page fetched over TLS, a redirect never leaves it.
    sv::HttpsUrl from;
    if (sv::SplitHttpsUrl(current, from) && !next.empty() && next.rfind("https://", 0) != 0) __builtin_trap();
    return 0;
}
