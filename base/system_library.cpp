#include "base/system_library.h"

#include <windows.h>

namespace sv {

std::wstring SystemLibraryPath(const wchar_t* name) {
    wchar_t system[MAX_PATH] = {0};
    UINT n = GetSystemDirectoryW(system, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return std::wstring();
    return std::wstring(system, n) + L"\\" + name;
}

}  // namespace sv
