#include "base/wall_clock.h"

#include <windows.h>

namespace sv {

int64_t NowMilliseconds() {
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    ULARGE_INTEGER t;
    t.LowPart = ft.dwLowDateTime;
    t.HighPart = ft.dwHighDateTime;
    // 100-ns units since 1601, less the units between 1601 and 1970.
    return (static_cast<int64_t>(t.QuadPart) - 116444736000000000LL) / 10000;
}

}  // namespace sv
