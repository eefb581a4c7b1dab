#pragma once
// What the UI reading operations ask of the inspector: the window-tree query with its
// bounds, the desktop point under a capture-screen point, and the names of control types.
#include <cstdint>
#include <string>
#include <utility>

#include <nlohmann/json.hpp>

#include "training/training_records.h"

namespace sv {
namespace training {

constexpr int32_t kTreeDepthDefault = 6;
constexpr int32_t kTreeDepthMin = 1;
constexpr int32_t kTreeDepthMax = 15;
constexpr int32_t kTreeNodesDefault = 250;
constexpr int32_t kTreeNodesMin = 10;
constexpr int32_t kTreeNodesMax = 1000;

// The query of a "ui-tree" request: "window", "depth", "maxNodes", "nameContains", with
// depth and node count defaulted and clamped, and the virtual-screen origin so the
// inspector can report capture-screen rectangles.
WindowTreeQuery BuildTreeQuery(const nlohmann::json& args, int32_t originX, int32_t originY);

// "ui-tree window=<window or foreground> depth=<depth>"
std::string TreeAuditDetail(const WindowTreeQuery& query);

// The desktop point of an "element-at" request: "x" and "y" (capture-screen pixels,
// rounded, 0 when absent) plus the origin, saturated to 32 bits.
std::pair<int32_t, int32_t> DesktopPointOf(const nlohmann::json& args, int32_t originX, int32_t originY);

// The UI Automation control type identifier as a name; unknown identifiers are "Custom".
std::string ControlTypeName(int32_t id);

}  // namespace training
}  // namespace sv
