#include "app/training_agent_maker.h"

#include <memory>
#include <utility>

#include "training/training_agent.h"

namespace sv {

TrainingAgentLink MakeTrainingAgent(std::function<void(const std::string&)> sink,
                                    const training::TrainingHostHooks& hooks, std::function<void()> endLocally) {
    auto agent = std::make_unique<training::TrainingAgent>(std::move(sink), hooks);
    agent->SetEndLocallyHook(std::move(endLocally));
    training::TrainingAgent* a = agent.get();
    TrainingAgentLink link;
    link.queueRequest = [a](const nlohmann::json& message, const std::string& controllerId) {
        a->QueueTrainingRequest(message, controllerId);
    };
    link.gateInput = [a](const std::string& controllerId, const std::string& what) {
        return a->GateControllerInput(controllerId, what);
    };
    link.controllersGone = [a](int remaining) { a->OnControllersGone(remaining); };
    link.hostStopping = [a] { a->BeginShutdown(); };
    link.shutdown = [a] { return a->Shutdown(); };
    link.owner = TrainingAgentLink::Owner(agent.release(),
                                          [](void* p) { delete static_cast<training::TrainingAgent*>(p); });
    return link;
}

}  // namespace sv
