#include "net/http_parsing.h"

#include <algorithm>
#include <limits>

#include "base/case_fold.h"

namespace sv {
namespace {

bool StartsWith(const std::string& text, const char* prefix) {
    return text.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
}

int HexValue(uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// A whole decimal number of at most `max`, with blanks around it allowed; false otherwise.
bool ParseDecimal(const std::string& text, uint64_t max, uint64_t& out) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    size_t digits = 0;
    uint64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++digits) {
        value = value * 10 + static_cast<uint64_t>(text[i] - '0');
        if (value > max) return false;
    }
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    if (digits == 0 || i != text.size()) return false;
    out = value;
    return true;
}

}  // namespace

bool SplitHttpsUrl(const std::string& url, HttpsUrl& out) {
    if (!StartsWith(url, "https://")) return false;
    for (char c : url) {
        unsigned char u = static_cast<unsigned char>(c);
        if (u <= 0x20 || u == 0x7f) return false;
    }
    std::string rest = url.substr(8);
    size_t slash = rest.find('/');
    std::string authority = rest.substr(0, slash);
    HttpsUrl result;
    result.path = slash == std::string::npos ? "/" : rest.substr(slash);
    size_t colon = authority.rfind(':');
    if (colon == std::string::npos) {
        result.host = authority;
        result.port = 443;
    } else {
        result.host = authority.substr(0, colon);
        std::string portText = authority.substr(colon + 1);
        uint64_t port = 0;
        if (portText.empty() || portText.find_first_not_of("0123456789") != std::string::npos ||
            !ParseDecimal(portText, 65535, port) || port == 0) {
            return false;
        }
        result.port = static_cast<uint16_t>(port);
    }
    if (result.host.empty()) return false;
    out = std::move(result);
    return true;
}

std::string BuildHttpRequest(const std::string& method, const HttpsUrl& url, const std::string& body) {
    std::string request;
    request.reserve(256 + body.size());
    request += method + " " + url.path + " HTTP/1.1\r\n";
    request += "Host: " + url.host;
    if (url.port != 443) request += ":" + std::to_string(url.port);
    request += "\r\n";
    request += "User-Agent: sorvane-host-win7\r\n";
    request += "Accept: */*\r\n";
    if (!body.empty()) request += "Content-Type: application/json\r\n";
    request += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    request += "Connection: close\r\n";
    request += "\r\n";
    request += body;
    return request;
}

std::string FindHeader(const std::string& head, const std::string& lowerName) {
    if (lowerName.empty()) return std::string();
    // Header lines start after a CR LF; the status line never names a header.
    size_t lineStart = head.find("\r\n");
    while (lineStart != std::string::npos) {
        lineStart += 2;
        if (lineStart >= head.size()) break;
        size_t lineEnd = head.find("\r\n", lineStart);
        size_t end = lineEnd == std::string::npos ? head.size() : lineEnd;
        size_t nameEnd = lineStart + lowerName.size();
        if (nameEnd < end && head[nameEnd] == ':') {
            bool same = true;
            for (size_t i = 0; i < lowerName.size(); ++i) {
                if (AsciiLowerChar(head[lineStart + i]) != lowerName[i]) {
                    same = false;
                    break;
                }
            }
            if (same) {
                size_t v = nameEnd + 1;
                while (v < end && (head[v] == ' ' || head[v] == '\t')) ++v;
                return head.substr(v, end - v);
            }
        }
        lineStart = lineEnd;
    }
    return std::string();
}

int32_t ParseStatusCode(const std::string& head) {
    // "HTTP/1.1 " is nine bytes; the code follows it.
    if (head.size() < 10) return 0;
    int32_t status = 0;
    size_t digits = 0;
    for (size_t i = 9; i < head.size() && head[i] >= '0' && head[i] <= '9'; ++i, ++digits) {
        status = status * 10 + (head[i] - '0');
        if (status > 999) return 0;  // status codes have three digits
    }
    return digits == 0 ? 0 : status;
}

bool IsCompleteHead(const std::string& head) {
    return head.size() >= 4 && head.compare(head.size() - 4, 4, "\r\n\r\n") == 0;
}

bool DecodeChunkedBody(const std::vector<uint8_t>& raw, std::vector<uint8_t>& body) {
    body.clear();
    size_t pos = 0;
    for (;;) {
        if (pos > raw.size() || raw.size() - pos < 2) return false;
        size_t lineEnd = pos;
        while (lineEnd + 1 < raw.size() && !(raw[lineEnd] == '\r' && raw[lineEnd + 1] == '\n')) ++lineEnd;
        if (lineEnd + 1 >= raw.size()) return false;
        // Extensions after ';' end the hex digits; an empty size line counts as the last chunk.
        size_t size = 0;
        for (size_t i = pos; i < lineEnd; ++i) {
            int v = HexValue(raw[i]);
            if (v < 0) break;
            if (size > (raw.size() >> 4)) return false;  // already larger than anything received
            size = size * 16 + static_cast<size_t>(v);
        }
        if (size == 0) return true;
        size_t dataStart = lineEnd + 2;
        if (size > raw.size() - dataStart) return false;
        body.insert(body.end(), raw.begin() + static_cast<std::ptrdiff_t>(dataStart),
                    raw.begin() + static_cast<std::ptrdiff_t>(dataStart + size));
        pos = dataStart + size + 2;  // the CR LF after the data is skipped unread
    }
}

std::string ResolveLocation(const std::string& current, const std::string& location) {
    if (StartsWith(location, "https://")) return location;
    if (StartsWith(location, "http://")) return std::string();  // never downgrade from TLS
    size_t slash = current.size() > 8 ? current.find('/', 8) : std::string::npos;
    std::string origin = slash == std::string::npos ? current : current.substr(0, slash);
    if (StartsWith(location, "//")) return "https:" + location;
    if (!location.empty() && location[0] == '/') return origin + location;
    std::string directory = slash == std::string::npos ? "/" : current.substr(slash);
    size_t query = directory.find('?');
    if (query != std::string::npos) directory.resize(query);
    directory.resize(directory.rfind('/') + 1);
    return origin + directory + location;
}

HttpBodyReader::HttpBodyReader(const std::string& head, size_t limit) : limit_(limit) {
    if (AsciiLower(FindHeader(head, "transfer-encoding")).find("chunked") != std::string::npos) {
        framing_ = Framing::Chunked;
        return;
    }
    std::string length = FindHeader(head, "content-length");
    if (!length.empty()) {
        framing_ = Framing::Sized;
        uint64_t value = 0;
        if (!ParseDecimal(length, std::numeric_limits<uint32_t>::max(), value) || value > limit_) {
            // Digits alone are a size too large to take; anything else is no HTTP length.
            const bool digits = length.find_first_not_of("0123456789 \t") == std::string::npos;
            refused_ = digits ? HttpFailure::TooLarge : HttpFailure::NotHttp;
        } else {
            expected_ = static_cast<size_t>(value);
        }
        return;
    }
    framing_ = Framing::ToClose;
}

bool HttpBodyReader::WantsMore() const {
    if (refused_ != HttpFailure::None) return false;
    return framing_ != Framing::Sized || raw_.size() < expected_;
}

void HttpBodyReader::Feed(const uint8_t* data, size_t n) {
    if (refused_ != HttpFailure::None || n == 0) return;
    if (framing_ == Framing::Sized) {
        size_t take = std::min(n, expected_ - raw_.size());
        raw_.insert(raw_.end(), data, data + take);
        return;
    }
    if (n > limit_ - raw_.size()) {
        refused_ = HttpFailure::TooLarge;
        std::vector<uint8_t>().swap(raw_);
        return;
    }
    raw_.insert(raw_.end(), data, data + n);
}

void HttpBodyReader::Finish(HttpResponse& response) {
    if (refused_ != HttpFailure::None) {
        response.status = 0;
        response.failure = refused_;
        response.body.clear();
        return;
    }
    switch (framing_) {
    case Framing::Chunked: {
        std::vector<uint8_t> decoded;
        if (!DecodeChunkedBody(raw_, decoded)) {
            response.status = 0;
            response.failure = HttpFailure::CutShort;
        }
        response.body = std::move(decoded);
        break;
    }
    case Framing::Sized:
        if (raw_.size() < expected_) {
            response.status = 0;
            response.failure = HttpFailure::CutShort;
        }
        response.body = std::move(raw_);
        break;
    case Framing::ToClose:
        response.body = std::move(raw_);
        break;
    }
    raw_.clear();
}

HttpResponse NoAnswer(HttpFailure why, ConnectFailure connectFailure) {
    HttpResponse none;
    none.failure = why;
    none.connectFailure = connectFailure;
    return none;
}

HttpResponse FollowRedirects(const std::string& url, int32_t maxRedirects,
                             const std::function<HttpResponse(const std::string&)>& fetch) {
    if (maxRedirects < 0) return NoAnswer(HttpFailure::TooManyRedirects);
    std::string current = url;
    for (int32_t redirects = 0;;) {
        HttpResponse response = fetch(current);
        if (response.status < 300 || response.status > 399 || response.location.empty()) return response;
        current = ResolveLocation(current, response.location);
        // A location that resolves to no https URL we could ask for (a downgrade, a space
        // or control byte that would end up in the request line) ends the chase here.
        HttpsUrl next;
        if (current.empty() || !SplitHttpsUrl(current, next)) return NoAnswer(HttpFailure::RedirectAway);
        if (++redirects > maxRedirects) return NoAnswer(HttpFailure::TooManyRedirects);
    }
}

}  // namespace sv
