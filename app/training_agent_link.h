#pragma once
// The session's view of the concrete training agent.
#include <functional>
#include <string>

#include "session/training_agent_link.h"

namespace sv {

// A new TrainingAgent behind the session's link; its end-locally hook is `endLocally`.
TrainingAgentLink MakeTrainingAgentLink(std::function<void(const std::string&)> sink,
                                        const training::TrainingHostHooks& hooks, std::function<void()> endLocally);

}  // namespace sv
