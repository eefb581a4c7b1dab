// A chunked body as a server sends it.
#include <cstdint>
#include <vector>

#include "net/http_parsing.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> raw(data, data + size);
    std::vector<uint8_t> body;
    sv::DecodeChunkedBody(raw, body);
    if (body.size() > raw.size()) __builtin_trap();  // decoding never grows the bytes
    return 0;
}
