#pragma once
// Makes the concrete training agent and hands the session the link it drives it through.
#include <functional>
#include <string>

#include "session/training_agent_link.h"

namespace sv {

// A new TrainingAgent behind the session's link; its end-locally hook is `endLocally`.
TrainingAgentLink MakeTrainingAgent(std::function<void(const std::string&)> sink,
                                    const training::TrainingHostHooks& hooks, std::function<void()> endLocally);

}  // namespace sv
