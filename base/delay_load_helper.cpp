// The loader of the program's delay-loaded imports (base/system_library.h): called on the
// first call into each of them, it loads the DLL with LoadSystemLibrary, never by its bare
// name, and fills the import's slot. Linked into every program as an object of its own
// (CMakeLists.txt), so it stands in place of the runtime library's helper, which loads
// by bare name and so would look beside the program first.
#include <windows.h>
#include <delayimp.h>

#include <cstdio>
#include <string>

#include "base/system_library.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace {

// Nothing can run in place of a function that is missing: the process ends with one line
// (it cannot happen on Windows 7 SP1 or later, whose DLLs the program was built against,
// and the entry loads every one of them before anything else runs).
[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "%s; this program needs Windows 7 SP1 or later\n", what.c_str());
    std::fflush(stderr);
    TerminateProcess(GetCurrentProcess(), 1);
    for (;;) Sleep(INFINITE);
}

}  // namespace

extern "C" FARPROC WINAPI __delayLoadHelper2(PCImgDelayDescr descriptor, FARPROC* slot) {
    auto* base = reinterpret_cast<unsigned char*>(&__ImageBase);
    const char* dll = reinterpret_cast<const char*>(base + descriptor->rvaDLLName);
    if ((descriptor->grAttrs & dlattrRva) == 0) Fail(std::string("delay import of ") + dll + " in an old format");
    auto* handle = reinterpret_cast<HMODULE*>(base + descriptor->rvaHmod);
    auto module = static_cast<HMODULE>(InterlockedCompareExchangePointer(reinterpret_cast<void**>(handle), nullptr,
                                                                         nullptr));
    if (module == nullptr) {
        const std::wstring name(dll, dll + std::char_traits<char>::length(dll));  // import names are ASCII
        auto loaded = static_cast<HMODULE>(sv::LoadSystemLibrary(name.c_str()));
        if (loaded == nullptr) Fail(std::string("cannot load ") + dll + " from the Windows system folder");
        // Two threads may load it at once: the first one stored is kept, the other let go.
        module = static_cast<HMODULE>(
            InterlockedCompareExchangePointer(reinterpret_cast<void**>(handle), loaded, nullptr));
        if (module != nullptr) {
            FreeLibrary(loaded);
        } else {
            module = loaded;
        }
    }
    const auto* slots = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + descriptor->rvaIAT);
    const auto* names = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + descriptor->rvaINT);
    const IMAGE_THUNK_DATA& wanted = names[reinterpret_cast<const IMAGE_THUNK_DATA*>(slot) - slots];
    FARPROC function = nullptr;
    std::string what;
    if (IMAGE_SNAP_BY_ORDINAL(wanted.u1.Ordinal)) {
        function = GetProcAddress(module, MAKEINTRESOURCEA(IMAGE_ORDINAL(wanted.u1.Ordinal)));
        what = "ordinal " + std::to_string(IMAGE_ORDINAL(wanted.u1.Ordinal));
    } else {
        what = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + wanted.u1.AddressOfData)->Name;
        function = GetProcAddress(module, what.c_str());
    }
    if (function == nullptr) Fail(std::string(dll) + " in the Windows system folder has no " + what);
    *slot = function;
    return function;
}
