#include "session/tools/system_programs.h"

#include <windows.h>

namespace sv {

std::wstring SystemProgramPath(const std::wstring& file) {
    wchar_t dir[MAX_PATH];
    UINT n = GetSystemDirectoryW(dir, MAX_PATH);
    std::wstring base = (n == 0 || n >= MAX_PATH) ? std::wstring(L"C:\\Windows\\System32") : std::wstring(dir, n);
    return base + L"\\" + file;
}

}  // namespace sv
