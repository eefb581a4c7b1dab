#pragma once
// A small HTTP/1.1 client for "https://" URLs only, one connection per request.
// Every failure shows as status 0; nothing is thrown.
#include <cstdint>
#include <string>

#include "net/http_parsing.h"

namespace sv {

// One request. The receive time-out bounds every read of the answer.
HttpResponse HttpRequest(const std::string& method, const std::string& url, const std::string& body,
                         const char* caBundlePath, uint32_t timeoutMs);

// GET following at most `maxRedirects` redirects (never to "http://"), 60 s per read.
HttpResponse HttpGet(const std::string& url, const char* caBundlePath, int32_t maxRedirects);

// POST of a JSON text; the answer body whatever the status, empty when none came.
std::string HttpPostJson(const std::string& url, const std::string& body, const char* caBundlePath);

}  // namespace sv
