#pragma once
// The trainer's "input" request read into a plan: which kind, where, what the pointer
// injection is called with, and the words the transcript and audit log keep of it.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "training/training_records.h"

namespace sv {
namespace training {

constexpr size_t kGhostLabelCap = 60;
// The ghost outlives the preview by this much, so it is still there when the click lands.
constexpr int32_t kGhostLingerMs = 400;

struct InputRequest {
    std::string kind;  // lower-cased
    int32_t x = 0;     // capture-screen pixels
    int32_t y = 0;
    bool preview = true;  // false only when "preview" is the boolean false
    std::optional<std::string> label;
    std::optional<std::string> text;
    std::optional<std::string> key;
    std::vector<std::string> modifiers;
};

InputRequest ParseInputRequest(const nlohmann::json& args);

// "click", "double-click", "right-click" and "move".
bool IsPointerKind(const std::string& kind);
// The kinds that show the ghost pointer first: the clicks.
bool IsPreviewedKind(const std::string& kind);

// v as a fraction of extent (an extent below 1 counts as 1), clamped to 0..1.
double PointerFraction(int32_t v, int32_t extent);

// One call of the pointer injection: "move", "down" or "up", with "left", "right" or "".
struct PointerStep {
    std::string action;
    std::string button;
};
// The calls a pointer kind makes, in order; empty for other kinds.
std::vector<PointerStep> PointerSteps(const std::string& kind);

// A text is typed a piece of at most this many code points at a time, each piece in a
// pass of its own through the session: an end, a stop or the host's exit then waits for
// one piece at most. 16 code points are at most 64 key events, within one of the host's
// batches, and take a few hundredths of a second to type.
constexpr size_t kTypedPieceCodePoints = 16;
// text cut into pieces of at most `codePoints` code points each, in order; none for "".
std::vector<std::string> TextPieces(const std::string& text, size_t codePoints);

// The ghost pointer shown at the target before a click (desktop pixels).
OverlayShape GhostShape(const InputRequest& request, int32_t originX, int32_t originY, int32_t previewMs);

// "text len=N", "key ctrl+shift+s", or "<kind> x,y".
std::string InputDetail(const InputRequest& request);
// The transcript data of a performed input.
nlohmann::json InputTranscriptData(const InputRequest& request, const std::string& detail);
// The error of a pointer injection the host could not make.
std::string PointerFailure(const InputRequest& request);

}  // namespace training
}  // namespace sv
