#pragma once
// Reading UTF-8 as it arrives from peers, where any byte may be wrong. Pure: no I/O.
#include <cstddef>
#include <string>

namespace sv {

// The length of the well-formed UTF-8 sequence that starts at byte `i` of `text`, or 0
// when none starts there: no overlong forms, no surrogates, nothing above U+10FFFF, no
// sequence cut off by the end of the text.
size_t Utf8SequenceLength(const std::string& text, size_t i);

}  // namespace sv
