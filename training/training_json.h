#pragma once
// The JSON forms of the shared records. Everything the training agent writes (replies,
// events, transcript lines) becomes text through SerializeJson, included here.
#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include "base/json_text.h"
#include "training/training_records.h"

namespace sv {
namespace training {

// A desktop rectangle as [x - originX, y - originY, width, height] (capture-screen pixels);
// the subtraction is done in 64 bits.
nlohmann::json BoxJson(const Box& box, int32_t originX, int32_t originY);

// {"hwnd", "title", "process", "className", "rect", "owned"}
nlohmann::json WindowInfoJson(const WindowInfo& window, int32_t originX, int32_t originY);

// {"name", "controlType", "automationId", "className", "rect", "enabled"} plus "value" when read.
nlohmann::json UiElementJson(const UiElement& element, int32_t originX, int32_t originY);

// {"name", "culture", "engine"}
nlohmann::json VoiceInfoJson(const VoiceInfo& voice);

// {"played", "muted", "durationMs"} plus "voice" and "error" when not empty.
nlohmann::json SpeechOutcomeJson(const SpeechOutcome& outcome);

}  // namespace training
}  // namespace sv
