// Temporary definitions so the host links until the training agent lands.
#include "training/training_agent.h"

namespace sv {
namespace training {
TrainingAgent::TrainingAgent(std::function<void(const std::string&)> sink, const TrainingHostHooks& hooks)
    : sink_(std::move(sink)), hooks_(hooks) {}
TrainingAgent::~TrainingAgent() {}
void TrainingAgent::SetEndLocallyHook(std::function<void()> hook) { endLocallyHook_ = std::move(hook); }
void TrainingAgent::QueueTrainingRequest(const nlohmann::json&, const std::string&) {}
bool TrainingAgent::GateControllerInput(const std::string&, const std::string&) { return true; }
void TrainingAgent::OnControllersGone(int) {}
void TrainingAgent::Shutdown() {}
}  // namespace training
}  // namespace sv
