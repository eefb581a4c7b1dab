// Prints what a running process holds, for the soak: its private bytes, handle count
// and thread count, as the system reports them. Finds the process by executable name.
//   proc_stats.exe sorvane-host-win7.exe
//   -> pid=<n> private=<bytes> handles=<n> threads=<n>     (exit 0)
//   -> "not running"                                       (exit 1)
#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cwchar>
#include <string>

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    wchar_t name[MAX_PATH] = {};
    if (!MultiByteToWideChar(CP_UTF8, 0, argv[1], -1, name, MAX_PATH)) return 2;
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS | TH32CS_SNAPTHREAD, 0);
    if (snap == INVALID_HANDLE_VALUE) return 3;
    DWORD pid = 0;
    PROCESSENTRY32W pe{};
    pe.dwSize = sizeof(pe);
    for (BOOL more = Process32FirstW(snap, &pe); more; more = Process32NextW(snap, &pe)) {
        if (_wcsicmp(pe.szExeFile, name) == 0) {
            pid = pe.th32ProcessID;
            break;
        }
    }
    if (pid == 0) {
        CloseHandle(snap);
        std::printf("not running\n");
        return 1;
    }
    // Counted from the thread list, not the process entry, which may be stale.
    unsigned threads = 0;
    THREADENTRY32 te{};
    te.dwSize = sizeof(te);
    for (BOOL more = Thread32First(snap, &te); more; more = Thread32Next(snap, &te)) {
        if (te.th32OwnerProcessID == pid) ++threads;
    }
    CloseHandle(snap);
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
    if (!process) process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (!process) return 4;
    PROCESS_MEMORY_COUNTERS_EX mem{};
    mem.cb = sizeof(mem);
    unsigned long long privateBytes = 0;
    if (GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&mem), sizeof(mem))) {
        privateBytes = mem.PrivateUsage;
    }
    DWORD handles = 0;
    if (!GetProcessHandleCount(process, &handles)) handles = 0;
    CloseHandle(process);
    std::printf("pid=%lu private=%llu handles=%lu threads=%u\n", static_cast<unsigned long>(pid), privateBytes,
                static_cast<unsigned long>(handles), threads);
    return 0;
}
