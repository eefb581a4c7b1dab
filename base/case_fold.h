#pragma once
// ASCII case folding for protocol words (header names, key names, modes). Bytes
// outside A-Z, UTF-8 sequences included, pass through unchanged.
#include <string>

namespace sv {

inline char AsciiLowerChar(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string AsciiLower(std::string text);

}  // namespace sv
