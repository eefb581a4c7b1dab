#include "base/wall_clock.h"

#include <windows.h>

#include <ctime>

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

std::string LocalClockAt(std::time_t when) {
    std::tm local{};
    if (localtime_s(&local, &when) != 0) return std::string();
    char text[16];
    if (std::strftime(text, sizeof(text), "%H:%M:%S", &local) == 0) return std::string();
    return text;
}

}  // namespace sv
