#include "training/training_mode.h"

#include "base/case_fold.h"
#include "training/training_args.h"

namespace sv {
namespace training {

std::string TrainingModeName(int64_t mode) {
    if (mode == kModeDemo) return "demo";
    if (mode == kModeYourTurn) return "your_turn";
    return "off";
}

std::optional<uint32_t> ParseTrainingMode(const std::string& text) {
    std::string t = AsciiLower(TrimWhitespace(text));
    if (t == "demo") return kModeDemo;
    if (t == "your_turn" || t == "yourturn" || t == "your-turn" || t == "trainee") return kModeYourTurn;
    if (t == "off") return kModeOff;
    return std::nullopt;
}

}  // namespace training
}  // namespace sv
