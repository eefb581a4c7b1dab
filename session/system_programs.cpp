#include "session/system_programs.h"

#include <windows.h>

#include <vector>

namespace sv {

std::wstring SystemProgramPath(const std::wstring& file) {
    wchar_t dir[MAX_PATH];
    UINT n = GetSystemDirectoryW(dir, MAX_PATH);
    std::wstring base = (n == 0 || n >= MAX_PATH) ? std::wstring(L"C:\\Windows\\System32") : std::wstring(dir, n);
    return base + L"\\" + file;
}

int32_t RunSystemProgram(const std::wstring& file, const std::wstring& arguments, uint32_t timeoutMs) {
    std::wstring app = SystemProgramPath(file);
    std::wstring line = L"\"" + app + L"\"";
    if (!arguments.empty()) line += L" " + arguments;
    std::vector<wchar_t> buffer(line.begin(), line.end());
    buffer.push_back(L'\0');
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(app.c_str(), buffer.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &si,
                        &pi)) {
        return -1;
    }
    CloseHandle(pi.hThread);
    int32_t result = -1;
    if (WaitForSingleObject(pi.hProcess, timeoutMs) == WAIT_OBJECT_0) {
        DWORD code = 0;
        if (GetExitCodeProcess(pi.hProcess, &code)) result = static_cast<int32_t>(code);
    } else {
        TerminateProcess(pi.hProcess, 1);
    }
    CloseHandle(pi.hProcess);
    return result;
}

}  // namespace sv
