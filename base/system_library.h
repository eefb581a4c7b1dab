#pragma once
// Windows' own DLLs loaded at run time are named by their full path in the system folder:
// a bare name is searched for in the program's folder and the current directory first,
// where anyone who can write there could have put a DLL of the same name. Only the
// KnownDLLs of Windows 7 are imported the plain way (the build checks the executable's
// import table); the rest are delay-loaded through base/delay_load_helper.cpp.
#include <string>

namespace sv {

// The system folder joined with `name`; empty when the folder cannot be read.
std::wstring SystemLibraryPath(const wchar_t* name);

// Loads a system DLL (an HMODULE; nullptr when it cannot be loaded): by its full path in
// the system folder, with the DLLs it imports looked for there first too; or, when the
// program's manifest names the library (the common controls, version 6), the copy in the
// Windows side-by-side store that the manifest resolves to, which no search reaches.
void* LoadSystemLibrary(const wchar_t* name);

// The system DLLs the program delay-loads (CMakeLists.txt makes their import libraries):
// none is a KnownDLL of Windows 7, so a plain import would be looked for beside the program.
extern const wchar_t* const kDelayLoadedLibraries[4];

// Loads each of them at start, before any other module could load one by its bare name
// (a module already loaded is what every later load of that name gets). Empty, or one
// line that names the first that could not be loaded.
std::string LoadDelayLoadedLibraries();

}  // namespace sv
