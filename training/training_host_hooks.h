#pragma once
// The callbacks through which the training agent reaches the host.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "training/training_records.h"

namespace sv {
namespace training {

class ITrainingSurface;
class IUiInspector;
class IActivitySource;

// How long the agent waits for what may never return (a hung window, speech engine or
// voice list). Past a bound it goes on without the call, which is reported and left to
// finish on its own; tests shorten them.
struct TrainingBounds {
    // An end waits this long for the calls still inside its session, and the teardown as
    // long for the surface's callbacks still inside the agent.
    int64_t endGateMs = 5000;
    // An op that arrives while its session's banner is still coming up waits this long
    // before it is refused; a start waits as long for an earlier start or end to finish.
    int64_t beginWaitMs = 5000;
    // The teardown waits this long for the agent's threads, then audits the wait and
    // waits up to shutdownFinalMs more; past that the owner must keep the agent.
    int64_t shutdownGraceMs = 3000;
    int64_t shutdownFinalMs = 60000;
};

struct TrainingHostHooks {
    ITrainingSurface* surface = nullptr;
    IUiInspector* inspector = nullptr;
    std::function<std::unique_ptr<IActivitySource>()> makeActivitySource;
    std::function<bool(const std::string& kind, double x, double y, const std::string& button)> pointerInput;
    std::function<bool(const std::string& text)> typeText;
    // The longest text the host types for one request, in UTF-8 bytes; 0: no limit. A
    // longer one is refused whole: typing only its start would type something else.
    size_t typedTextCapBytes = 0;
    std::function<bool(const std::string& key, const std::vector<std::string>& modifiers)> pressKey;
    std::function<std::pair<int, int>()> screenSize;
    std::function<std::pair<int, int>()> screenOrigin;
    std::function<std::optional<WindowInfo>()> foregroundWindow;
    std::string transcriptDirectory;
    // Milliseconds since 1970: only for the times that are reported or stored.
    std::function<int64_t()> clock;
    // Milliseconds of a clock that never steps, for every interval; empty: the process's
    // steady clock.
    std::function<int64_t()> steadyMs;
    int64_t quietMs = 2500;
    int32_t previewMs = 700;
    int64_t restartHoldOffMs = 600000;
    std::string hostVersion;
    bool quietWatch = true;
    TrainingBounds bounds;
    // Usage telemetry; empty until the host wires its telemetry client in.
    std::function<void(const std::string& action)> trackAction;
    std::function<void(const std::string& screen)> trackScreenView;
};

}  // namespace training
}  // namespace sv
