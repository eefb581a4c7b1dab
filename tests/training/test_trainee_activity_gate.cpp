#include <gtest/gtest.h>

#include <atomic>

#include "training/trainee_activity_gate.h"

namespace {

using namespace sv::training;

struct GateFixture : ::testing::Test {
    std::atomic<int64_t> now{1700000000000};
    TraineeActivityGate gate{[this] { return now.load(); }, 2500};
};

TEST_F(GateFixture, OffAllowsEverything) {
    gate.NoteTraineeInput();
    auto d = gate.CheckControllerInput();
    EXPECT_TRUE(d.allowed);
    EXPECT_EQ(d.reason, "");
}

TEST_F(GateFixture, YourTurnRefusesEverything) {
    gate.SetMode(sv::training::TrainingMode::kYourTurn);
    auto d = gate.CheckControllerInput();
    EXPECT_FALSE(d.allowed);
    EXPECT_EQ(d.reason, "your_turn");
    now += 1000000;
    EXPECT_FALSE(gate.CheckControllerInput().allowed);
}

TEST_F(GateFixture, DemoRefusesWithinQuietMsOfTraineeInput) {
    gate.SetMode(sv::training::TrainingMode::kDemo);
    EXPECT_TRUE(gate.CheckControllerInput().allowed);  // no input yet
    gate.NoteTraineeInput();
    now += 2499;
    auto d = gate.CheckControllerInput();
    EXPECT_FALSE(d.allowed);
    EXPECT_EQ(d.reason, "trainee-active");
    EXPECT_TRUE(gate.IsTraineeActive());
    now += 1;
    EXPECT_TRUE(gate.CheckControllerInput().allowed);
    EXPECT_FALSE(gate.IsTraineeActive());
}

TEST_F(GateFixture, FirstInputPausesOnceAndQuietResumes) {
    gate.SetMode(sv::training::TrainingMode::kDemo);
    EXPECT_TRUE(gate.NoteTraineeInput());
    EXPECT_FALSE(gate.NoteTraineeInput());
    EXPECT_TRUE(gate.Paused());
    now += 2499;
    EXPECT_FALSE(gate.TryResume());
    now += 1;
    EXPECT_TRUE(gate.TryResume());
    EXPECT_FALSE(gate.Paused());
    EXPECT_FALSE(gate.TryResume());  // not paused any more
}

TEST_F(GateFixture, SettingTheModeClearsThePause) {
    gate.SetMode(sv::training::TrainingMode::kDemo);
    gate.NoteTraineeInput();
    gate.SetMode(sv::training::TrainingMode::kDemo);
    EXPECT_FALSE(gate.Paused());
    EXPECT_FALSE(gate.TryResume());
}

TEST_F(GateFixture, InputInOtherModesNeverPauses) {
    gate.SetMode(sv::training::TrainingMode::kYourTurn);
    EXPECT_FALSE(gate.NoteTraineeInput());
    gate.SetMode(sv::training::TrainingMode::kOff);
    EXPECT_FALSE(gate.NoteTraineeInput());
    EXPECT_FALSE(gate.IsTraineeActive());
}

TEST_F(GateFixture, InputSinceIsStrict) {
    int64_t t0 = now;
    EXPECT_FALSE(gate.InputSince(t0));
    gate.NoteTraineeInput();
    EXPECT_FALSE(gate.InputSince(t0));
    now += 1;
    gate.NoteTraineeInput();
    EXPECT_TRUE(gate.InputSince(t0));
    EXPECT_EQ(gate.LastTraineeInput(), t0 + 1);
}

TEST(TraineeGateClock, ExtremeClockValuesDoNotOverflow) {
    std::atomic<int64_t> now{INT64_MIN + 5};
    TraineeActivityGate gate([&] { return now.load(); }, 2500);
    gate.SetMode(sv::training::TrainingMode::kDemo);
    now = INT64_MAX;
    gate.NoteTraineeInput();
    now = INT64_MIN + 5;
    // A clock that jumped back far counts as very recent input, never as a wrapped-around gap.
    EXPECT_FALSE(gate.CheckControllerInput().allowed);
}

}  // namespace
