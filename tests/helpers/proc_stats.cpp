// Prints what a running process holds, for the soak: its private bytes, handle count
// and thread count, as the system reports them. Finds the process by executable name.
//   proc_stats.exe sorvane-host-win7.exe
//   -> pid=<n> private=<bytes> handles=<n> threads=<n>     (exit 0; 0 where unknown)
//   -> "not running"                                       (exit 1)
#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>
#include <winternl.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

// The system's process list holds the handle count and memory counters of every process,
// also where asking the process itself is not supported (Wine answers that list from its
// server and from /proc).
bool FromProcessList(DWORD pid, unsigned long long& privateBytes, unsigned long& handles) {
    using Query = NTSTATUS(WINAPI*)(SYSTEM_INFORMATION_CLASS, PVOID, ULONG, PULONG);
    Query query = reinterpret_cast<Query>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    if (!query) return false;
    std::string buffer(1 << 20, '\0');
    for (int attempt = 0; attempt < 4; ++attempt) {
        ULONG needed = 0;
        NTSTATUS status = query(SystemProcessInformation, &buffer[0], static_cast<ULONG>(buffer.size()), &needed);
        if (status >= 0) break;
        if (attempt == 3) return false;
        buffer.assign(buffer.size() * 4, '\0');
    }
    const char* at = buffer.data();
    for (;;) {
        auto* p = reinterpret_cast<const SYSTEM_PROCESS_INFORMATION*>(at);
        if (static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(p->UniqueProcessId)) == pid) {
            privateBytes = p->PrivatePageCount ? p->PrivatePageCount : p->VirtualMemoryCounters.PagefileUsage;
            handles = p->HandleCount;
            return true;
        }
        if (p->NextEntryOffset == 0) return false;
        at += p->NextEntryOffset;
    }
}

}  // namespace

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
    if (privateBytes == 0 || handles == 0) {
        unsigned long long listedPrivate = 0;
        unsigned long listedHandles = 0;
        if (FromProcessList(pid, listedPrivate, listedHandles)) {
            if (privateBytes == 0) privateBytes = listedPrivate;
            if (handles == 0) handles = listedHandles;
        }
    }
    std::printf("pid=%lu private=%llu handles=%lu threads=%u\n", static_cast<unsigned long>(pid), privateBytes,
                static_cast<unsigned long>(handles), threads);
    return 0;
}
