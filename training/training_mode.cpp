#include "training/training_mode.h"

#include "base/case_fold.h"
#include "training/training_args.h"

namespace sv {
namespace training {

std::string TrainingModeName(TrainingMode mode) {
    if (mode == TrainingMode::kDemo) return "demo";
    if (mode == TrainingMode::kYourTurn) return "your_turn";
    return "off";
}

std::optional<TrainingMode> ParseTrainingMode(const std::string& text) {
    std::string t = AsciiLower(TrimWhitespace(text));
    if (t == "demo") return TrainingMode::kDemo;
    if (t == "your_turn" || t == "yourturn" || t == "your-turn" || t == "trainee") return TrainingMode::kYourTurn;
    if (t == "off") return TrainingMode::kOff;
    return std::nullopt;
}

}  // namespace training
}  // namespace sv
