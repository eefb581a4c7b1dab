// The native build's strong random source (the product's draws from BCryptGenRandom).
#include <sys/random.h>

#include <cerrno>

#include "base/system_random.h"

namespace sv {

bool SystemRandomFill(uint8_t* out, size_t n) {
    while (n > 0) {
        ssize_t got = getrandom(out, n, 0);
        if (got < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        out += got;
        n -= static_cast<size_t>(got);
    }
    return true;
}

const RandomFill& SystemRandom() {
    static const RandomFill fill = [](uint8_t* out, size_t n) { return SystemRandomFill(out, n); };
    return fill;
}

}  // namespace sv
