#pragma once
// The platform-free heart of training mode.
#include <functional>
#include <string>

#include <nlohmann/json.hpp>

#include "training/training_host_hooks.h"

namespace sv {
namespace training {

class TrainingAgent {
public:
    TrainingAgent(std::function<void(const std::string&)> sink, const TrainingHostHooks& hooks);
    ~TrainingAgent();
    TrainingAgent(const TrainingAgent&) = delete;
    TrainingAgent& operator=(const TrainingAgent&) = delete;

    void SetEndLocallyHook(std::function<void()> hook);
    void QueueTrainingRequest(const nlohmann::json& message, const std::string& controllerId);
    // False when the controller's input must be dropped (the agent reports the refusal).
    bool GateControllerInput(const std::string& controllerId, const std::string& channel);
    void OnControllersGone(int remaining);
    void Shutdown();

private:
    std::function<void()> endLocallyHook_;
    std::function<void(const std::string&)> sink_;
    TrainingHostHooks hooks_;
};

}  // namespace training
}  // namespace sv
