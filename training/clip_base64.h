#pragma once
// The lenient Base64 of audio clips that trainers send: standard alphabet, white space
// allowed anywhere, padding optional. Uploads use a strict decoder of their own.
#include <cstdint>
#include <string>
#include <vector>

namespace sv {
namespace training {

// Space, tab, CR and LF are skipped; decoding stops at the first "="; any other character
// outside the alphabet makes the whole result empty; bits left over at the end are dropped.
std::vector<uint8_t> Base64Decode(const std::string& text);

}  // namespace training
}  // namespace sv
