#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "session/input/injection_seams.h"
#include "session/training_agent_link.h"
#include "training/training_records.h"

namespace sv {

class LanLockout;
struct ScreenFrame;

namespace training {
class ITrainingSurface;
class IUiInspector;
class IActivitySource;
}  // namespace training

// Makers of the Windows side of training. A Host built with training enabled asks them
// for its surface and inspector; an empty maker gives none.
struct TrainingFactories {
    std::function<std::unique_ptr<training::ITrainingSurface>(const std::string& dataDir)> makeSurface;
    std::function<std::unique_ptr<training::IUiInspector>()> makeInspector;
    std::function<std::unique_ptr<training::IActivitySource>()> makeActivitySource;
    // The current foreground window, for the agent's "status" and "start" replies.
    std::function<std::optional<training::WindowInfo>()> foregroundWindow;
    // The agent itself, made whether or not training is enabled; empty: no agent.
    TrainingAgentMaker makeAgent;
};

// Usage telemetry, wired in by the entry; empty hooks record nothing.
struct UsageHooks {
    std::function<void(const std::string& action)> trackAction;
    std::function<void(const std::string& screen)> trackScreenView;
};

// Runs a command line without a window and returns its exit code (all bits set when the
// process did not start).
using HiddenCommandRunner = std::function<uint32_t(const std::wstring& commandLine)>;

// How the Host reaches the machine and the relay. Given at construction; an empty seam
// means the real one, which is how the entry builds it. Tests give fakes.
struct HostSeams {
    InjectionSeams input;
    // The relay connection and its media connection.
    std::function<bool(const uint8_t*, size_t)> sendRelayBinary;
    std::function<bool(const uint8_t*, size_t)> sendMediaBinary;
    std::function<bool(const std::string&)> sendRelayText;
    // The screen and its encoder, so the stream logic runs on synthetic frames.
    std::function<bool(ScreenFrame&)> captureScreen;
    std::function<std::pair<int32_t, int32_t>()> screenSize;
    std::function<std::vector<uint8_t>(const uint8_t*, int32_t, int32_t, uint32_t)> encodeJpegFrame;
    std::function<std::vector<uint8_t>(const uint8_t*, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, uint32_t)>
        encodeJpegRect;
};

// What the command line decides about a host before it is built.
struct HostOptions {
    std::string relayUrl;
    std::string apiBase;
    std::string dataDir;
    std::string caBundlePath;
    int32_t lanPort = 0;          // 0: host-ui.json decides; >0: forced on that port; <0: off
    int32_t trainingEnabled = 1;
    bool serviceMode = false;     // running as the Windows service (secure attention allowed)
    TrainingFactories trainingFactories;
    UsageHooks usage;
    HiddenCommandRunner commandRunner;        // empty: RunHiddenCommand
    std::shared_ptr<LanLockout> lanLockout;   // empty: the Host keeps its own table
    HostSeams seams;
};

}  // namespace sv
