#pragma once
// The "overlay" op's argument rules: which shapes are valid, how every number is read and
// clamped, and how capture-screen pixels become desktop pixels. Every coordinate is summed
// with the screen origin in 64 bits and saturated, so no number a trainer sends overflows.
#include <cstdint>
#include <functional>
#include <string>

#include <nlohmann/json.hpp>

#include "training/training_records.h"

namespace sv {
namespace training {

constexpr size_t kMaxStrokePoints = 2000;
constexpr int32_t kMaxOverlayTtlMs = 3600000;

// A capture-screen coordinate plus the virtual-screen origin, saturated to 32 bits.
int32_t ToDesktop(int64_t capture, int32_t origin);

// "ttlMs" (rounded) when a number, else "ttlSeconds" x 1000 when a number, else 0; the
// seconds are multiplied before rounding, so 0.4 s lives 400 ms rather than for ever.
// Clamped to 0..kMaxOverlayTtlMs.
int32_t OverlayTtlMs(const nlohmann::json& args);

// A validated overlay request, or the sentence that refuses it.
struct OverlayRequest {
    std::string error;  // empty when valid
    OverlayShape shape;
    bool isStep = false;
    std::string stepTitle;
    // What the transcript records: kind "overlay" with {"kind","id","width","height"} plus
    // the request's own "x", "y" and the label, or kind "step" with the card's texts.
    std::string transcriptKind;
    nlohmann::json transcript;
};

// nextId is called only for a request without "id", after the kind was accepted, and
// gives the number of the generated id "o<n>".
OverlayRequest ParseOverlayRequest(const nlohmann::json& args, int32_t originX, int32_t originY,
                                   const std::function<uint32_t()>& nextId);

// Whether the banner moved between two looks at it: it appeared, vanished, or changed.
bool BannerMoved(const BannerState& before, const BannerState& after);

}  // namespace training
}  // namespace sv
