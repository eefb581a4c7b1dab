#pragma once
// Windows' own DLLs loaded at run time are named by their full path in the system folder:
// a bare name is searched for in the program's folder and the current directory first,
// where anyone who can write there could have put a DLL of the same name.
#include <string>

namespace sv {

// The system folder joined with `name`; empty when the folder cannot be read.
std::wstring SystemLibraryPath(const wchar_t* name);

}  // namespace sv
