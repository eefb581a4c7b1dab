#pragma once
// A Host for unit tests: its data and audit lines in a scratch folder, the real training
// agent without a surface, and a command runner that never starts netsh. And a stand-in
// for the agent, for tests of what the Host asks of it.
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/training_agent_maker.h"
#include "base/audit_log.h"
#include "session/host.h"
#include "training/training_host_hooks.h"

namespace sv_test {

inline sv::HostOptions TestHostOptions(const std::string& dataDir, bool serviceMode = false) {
    sv::HostOptions options;
    options.dataDir = dataDir;
    options.trainingEnabled = 0;
    options.serviceMode = serviceMode;
    options.commandRunner = [](const std::wstring&) { return 0u; };
    options.trainingFactories.makeAgent = sv::MakeTrainingAgent;
    return options;
}

inline std::unique_ptr<sv::Host> MakeTestHost(const std::string& dataDir, bool serviceMode = false) {
    sv::SetAuditDirectory(dataDir);
    return std::make_unique<sv::Host>(TestHostOptions(dataDir, serviceMode));
}

// Records what the Host asks of its agent ("queue <from> <op>", "gate <from> <what>",
// "gone <remaining>", "shutdown"); `freed` counts the agent's release.
class FakeAgent {
public:
    std::atomic<bool> allowInput{true};
    std::atomic<bool> shutdownResult{true};
    std::atomic<int> made{0};
    std::atomic<int> freed{0};
    sv::training::ITrainingSurface* surfaceSeen = nullptr;
    std::function<void()> endLocally;
    // What the Host gave its agent to call.
    std::function<void(const std::string&)> sink;
    sv::training::TrainingHostHooks hooks;

    sv::TrainingAgentMaker Maker() {
        return [this](std::function<void(const std::string&)> send, const sv::training::TrainingHostHooks& given,
                      std::function<void()> end) {
            ++made;
            surfaceSeen = given.surface;
            sink = send;
            hooks = given;
            endLocally = std::move(end);
            sv::TrainingAgentLink link;
            link.queueRequest = [this](const nlohmann::json& message, const std::string& from) {
                Note("queue " + from + " " + message.value("op", ""));
            };
            link.gateInput = [this](const std::string& from, const std::string& what) {
                Note("gate " + from + " " + what);
                return allowInput.load();
            };
            link.controllersGone = [this](int remaining) { Note("gone " + std::to_string(remaining)); };
            link.shutdown = [this] {
                Note("shutdown");
                return shutdownResult.load();
            };
            link.owner = sv::TrainingAgentLink::Owner(&freed, [](void* p) { ++*static_cast<std::atomic<int>*>(p); });
            return link;
        };
    }
    std::vector<std::string> Calls() {
        std::lock_guard<std::mutex> lock(mutex_);
        return calls_;
    }

private:
    void Note(const std::string& call) {
        std::lock_guard<std::mutex> lock(mutex_);
        calls_.push_back(call);
    }
    std::mutex mutex_;
    std::vector<std::string> calls_;
};

}  // namespace sv_test
