#include "training/input_request.h"

#include <algorithm>

#include "base/case_fold.h"
#include "training/training_args.h"

namespace sv {
namespace training {

InputRequest ParseInputRequest(const nlohmann::json& args) {
    InputRequest r;
    r.kind = AsciiLower(ArgString(args, "kind").value_or(""));
    r.x = ArgInt(args, "x").value_or(0);
    r.y = ArgInt(args, "y").value_or(0);
    r.preview = ArgBool(args, "preview").value_or(true);
    r.label = ArgString(args, "label");
    r.text = ArgString(args, "text");
    r.key = ArgString(args, "key");
    r.modifiers = ArgStringList(args, "modifiers").value_or(std::vector<std::string>{});
    return r;
}

bool IsPointerKind(const std::string& kind) { return kind == "move" || IsPreviewedKind(kind); }

bool IsPreviewedKind(const std::string& kind) {
    return kind == "click" || kind == "double-click" || kind == "right-click";
}

double PointerFraction(int32_t v, int32_t extent) {
    double f = static_cast<double>(v) / static_cast<double>(std::max(extent, 1));
    return std::clamp(f, 0.0, 1.0);
}

std::vector<PointerStep> PointerSteps(const std::string& kind) {
    if (kind == "move") return {{"move", ""}};
    if (!IsPreviewedKind(kind)) return {};
    std::string button = kind == "right-click" ? "right" : "left";
    std::vector<PointerStep> one = {{"move", ""}, {"down", button}, {"up", button}};
    std::vector<PointerStep> steps = one;
    if (kind == "double-click") steps.insert(steps.end(), one.begin(), one.end());
    return steps;
}

std::vector<std::string> TextPieces(const std::string& text, size_t codePoints) {
    std::vector<std::string> pieces;
    for (size_t at = 0; at < text.size(); at += pieces.back().size()) {
        pieces.push_back(CutToCodePoints(text.substr(at), std::max<size_t>(codePoints, 1)));
    }
    return pieces;
}

OverlayShape GhostShape(const InputRequest& request, int32_t originX, int32_t originY, int32_t previewMs) {
    OverlayShape s;
    s.id = "ghost";
    s.kind = "ghost";
    s.x = SaturateToInt32(static_cast<int64_t>(request.x) + originX);
    s.y = SaturateToInt32(static_cast<int64_t>(request.y) + originY);
    s.label = CutToCodePoints(request.label.value_or(""), kGhostLabelCap);
    s.ttlMs = SaturateToInt32(static_cast<int64_t>(previewMs) + kGhostLingerMs);
    return s;
}

std::string InputDetail(const InputRequest& request) {
    if (request.kind == "text") return "text len=" + std::to_string(CountCodePoints(request.text.value_or("")));
    if (request.kind == "key") {
        std::string d = "key ";
        for (const std::string& m : request.modifiers) d += m + "+";
        return d + request.key.value_or("");
    }
    return request.kind + " " + std::to_string(request.x) + "," + std::to_string(request.y);
}

nlohmann::json InputTranscriptData(const InputRequest& request, const std::string& detail) {
    nlohmann::json data = {{"kind", request.kind}, {"detail", detail}};
    if (IsPointerKind(request.kind)) {
        data["x"] = request.x;
        data["y"] = request.y;
    }
    if (request.label) data["label"] = *request.label;
    return data;
}

std::string PointerFailure(const InputRequest& request) {
    return "the host could not " + request.kind + " at " + std::to_string(request.x) + "," +
           std::to_string(request.y);
}

}  // namespace training
}  // namespace sv
