#pragma once
// Descriptions of top-level windows for the training side.
#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "training/training_records.h"

namespace sv {
namespace training {

// The records' 64-bit window handles and the system's.
inline HWND ToHwnd(uint64_t value) { return reinterpret_cast<HWND>(static_cast<uintptr_t>(value)); }
inline uint64_t FromHwnd(HWND hwnd) { return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(hwnd)); }

// Empty when the handle is null or names no window.
std::optional<WindowInfo> DescribeWindow(uint64_t hwnd);
std::optional<WindowInfo> ForegroundWindowInfo();
// Visible titled top-level windows whose title contains the text (any letter case; an empty
// text matches every one), in enumeration order.
std::vector<WindowInfo> FindWindowByTitle(const std::string& text);
// A window's class name (at most 256 characters); empty when it cannot be read.
std::string GetWindowClassName(uint64_t hwnd);
// The image name of a process without directory or ".exe"; empty when it cannot be read.
std::string GetProcessImageName(uint32_t processId);
// Case-insensitive substring test by the system's own lower-casing; false for an empty needle.
bool ContainsNoCase(const std::string& text, const std::string& needle);

}  // namespace training
}  // namespace sv
