// Ends the session for one program as Windows does at a sign-out or shutdown: every
// top-level window of the process that owns a window of <class> is asked
// WM_QUERYENDSESSION, then told WM_ENDSESSION, and once they have all returned the process
// is ended, whatever it was doing.
//   end_session.exe <class> <logoff 0|1>  -> "ended", or "none"
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "base/text_encoding.h"

namespace {

struct Windows {
    DWORD process = 0;
    std::vector<HWND> found;
};

BOOL CALLBACK Collect(HWND hwnd, LPARAM param) {
    auto* windows = reinterpret_cast<Windows*>(param);
    DWORD process = 0;
    GetWindowThreadProcessId(hwnd, &process);
    if (process == windows->process) windows->found.push_back(hwnd);
    return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    HWND anchor = FindWindowW(sv::Utf8ToUtf16(argv[1]).c_str(), nullptr);
    Windows windows;
    if (anchor == nullptr || GetWindowThreadProcessId(anchor, &windows.process) == 0) {
        std::printf("none\n");
        return 1;
    }
    EnumWindows(Collect, reinterpret_cast<LPARAM>(&windows));
    const LPARAM flags = std::atoi(argv[2]) != 0 ? static_cast<LPARAM>(ENDSESSION_LOGOFF) : 0;
    const UINT kBound = 60000;  // far beyond the few seconds Windows allows: a hang shows as one
    DWORD_PTR answer = 0;
    for (HWND hwnd : windows.found) SendMessageTimeoutW(hwnd, WM_QUERYENDSESSION, 0, flags, SMTO_NORMAL, kBound, &answer);
    for (HWND hwnd : windows.found) SendMessageTimeoutW(hwnd, WM_ENDSESSION, TRUE, flags, SMTO_NORMAL, kBound, &answer);
    HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, windows.process);
    if (process != nullptr) {
        TerminateProcess(process, 1);
        CloseHandle(process);
    }
    std::printf("ended\n");
    return 0;
}
