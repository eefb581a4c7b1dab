#pragma once
// The training modes and their names: 0 off, 1 demo, 2 your_turn.
#include <cstdint>
#include <optional>
#include <string>

namespace sv {
namespace training {

constexpr uint32_t kModeOff = 0;
constexpr uint32_t kModeDemo = 1;
constexpr uint32_t kModeYourTurn = 2;

// "off", "demo" or "your_turn"; any other value is "off".
std::string TrainingModeName(int64_t mode);

// Trimmed of space, tab, CR and LF and lower-cased: "demo" 1; "your_turn", "yourturn",
// "your-turn", "trainee" 2; "off" 0; anything else nothing.
std::optional<uint32_t> ParseTrainingMode(const std::string& text);

}  // namespace training
}  // namespace sv
