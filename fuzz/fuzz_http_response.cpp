// An HTTPS server's answer: the head (status, headers), the body read through the body
// reader in pieces, the chunked decoding, and redirects that follow the answer's Location.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>
#include <vector>

#include "net/http_parsing.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    std::string head = in.ConsumeRandomLengthString(4096);
    sv::ParseStatusCode(head);
    sv::IsCompleteHead(head);
    sv::FindHeader(head, "location");
    sv::FindHeader(head, "transfer-encoding");
    sv::FindHeader(head, "content-length");
    // A small limit reaches the oversize paths without large inputs.
    sv::HttpBodyReader reader(head, in.ConsumeBool() ? 64 : sv::kMaxHttpBodyBytes);
    while (reader.WantsMore() && in.remaining_bytes() > 0) {
        std::vector<uint8_t> piece = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(1, 64));
        reader.Feed(piece.data(), piece.size());
    }
    sv::HttpResponse response;
    reader.Finish(response);
    if (response.status != 0 && response.body.size() > sv::kMaxHttpBodyBytes) __builtin_trap();

    std::vector<uint8_t> raw = in.ConsumeBytes<uint8_t>(in.remaining_bytes() / 2);
    std::vector<uint8_t> body;
    sv::DecodeChunkedBody(raw, body);

    // Each fetch answers with the next head from the input.
    std::string rest = in.ConsumeRemainingBytesAsString();
    size_t at = 0;
    int fetches = 0;
    sv::FollowRedirects("https://update.invalid/a/b?c", 5, [&](const std::string& url) {
        ++fetches;
        sv::HttpsUrl parts;
        if (!sv::SplitHttpsUrl(url, parts)) __builtin_trap();  // only https URLs are fetched
        sv::HttpResponse r;
        size_t end = rest.find('\0', at);
        std::string h = rest.substr(at, end == std::string::npos ? std::string::npos : end - at);
        at = end == std::string::npos ? rest.size() : end + 1;
        r.status = sv::ParseStatusCode(h);
        r.location = sv::FindHeader(h, "location");
        return r;
    });
    if (fetches > 6) __builtin_trap();
    return 0;
}
