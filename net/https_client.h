#pragma once
// A small HTTP/1.1 client for "https://" URLs only, one connection per request.
// Every failure shows as status 0; nothing is thrown.
#include <cstdint>
#include <string>

#include "base/annotated_mutex.h"
#include "net/http_parsing.h"

namespace sv {

class TlsStream;

// Lets another thread end a request in progress: its socket is aborted and it returns
// the empty response at once. Once cancelled, a request started with it ends before it
// connects. Outlives every request given it.
class HttpCancel {
public:
    void Cancel();

private:
    friend class HttpCancelScope;
    Mutex mutex_;
    bool cancelled_ SV_GUARDED_BY(mutex_) = false;
    TlsStream* stream_ SV_GUARDED_BY(mutex_) = nullptr;  // the request's stream while it runs
};

// One request. The receive time-out bounds every read of the answer. `cancel` may be
// null.
HttpResponse HttpRequest(const std::string& method, const std::string& url, const std::string& body,
                         const char* caBundlePath, uint32_t timeoutMs, HttpCancel* cancel = nullptr);

// GET following at most `maxRedirects` redirects (never to "http://"), 60 s per read.
HttpResponse HttpGet(const std::string& url, const char* caBundlePath, int32_t maxRedirects);

// POST of a JSON text; the answer body whatever the status, empty when none came.
std::string HttpPostJson(const std::string& url, const std::string& body, const char* caBundlePath,
                         HttpCancel* cancel = nullptr);
// The same request, with the whole answer: when the body is empty, what came instead.
HttpResponse HttpPostJsonAnswer(const std::string& url, const std::string& body, const char* caBundlePath,
                                HttpCancel* cancel = nullptr);

}  // namespace sv
