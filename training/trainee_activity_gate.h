#pragma once
// The remote-input gate: whether a controller's input may reach the trainee's desktop.
// Refused while it is the trainee's turn, and in demo mode while the trainee touched mouse
// or keyboard within the last quietMs.
#include <cstdint>
#include <functional>
#include <string>

#include "base/annotated_mutex.h"

#include "training/training_mode.h"

namespace sv {
namespace training {

struct GateDecision {
    bool allowed = true;
    std::string reason;  // "your_turn" or "trainee-active" when refused
};

class TraineeActivityGate {
public:
    TraineeActivityGate(std::function<int64_t()> clock, int64_t quietMs);

    GateDecision CheckControllerInput();
    // Records the trainee's input; true when this input paused the AI trainer.
    bool NoteTraineeInput();
    bool IsTraineeActive();
    // True when the AI trainer may go on after a pause.
    bool TryResume();
    // Sets the mode and clears the pause.
    void SetMode(TrainingMode mode);
    TrainingMode Mode();
    // True when the trainee's last input is strictly later than t.
    bool InputSince(int64_t t);
    // Clock time of the trainee's last input, 0 = none yet.
    int64_t LastTraineeInput();
    bool Paused();

private:
    std::function<int64_t()> clock_;
    int64_t quietMs_;
    Mutex mutex_;
    TrainingMode mode_ SV_GUARDED_BY(mutex_) = TrainingMode::kOff;
    int64_t lastTraineeInput_ SV_GUARDED_BY(mutex_) = 0;
    bool paused_ SV_GUARDED_BY(mutex_) = false;
};

}  // namespace training
}  // namespace sv
