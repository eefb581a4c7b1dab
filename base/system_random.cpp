#include "base/system_random.h"

#include <windows.h>
#include <bcrypt.h>

#include <climits>

namespace sv {

bool SystemRandomFill(uint8_t* out, size_t n) {
    while (n > 0) {
        ULONG chunk = n > ULONG_MAX ? ULONG_MAX : static_cast<ULONG>(n);
        NTSTATUS status = BCryptGenRandom(nullptr, out, chunk, BCRYPT_USE_SYSTEM_PREFERRED_RNG);
        if (status < 0) return false;
        out += chunk;
        n -= chunk;
    }
    return true;
}

const RandomFill& SystemRandom() {
    static const RandomFill fill = [](uint8_t* out, size_t n) { return SystemRandomFill(out, n); };
    return fill;
}

}  // namespace sv
