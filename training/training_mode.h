#pragma once
// The training modes and their names.
#include <cstdint>
#include <optional>
#include <string>

namespace sv {
namespace training {

// Off: no session; demo: the trainer drives and the trainee's own input pauses it;
// your_turn: the trainee drives and remote input is refused.
enum class TrainingMode : uint32_t { kOff = 0, kDemo = 1, kYourTurn = 2 };

// "off", "demo" or "your_turn"; any other value is "off".
std::string TrainingModeName(TrainingMode mode);

// Trimmed of space, tab, CR and LF and lower-cased: "demo"; "your_turn", "yourturn",
// "your-turn", "trainee" your_turn; "off"; anything else nothing.
std::optional<TrainingMode> ParseTrainingMode(const std::string& text);

}  // namespace training
}  // namespace sv
