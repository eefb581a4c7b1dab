#pragma once
// Colour texts of overlay shapes: "#RGB", "#RRGGBB", "#AARRGGBB" or a name from a
// small table; anything else is the shape kind's default. Values are 32-bit ARGB.
#include <cstdint>
#include <string>

namespace sv {
namespace training {

constexpr uint32_t kOverlayAmber = 0xFFF59E0B;  // highlight, spotlight, arrow, text
constexpr uint32_t kOverlayRed = 0xFFEF4444;    // stroke, ellipse
constexpr uint32_t kOverlayBlue = 0xFF2563EB;   // the ghost click marker, whatever its colour

// Never throws; a text that is not wholly a colour gives `fallback`.
uint32_t ParseOverlayColor(const std::string& text, uint32_t fallback);

// The default colour of a shape kind.
uint32_t DefaultOverlayColor(const std::string& kind);

}  // namespace training
}  // namespace sv
