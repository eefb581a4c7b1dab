#include "app/single_instance.h"

#include <windows.h>

namespace sv {

bool AnotherInstanceRuns() {
    HANDLE mutex = CreateMutexW(nullptr, FALSE, L"Global\\SorvaneHostWin7");
    DWORD error = GetLastError();
    // The handle is left open on purpose: the mutex is held until the process ends.
    if (mutex != nullptr) return error == ERROR_ALREADY_EXISTS;
    return error == ERROR_ACCESS_DENIED;  // held by an instance running as another user (the service)
}

void SignalFirstInstance() {
    UINT message = RegisterWindowMessageW(L"SorvaneHostWin7.Show");
    if (message != 0) PostMessageW(HWND_BROADCAST, message, 0, 0);
}

void ShowFirstInstanceWindow() {
    HWND window = FindWindowW(L"SorvaneHostWin7", nullptr);
    if (window == nullptr) return;
    ShowWindow(window, SW_SHOW);
    SetForegroundWindow(window);
}

}  // namespace sv
