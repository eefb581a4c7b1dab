#include "training/training_json.h"

namespace sv {
namespace training {

using nlohmann::json;

json BoxJson(const Box& box, int32_t originX, int32_t originY) {
    return json::array({static_cast<int64_t>(box.x) - originX, static_cast<int64_t>(box.y) - originY, box.width,
                        box.height});
}

json WindowInfoJson(const WindowInfo& window, int32_t originX, int32_t originY) {
    json j = json::object();
    j["hwnd"] = window.hwnd;
    j["title"] = window.title;
    j["process"] = window.process;
    j["className"] = window.className;
    j["rect"] = BoxJson(window.rect, originX, originY);
    j["owned"] = window.owner != 0;
    return j;
}

json UiElementJson(const UiElement& element, int32_t originX, int32_t originY) {
    json j = json::object();
    j["name"] = element.name;
    j["controlType"] = element.controlType;
    j["automationId"] = element.automationId;
    j["className"] = element.className;
    j["rect"] = BoxJson(element.rect, originX, originY);
    j["enabled"] = element.enabled;
    if (element.value) j["value"] = *element.value;
    return j;
}

json VoiceInfoJson(const VoiceInfo& voice) {
    return json{{"name", voice.name}, {"culture", voice.culture}, {"engine", voice.engine}};
}

json SpeechOutcomeJson(const SpeechOutcome& outcome) {
    json j = json::object();
    j["played"] = outcome.played;
    j["muted"] = outcome.muted;
    j["durationMs"] = outcome.durationMs;
    if (!outcome.voice.empty()) j["voice"] = outcome.voice;
    if (!outcome.error.empty()) j["error"] = outcome.error;
    return j;
}

}  // namespace training
}  // namespace sv
