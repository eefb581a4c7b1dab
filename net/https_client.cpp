#include "net/https_client.h"

#include <algorithm>
#include <chrono>
#include <limits>

#include "net/tls_stream.h"

namespace sv {

namespace {
// A body may take this long after its head; a server that trickles it ends there.
constexpr auto kMaxBodyTime = std::chrono::minutes(15);
}  // namespace

void HttpCancel::Cancel() {
    MutexLock lock(mutex_);
    cancelled_ = true;
    if (stream_ != nullptr) stream_->AbortSocket();
}

// Makes a request's stream reachable by HttpCancel::Cancel while the request runs.
class HttpCancelScope {
public:
    HttpCancelScope(HttpCancel* cancel, TlsStream& stream) : cancel_(cancel) {
        if (cancel_ == nullptr) return;
        MutexLock lock(cancel_->mutex_);
        cancel_->stream_ = &stream;
        // A cancel that came first still counts: the connect sees the abort at once.
        if (cancel_->cancelled_) stream.AbortSocket();
    }
    ~HttpCancelScope() {
        if (cancel_ == nullptr) return;
        MutexLock lock(cancel_->mutex_);
        cancel_->stream_ = nullptr;
    }
    HttpCancelScope(const HttpCancelScope&) = delete;
    HttpCancelScope& operator=(const HttpCancelScope&) = delete;

private:
    HttpCancel* cancel_;
};

HttpResponse HttpRequest(const std::string& method, const std::string& url, const std::string& body,
                         const char* caBundlePath, uint32_t timeoutMs, HttpCancel* cancel) {
    HttpsUrl target;
    if (!SplitHttpsUrl(url, target)) return NoAnswer(HttpFailure::NotHttps);

    TlsStream stream;
    stream.Reset();
    HttpCancelScope cancelScope(cancel, stream);
    // Connect, handshake, request and head share the time-out as one total bound; the
    // per-read time-out alone would let a server answering a byte at a time hold the
    // request for ever.
    stream.SetDeadline(std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs));
    if (!stream.ConnectTls(target.host.c_str(), target.port, caBundlePath ? caBundlePath : "")) {
        const ConnectFailure why = stream.LastConnectFailure();
        stream.Close();
        return NoAnswer(HttpFailure::Connect, why);
    }
    stream.SetReceiveTimeout(static_cast<int32_t>(
        std::min<uint32_t>(timeoutMs, static_cast<uint32_t>(std::numeric_limits<int32_t>::max()))));

    const std::string request = BuildHttpRequest(method, target, body);
    if (!stream.WriteAll(reinterpret_cast<const unsigned char*>(request.data()), request.size())) {
        stream.Close();
        return NoAnswer(HttpFailure::NoAnswer);
    }

    // The head byte by byte, so that not one body byte is taken with it.
    std::string head;
    while (head.size() < kMaxHttpHeadBytes && !IsCompleteHead(head)) {
        unsigned char c = 0;
        const int got = stream.Read(&c, 1);
        if (got < 1) {
            stream.Close();
            return NoAnswer(got == MBEDTLS_ERR_SSL_TIMEOUT ? HttpFailure::AnswerTimedOut : HttpFailure::NoAnswer);
        }
        head.push_back(static_cast<char>(c));
    }
    if (!IsCompleteHead(head)) {
        stream.Close();
        return NoAnswer(HttpFailure::NotHttp);
    }

    HttpResponse response;
    response.status = ParseStatusCode(head);
    if (response.status == 0) response.failure = HttpFailure::NotHttp;
    response.location = FindHeader(head, "location");
    response.contentType = FindHeader(head, "content-type");

    stream.SetDeadline(std::chrono::steady_clock::now() + kMaxBodyTime);
    HttpBodyReader reader(head);
    unsigned char block[4096];
    while (reader.WantsMore()) {
        int n = stream.Read(block, sizeof(block));
        if (n < 1) break;
        reader.Feed(block, static_cast<size_t>(n));
    }
    reader.Finish(response);
    stream.Close();
    return response;
}

HttpResponse HttpGet(const std::string& url, const char* caBundlePath, int32_t maxRedirects) {
    return FollowRedirects(url, maxRedirects, [caBundlePath](const std::string& current) {
        return HttpRequest("GET", current, std::string(), caBundlePath, 60000);
    });
}

HttpResponse HttpPostJsonAnswer(const std::string& url, const std::string& body, const char* caBundlePath,
                                HttpCancel* cancel) {
    return HttpRequest("POST", url, body, caBundlePath, 15000, cancel);
}

std::string HttpPostJson(const std::string& url, const std::string& body, const char* caBundlePath,
                         HttpCancel* cancel) {
    HttpResponse response = HttpPostJsonAnswer(url, body, caBundlePath, cancel);
    return std::string(response.body.begin(), response.body.end());
}

}  // namespace sv
