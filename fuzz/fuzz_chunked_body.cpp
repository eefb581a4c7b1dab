// A chunked body as a server sends it, held to a plain reading of the same framing.
#include <cstdint>
#include <string>
#include <vector>

#include "net/http_parsing.h"

namespace {

bool IsHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// The framing read the slow way: each size is kept as its digits and judged by how many
// there are before any arithmetic, so nothing can wrap. The size line's digits end at the
// first other byte; no digits, or only zeros, is the last chunk; the CR LF after the data
// is skipped unread.
bool ReferenceDecode(const std::string& raw, std::string& body) {
    body.clear();
    size_t pos = 0;
    for (;;) {
        if (pos + 2 > raw.size()) return false;
        const size_t lineEnd = raw.find("\r\n", pos);
        if (lineEnd == std::string::npos) return false;
        std::string digits;
        for (size_t i = pos; i < lineEnd && IsHexDigit(raw[i]); ++i) digits += raw[i];
        const size_t first = digits.find_first_not_of('0');
        if (first == std::string::npos) return true;
        digits.erase(0, first);
        // 2^60 and more: larger than anything a fuzzer hands over.
        if (digits.size() > 15) return false;
        const size_t size = std::stoull(digits, nullptr, 16);
        const size_t dataStart = lineEnd + 2;
        if (size > raw.size() - dataStart) return false;
        body.append(raw, dataStart, size);
        pos = dataStart + size + 2;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> raw(data, data + size);
    std::vector<uint8_t> body;
    const bool whole = sv::DecodeChunkedBody(raw, body);
    std::string expected;
    const bool expectedWhole = ReferenceDecode(std::string(raw.begin(), raw.end()), expected);
    if (whole != expectedWhole || std::string(body.begin(), body.end()) != expected) __builtin_trap();
    return 0;
}
