#pragma once
// HTTP/1.1 as bytes: https URLs, the request text, the response head, body framing
// and redirects. No sockets here; net/https_client.h moves the bytes.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "net/connect_failure.h"

namespace sv {

// Why a request brought no usable answer, so that the caller can say it instead of
// guessing among every way a request can fail.
enum class HttpFailure : uint8_t {
    None,              // an answer came (whatever its status)
    NotHttps,          // the URL is no https:// address with a host and a port
    Connect,           // no connection: HttpResponse::connectFailure says why
    NoAnswer,          // the connection ended before a whole response head arrived
    AnswerTimedOut,    // no whole response head within the time-out
    NotHttp,           // what came back is no HTTP response head
    CutShort,          // the body ended before its announced end, or its chunks are broken
    TooLarge,          // the body is larger than any answer this client takes
    RedirectAway,      // a redirect to an address that is not https://
    TooManyRedirects,  // more redirects than the caller follows
};

// One answer; status 0 means there was no usable answer, and `failure` says why.
struct HttpResponse {
    int32_t status = 0;
    std::string location;
    std::string contentType;
    std::vector<uint8_t> body;
    HttpFailure failure = HttpFailure::None;
    ConnectFailure connectFailure = ConnectFailure::None;  // with HttpFailure::Connect
};

// No usable answer, and why.
HttpResponse NoAnswer(HttpFailure why, ConnectFailure connectFailure = ConnectFailure::None);

// The response head is read up to this size and no further.
constexpr size_t kMaxHttpHeadBytes = 65536;
// Any body beyond this is refused (status 0). Update packages are a few MiB, so this
// only stops a hostile or broken server from exhausting memory.
constexpr size_t kMaxHttpBodyBytes = 256u * 1024u * 1024u;

// The parts of an "https://" URL that a request needs.
struct HttpsUrl {
    std::string host;
    uint16_t port = 443;
    std::string path = "/";
};

// False for anything that is not "https://host[:port][/path]" with a non-empty host and
// a port of 1 to 65535, and for URLs holding spaces or control characters (they would
// end up inside the request line).
bool SplitHttpsUrl(const std::string& url, HttpsUrl& out);

// The whole request text: request line, the fixed headers, blank line and body.
std::string BuildHttpRequest(const std::string& method, const HttpsUrl& url, const std::string& body);

// The value of header `lowerName` (given in lower case) in a response head: the first
// header line whose whole name matches regardless of case; leading blanks are dropped.
// Empty when absent.
std::string FindHeader(const std::string& head, const std::string& lowerName);

// The status code after "HTTP/1.1 "; 0 when the head is too short or holds no code.
int32_t ParseStatusCode(const std::string& head);

// True once `head` ends with the blank line that closes a response head.
bool IsCompleteHead(const std::string& head);

// Decodes a chunked body. Returns false on broken framing (a chunk running past the
// end, a size line without its end, a size too large); `body` then holds what was
// decoded before the fault. Trailers after the last chunk are ignored.
bool DecodeChunkedBody(const std::vector<uint8_t>& raw, std::vector<uint8_t>& body);

// The next URL of a redirect, or empty to stop (notably for any "http://" target).
std::string ResolveLocation(const std::string& current, const std::string& location);

// Collects a body as it arrives and settles its framing once reading has ended.
class HttpBodyReader {
public:
    explicit HttpBodyReader(const std::string& head, size_t limit = kMaxHttpBodyBytes);

    // True while more bytes are wanted; a sized body stops once it is complete.
    bool WantsMore() const;
    void Feed(const uint8_t* data, size_t n);
    // Sets the response's body and, for a short, broken, oversized or unreadably sized
    // body, status 0 with the failure.
    void Finish(HttpResponse& response);

private:
    enum class Framing { Chunked, Sized, ToClose };
    Framing framing_ = Framing::ToClose;
    size_t limit_ = 0;
    size_t expected_ = 0;
    // Why the body is refused (a length that cannot be read or is too large, a body that
    // outgrew the limit); None while it is not.
    HttpFailure refused_ = HttpFailure::None;
    std::vector<uint8_t> raw_;
};

// GET with redirects through `fetch`: at most `maxRedirects` redirects are followed,
// so at most maxRedirects + 1 requests; a negative maximum asks nothing. A chase that
// ends without an answer says why (RedirectAway, TooManyRedirects).
HttpResponse FollowRedirects(const std::string& url, int32_t maxRedirects,
                             const std::function<HttpResponse(const std::string&)>& fetch);

}  // namespace sv
