#pragma once
// The Windows UI inspector: UI Automation trees, the element at a point and focus changes,
// each UI Automation call on a COM thread of its own.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include <nlohmann/json.hpp>

#include "training/training_interfaces.h"

namespace sv {
namespace training {

// A new inspector, not tracking focus. Its OnFocus runs on UI Automation's own threads,
// one call at a time, and must not stop the tracking it is called from.
std::unique_ptr<IUiInspector> MakeUiaInspector();

// The queries themselves, on the calling thread (which must have COM initialised).
std::pair<nlohmann::json, std::string> DumpWindowTreeJson(const WindowTreeQuery& query);
std::optional<UiElement> ElementAtScreenPoint(int32_t x, int32_t y);

}  // namespace training
}  // namespace sv
