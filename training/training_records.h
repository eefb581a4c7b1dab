#pragma once
// Plain records shared by the training agent and the Windows side.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

namespace sv {
namespace training {

// A screen rectangle in pixels.
struct Box {
    int32_t x = 0;
    int32_t y = 0;
    int32_t width = 0;
    int32_t height = 0;
};

inline bool operator==(const Box& a, const Box& b) {
    return a.x == b.x && a.y == b.y && a.width == b.width && a.height == b.height;
}
inline bool operator!=(const Box& a, const Box& b) { return !(a == b); }

// One top-level window.
struct WindowInfo {
    uint64_t hwnd = 0;
    std::string title;
    std::string className;
    std::string process;  // image file name without directory and ".exe"
    uint32_t processId = 0;
    Box rect;
    uint64_t owner = 0;
};

// One UI Automation element.
struct UiElement {
    std::string name;
    std::string controlType;
    std::string automationId;
    std::string className;
    Box rect;  // desktop pixels
    uint32_t processId = 0;
    bool enabled = false;
    std::optional<std::string> value;  // only for non-password edits and combo boxes
};

// One thing the trainee did with mouse or keyboard.
struct Activity {
    std::string device;  // "mouse" or "keyboard"
    std::string action;  // "click", "double-click", "right-click", "middle-click", "wheel", "typing", "key"
    std::optional<int32_t> x;
    std::optional<int32_t> y;
    std::string key;
    std::optional<int32_t> count;
};

// The outcome of one speak or play job.
struct SpeechOutcome {
    bool played = false;
    bool muted = false;
    std::string voice;
    std::string error;
    int32_t durationMs = 0;
};

// One installed speech voice.
struct VoiceInfo {
    std::string name;
    std::string culture;
    std::string engine;
};

// One line of the training chat.
struct ChatMessage {
    int64_t seq = 0;
    int64_t ts = 0;
    std::string from;  // "ai", "operator" or "trainee"
    std::string name;
    std::string text;
    bool spoken = false;
};

// One annotation that the agent validates and the surface draws and expires.
struct OverlayShape {
    std::string id;
    std::string kind;
    int32_t x = 0;
    int32_t y = 0;
    int32_t width = 0;
    int32_t height = 0;
    std::optional<int32_t> fromX;
    std::optional<int32_t> fromY;
    std::string label;
    std::string color;
    double strokeWidth = 4.0;
    std::vector<std::pair<int32_t, int32_t>> points;
    std::optional<int32_t> index;
    std::optional<int32_t> total;
    std::string detail;
    std::string position;
    int32_t ttlMs = 0;
    bool hasPoint = false;
};

// The banner's rectangle while it is shown and visible; empty otherwise.
using BannerState = std::optional<Box>;

// Where the banner went after a placement request.
struct BannerPlacement {
    Box rect;
    bool compact = false;
    std::string corner;  // empty when the trainee dragged the banner somewhere of their own
    bool visible = false;
};

// What the speak job hands to the surface.
struct SpeechRequest {
    std::string text;
    std::string voice;
    std::string culture;
    // The session that asks: the surface plays nothing for a session it no longer shows.
    // Empty: not tied to a session.
    std::string session;
};

// What the play job hands to the surface; the bytes are shared so a detached job keeps them.
struct AudioClipRequest {
    std::shared_ptr<const std::vector<uint8_t>> bytes;
    std::string extension;
    std::string session;  // as SpeechRequest::session
};

// A window-tree query for the inspector.
struct WindowTreeQuery {
    std::string window;  // empty = the foreground window
    int32_t depth = 6;
    int32_t maxNodes = 250;
    std::string nameContains;
    int32_t originX = 0;
    int32_t originY = 0;
};

// What every training operation returns.
struct TrainingOpResult {
    nlohmann::json data;  // null = none
    std::string error;
    bool failed = false;

    static TrainingOpResult Ok(nlohmann::json data = nullptr) {
        TrainingOpResult r;
        r.data = std::move(data);
        return r;
    }
    static TrainingOpResult Fail(std::string error, nlohmann::json data = nullptr) {
        TrainingOpResult r;
        r.failed = true;
        r.error = std::move(error);
        r.data = std::move(data);
        return r;
    }
};

}  // namespace training
}  // namespace sv
