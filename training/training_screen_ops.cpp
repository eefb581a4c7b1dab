// The operations through which the trainer acts on the trainee's screen and reads it.
#include <chrono>
#include <thread>

#include "base/audit_log.h"
#include "training/remote_input.h"
#include "training/training_agent.h"
#include "training/training_json.h"
#include "training/ui_query.h"

namespace sv {
namespace training {

using nlohmann::json;

namespace {

constexpr const char* kNoInspector = "UI Automation is not available on this host";
constexpr const char* kSessionGone = "no training session is active — call start first";

}  // namespace

TrainingOpResult TrainingAgent::PerformInput(const std::shared_ptr<Session>& session, const json& args,
                                             const std::string& controllerId) {
    InputRequest req = ParseInputRequest(args);
    // The gate comes before any check of the arguments: a busy trainee is told so at once.
    GateDecision d = gate_.CheckControllerInput();
    if (!d.allowed) return TrainingOpResult::Ok(ExplainRefusal(req.kind, d.reason, controllerId));

    std::pair<int, int> size{0, 0};
    if (hooks_.screenSize) size = hooks_.screenSize();
    bool pointer = IsPointerKind(req.kind);
    if (pointer && (size.first < 1 || size.second < 1)) return TrainingOpResult::Fail("screen size unknown");

    if (IsPreviewedKind(req.kind) && req.preview && hooks_.previewMs > 0) {
        int64_t t0 = hooks_.clock();
        auto origin = Origin();
        if (hooks_.surface) hooks_.surface->ShowOverlay(GhostShape(req, origin.first, origin.second, hooks_.previewMs));
        std::this_thread::sleep_for(std::chrono::milliseconds(hooks_.previewMs));
        if (gate_.InputSince(t0)) return TrainingOpResult::Ok(ExplainRefusal(req.kind, "trainee-active", controllerId));
        // A session the trainee ended during the preview leaves the gate open (mode off):
        // the click must not land on a desktop that is no longer being trained.
        if (CurrentSession() != session) return TrainingOpResult::Fail(kSessionGone);
        d = gate_.CheckControllerInput();
        if (!d.allowed) return TrainingOpResult::Ok(ExplainRefusal(req.kind, d.reason, controllerId));
    }

    if (pointer) {
        double fx = PointerFraction(req.x, size.first);
        double fy = PointerFraction(req.y, size.second);
        if (!hooks_.pointerInput) return TrainingOpResult::Fail(PointerFailure(req));
        for (const PointerStep& step : PointerSteps(req.kind)) {
            if (!hooks_.pointerInput(step.action, fx, fy, step.button)) return TrainingOpResult::Fail(PointerFailure(req));
        }
    } else if (req.kind == "text") {
        if (!req.text || req.text->empty()) return TrainingOpResult::Fail("text input needs text");
        if (!hooks_.typeText || !hooks_.typeText(*req.text)) {
            return TrainingOpResult::Fail("the host could not type that text");
        }
    } else if (req.kind == "key") {
        if (!req.key || req.key->empty()) return TrainingOpResult::Fail("key input needs a key");
        if (!hooks_.pressKey || !hooks_.pressKey(*req.key, req.modifiers)) {
            return TrainingOpResult::Fail("the host could not press '" + *req.key + "'");
        }
    } else {
        return TrainingOpResult::Fail("input kind must be click, double-click, right-click, move, text or key");
    }

    std::string detail = InputDetail(req);
    if (session && session->transcript) session->transcript->Append("ai-input", InputTranscriptData(req, detail));
    WriteAuditLine("training-input", detail, controllerId);
    return TrainingOpResult::Ok(json{{"done", true}, {"refused", false}});
}

TrainingOpResult TrainingAgent::UiTree(const json& args, const std::string& controllerId) {
    if (!hooks_.inspector) return TrainingOpResult::Fail(kNoInspector);
    auto origin = Origin();
    WindowTreeQuery query = BuildTreeQuery(args, origin.first, origin.second);
    std::pair<json, std::string> tree = hooks_.inspector->QueryTree(query, kTreeTimeoutMs);
    WriteAuditLine("training", TreeAuditDetail(query), controllerId);
    if (!tree.second.empty()) return TrainingOpResult::Fail(tree.second, std::move(tree.first));
    return TrainingOpResult::Ok(std::move(tree.first));
}

TrainingOpResult TrainingAgent::ElementAt(const json& args) {
    if (!hooks_.inspector) return TrainingOpResult::Fail(kNoInspector);
    auto origin = Origin();
    std::pair<int32_t, int32_t> at = DesktopPointOf(args, origin.first, origin.second);
    std::optional<UiElement> element = hooks_.inspector->ElementAt(at.first, at.second, kElementTimeoutMs);
    if (!element) return TrainingOpResult::Fail("no element there");
    auto mapped = Origin();  // the rectangle in capture-screen pixels as the screen is now
    return TrainingOpResult::Ok(UiElementJson(*element, mapped.first, mapped.second));
}

}  // namespace training
}  // namespace sv
