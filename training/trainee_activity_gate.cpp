#include "training/trainee_activity_gate.h"

#include <utility>

#include "base/elapsed_time.h"

#include "training/training_mode.h"

namespace sv {
namespace training {

TraineeActivityGate::TraineeActivityGate(std::function<int64_t()> clock, int64_t quietMs)
    : clock_(std::move(clock)), quietMs_(quietMs) {}

GateDecision TraineeActivityGate::CheckControllerInput() {
    MutexLock lock(mutex_);
    int64_t now = clock_();
    if (mode_ == TrainingMode::kOff) return {true, ""};
    if (mode_ == TrainingMode::kYourTurn) return {false, "your_turn"};
    if (lastTraineeInput_ != 0 && Elapsed(now, lastTraineeInput_) < quietMs_) return {false, "trainee-active"};
    return {true, ""};
}

bool TraineeActivityGate::NoteTraineeInput() {
    MutexLock lock(mutex_);
    lastTraineeInput_ = clock_();
    if (mode_ == TrainingMode::kDemo && !paused_) {
        paused_ = true;
        return true;
    }
    return false;
}

bool TraineeActivityGate::IsTraineeActive() {
    MutexLock lock(mutex_);
    int64_t now = clock_();
    return mode_ == TrainingMode::kDemo && lastTraineeInput_ != 0 &&
           Elapsed(now, lastTraineeInput_) < quietMs_;
}

bool TraineeActivityGate::TryResume() {
    MutexLock lock(mutex_);
    int64_t now = clock_();
    if (!paused_) return false;
    if (mode_ != TrainingMode::kDemo || lastTraineeInput_ == 0) {
        paused_ = false;
        return mode_ == TrainingMode::kDemo;
    }
    if (Elapsed(now, lastTraineeInput_) >= quietMs_) {
        paused_ = false;
        return true;
    }
    return false;
}

void TraineeActivityGate::SetMode(TrainingMode mode) {
    MutexLock lock(mutex_);
    mode_ = mode;
    paused_ = false;
}

TrainingMode TraineeActivityGate::Mode() {
    MutexLock lock(mutex_);
    return mode_;
}

bool TraineeActivityGate::InputSince(int64_t t) {
    MutexLock lock(mutex_);
    return lastTraineeInput_ > t;
}

int64_t TraineeActivityGate::LastTraineeInput() {
    MutexLock lock(mutex_);
    return lastTraineeInput_;
}

bool TraineeActivityGate::Paused() {
    MutexLock lock(mutex_);
    return paused_;
}

}  // namespace training
}  // namespace sv
