#pragma once
// The Windows INPUT records for the controller's pointer, key and text input.
// Pure construction: nothing here sends, so every record can be checked in tests.
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sv {

// MOUSEEVENTF_MOVE | MOUSEEVENTF_VIRTUALDESK | MOUSEEVENTF_ABSOLUTE: every pointer event
// carries the point it happens at, over all monitors.
constexpr uint32_t kPointerMoveFlags = 0xC001;

// The most text one request may type, in UTF-8 bytes. Typing goes at the pace the desktop
// takes events, on the thread that received the request; a longer text is refused whole,
// since typing only its start would type something else. Long text goes by clipboard.
constexpr size_t kTypedTextCapBytes = 16384;

// Text is sent in batches of at most this many events (two per UTF-16 unit), so that a
// long paste never needs one unbounded array.
constexpr size_t kTextBatchEvents = 256;

// The button flag for a "down" or "up" of "left" or "right"; 0 for anything else.
uint32_t MouseButtonFlags(const std::string& kind, const std::string& button);

// A named key ("enter", "f5", a letter or a digit) as a virtual key; 0 when unknown.
uint16_t KeyNameToVirtualKey(const std::string& name);

// "ctrl"/"control", "shift", "alt", "win"/"meta" as a virtual key; 0 when not a modifier.
uint16_t ModifierToVirtualKey(const std::string& name);

// Fractions of the screen (0 = left/top, 1 = right/bottom) to absolute coordinates
// 0..65535. False for a screen without pixels.
bool PointerToAbsolute(double x, double y, int32_t screenWidth, int32_t screenHeight, int32_t& dx, int32_t& dy);

// One mouse event at the given point with the button flag of kind and button.
bool BuildPointerInput(const std::string& kind, double x, double y, const std::string& button,
                       int32_t screenWidth, int32_t screenHeight, INPUT& out);

// Modifier downs in order, the key's down and up, modifier ups in reverse order.
// False (and nothing appended) for an unknown key name.
bool BuildKeyInputs(const std::string& key, const std::vector<std::string>& modifiers, std::vector<INPUT>& out);

// Appends the events of text's UTF-16 units from `start` on, stopping before the unit that
// would take `out` past `maxEvents` events in all; returns the index of the first unit not
// yet turned into events (text.size() when done). Line feed becomes Enter, carriage
// return is skipped, every other unit is a Unicode key down and up.
size_t AppendTextInputs(const std::wstring& text, size_t start, size_t maxEvents, std::vector<INPUT>& out);

}  // namespace sv
