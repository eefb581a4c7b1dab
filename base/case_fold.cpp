#include "base/case_fold.h"

namespace sv {

std::string AsciiLower(std::string text) {
    for (char& c : text) c = AsciiLowerChar(c);
    return text;
}

}  // namespace sv
