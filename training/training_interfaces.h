#pragma once
// The three seams through which the training agent drives the Windows side.
// The slot order of each class is part of its contract with the Windows implementations.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "training/training_mode.h"
#include "training/training_records.h"

namespace sv {
namespace training {

struct TrainingSession;

class ITrainingSurface {
public:
    virtual ~ITrainingSurface() = default;
    virtual void BeginSession(const TrainingSession& session) = 0;
    virtual void EndSession(const std::string& reason) = 0;
    // mode: 0 off, 1 demo, 2 your_turn
    virtual void SetMode(TrainingMode mode, bool aiPaused) = 0;
    // index and total are absent when the step card did not give them.
    virtual void SetStep(std::optional<int32_t> index, std::optional<int32_t> total, const std::string& text) = 0;
    virtual void ShowOverlay(const OverlayShape& shape) = 0;
    // An empty id removes every shape.
    virtual void ClearOverlays(const std::string& id) = 0;
    virtual void AppendChat(const ChatMessage& message) = 0;
    // Both return within about timeoutMs (queueing included), and at once when the session
    // ends or the trainee mutes.
    virtual SpeechOutcome Speak(const SpeechRequest& request, uint32_t timeoutMs) = 0;
    virtual SpeechOutcome PlayAudio(const AudioClipRequest& request, uint32_t timeoutMs) = 0;
    virtual std::vector<VoiceInfo> ListVoices(bool refresh) = 0;
    virtual BannerState GetBannerState() = 0;
    virtual BannerPlacement SetBannerPosition(const std::string& position, std::optional<bool> compact) = 0;
    virtual bool IsMuted() = 0;
    virtual double GetVolume() = 0;

    // Text the trainee typed into the banner's chat box.
    std::function<void(const std::string&)> OnTraineeChat;
    // The banner's stop button.
    std::function<void()> OnStopRequested;
};

class IUiInspector {
public:
    virtual ~IUiInspector() = default;
    virtual void StartFocusTracking() = 0;
    virtual void StopFocusTracking() = 0;
    // The tree and an error text (empty on success).
    virtual std::pair<nlohmann::json, std::string> QueryTree(const WindowTreeQuery& query, uint32_t timeoutMs) = 0;
    virtual std::optional<UiElement> ElementAt(int32_t x, int32_t y, uint32_t timeoutMs) = 0;

    std::function<void(const UiElement&)> OnFocus;
};

class IActivitySource {
public:
    virtual ~IActivitySource() = default;
    virtual void Start() = 0;
    virtual void Stop() = 0;

    std::function<void()> OnTraineeActive;
    std::function<void(const Activity&)> OnActivity;
    std::function<void(const WindowInfo&)> OnForeground;
    std::function<void(const WindowInfo&)> OnDialog;
};

}  // namespace training
}  // namespace sv
