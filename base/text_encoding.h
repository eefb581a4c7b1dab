#pragma once
// Text is UTF-8 everywhere inside the host and UTF-16 only at Windows calls.
#include <string>

namespace sv {

std::wstring Utf8ToUtf16(const std::string& text);
std::string Utf16ToUtf8(const std::wstring& text);

}  // namespace sv
