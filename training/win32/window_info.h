#pragma once
// Descriptions of top-level windows for the training side.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "training/training_records.h"

namespace sv {
namespace training {

// Empty when the handle is null or names no window.
std::optional<WindowInfo> DescribeWindow(uint64_t hwnd);
std::optional<WindowInfo> ForegroundWindowInfo();
// Visible titled top-level windows whose title contains the text (any letter case; an empty
// text matches every one), in enumeration order.
std::vector<WindowInfo> FindWindowByTitle(const std::string& text);
// The image name of a process without directory or ".exe"; empty when it cannot be read.
std::string GetProcessImageName(uint32_t processId);
// Case-insensitive substring test by the system's own lower-casing; false for an empty needle.
bool ContainsNoCase(const std::string& text, const std::string& needle);

}  // namespace training
}  // namespace sv
