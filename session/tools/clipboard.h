#pragma once
// Text from a controller onto the Windows clipboard.
#include <cstddef>
#include <string>

namespace sv {

constexpr size_t kClipboardCapBytes = 1000000;

// Puts `text` (UTF-8) on the clipboard as Unicode text, replacing what was there. An empty
// text leaves an empty Unicode text. False when the clipboard could not be opened or the
// text not stored.
bool SetClipboardFromUtf8(const std::string& text);

// Reads the clipboard's Unicode text as UTF-8; false when there is none.
bool GetClipboardUtf8(std::string& text);

}  // namespace sv
