#pragma once
// The session's narrow view of the training agent: what the Host asks of it and nothing
// more. The entry fills it from the concrete agent; tests fill it with fakes.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include <nlohmann/json.hpp>

namespace sv {

namespace training {
struct TrainingHostHooks;
}  // namespace training

struct TrainingAgentLink {
    // Owns the agent; the function objects below borrow it.
    using Owner = std::unique_ptr<void, void (*)(void*)>;

    // A "training-request" from a controller.
    std::function<void(const nlohmann::json& message, const std::string& controllerId)> queueRequest;
    // False when the controller's input ("mouse" or "keyboard") must be dropped; the
    // agent reports the refusal itself.
    std::function<bool(const std::string& controllerId, const std::string& what)> gateInput;
    // Controllers left; `remaining` is how many are still there.
    std::function<void(int remaining)> controllersGone;
    // The host is stopping and its connections still carry what is sent: a live session
    // ends now ("host shutting down") and nothing new starts. Returns once it has ended.
    std::function<void()> hostStopping;
    // Ends the session and waits, bounded, for the agent's threads. False when some still
    // run: the agent, the surface and the inspector must then stay alive for the rest of the
    // process; what the agent calls in the Host passes a door the Host shuts before it goes.
    std::function<bool()> shutdown;
    Owner owner{nullptr, [](void*) {}};
};

// Makes the agent. It sends through `sink`, reaches the host through `hooks`, and calls
// `endLocally` when the person at the machine ends the session.
using TrainingAgentMaker = std::function<TrainingAgentLink(std::function<void(const std::string&)> sink,
                                                           const training::TrainingHostHooks& hooks,
                                                           std::function<void()> endLocally)>;

}  // namespace sv
