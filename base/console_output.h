#pragma once
// Every line the program shows a person goes out here. A console gets the text as
// UTF-16 through WriteConsoleW, so a path or name outside the ANSI code page reads as
// written; a file or pipe gets the UTF-8 bytes unchanged.
#include <cstdio>
#include <string>

namespace sv {

// Writes UTF-8 `text` to `stream` (stdout, stderr or any other stream) and flushes it.
// Calls from several threads never interleave within one text.
void PrintText(std::FILE* stream, const std::string& text);

}  // namespace sv
