// The operations through which the trainer acts on the trainee's screen and reads it.
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "base/audit_log.h"
#include "training/input_request.h"
#include "training/training_args.h"
#include "training/training_agent.h"
#include "training/training_json.h"
#include "training/ui_query.h"

namespace sv {
namespace training {

using nlohmann::json;

namespace {

constexpr const char* kNoInspector = "UI Automation is not available on this host";
constexpr const char* kCouldNotType = "the host could not type that text";

}  // namespace

TrainingOpResult TrainingAgent::TypeText(const std::shared_ptr<Session>& session, const InputRequest& req,
                                         const std::string& detail, const std::string& controllerId) {
    const std::vector<std::string> pieces = TextPieces(*req.text, kTypedPieceCodePoints);
    const int64_t length = CountCodePoints(*req.text);
    int64_t typed = 0;
    std::optional<GateDecision> refusal;
    bool failed = false;
    bool ended = false;
    // Each piece in a pass of its own, the next pass entered before the last is left: once
    // the session's end (or the trainee's stop) has shut its gate, the piece under way is
    // the last, and its pass is still held when what was typed is recorded, so the record
    // comes before the end's own lines and nothing of the session follows them.
    auto pass = std::make_unique<EntryGate::Pass>(session->live, session->openWait);
    if (!pass->Entered() || CurrentSession() != session) return TrainingOpResult::Fail(kNoSessionMessage);
    for (size_t i = 0; i < pieces.size(); ++i) {
        if (i > 0) {
            auto next = std::make_unique<EntryGate::Pass>(session->live);
            if (!next->Entered() || CurrentSession() != session) {
                ended = true;
                break;
            }
            pass = std::move(next);
        }
        const GateDecision now = gate_.CheckControllerInput();
        if (!now.allowed) {
            refusal = now;
            break;
        }
        if (!hooks_.typeText(pieces[i])) {
            failed = true;
            break;
        }
        typed += CountCodePoints(pieces[i]);
    }
    if (typed > 0) {
        nlohmann::json data = InputTranscriptData(req, detail);
        std::string auditDetail = detail;
        if (typed < length) {
            data["typed"] = typed;
            auditDetail += " typed=" + std::to_string(typed);
        }
        if (session->transcript) session->transcript->Append("ai-input", data);
        WriteAuditLine("training-input", auditDetail, controllerId);
    }
    pass.reset();

    const std::string progress = std::to_string(typed) + " of " + std::to_string(length) + " characters were typed";
    const nlohmann::json partial = {{"typed", typed}, {"length", length}};
    if (refusal) {
        nlohmann::json data = ExplainRefusal(req.kind, refusal->reason, controllerId);
        if (typed > 0) data.update(partial);
        return TrainingOpResult::Ok(std::move(data));
    }
    if (failed) return typed > 0 ? TrainingOpResult::Fail(kCouldNotType + std::string(": ") + progress, partial)
                                 : TrainingOpResult::Fail(kCouldNotType);
    if (ended) return TrainingOpResult::Fail("the training session ended while the text was typed: " + progress, partial);
    return TrainingOpResult::Ok(nlohmann::json{{"done", true}, {"refused", false}});
}

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
        int64_t t0 = SteadyMs();
        auto origin = Origin();
        const bool shown = WhileLive(session, [&] {
            if (hooks_.surface) hooks_.surface->ShowOverlay(GhostShape(req, origin.first, origin.second, hooks_.previewMs));
        });
        if (!shown) return TrainingOpResult::Fail(kNoSessionMessage);
        std::this_thread::sleep_for(std::chrono::milliseconds(hooks_.previewMs));
        if (gate_.InputSince(t0)) return TrainingOpResult::Ok(ExplainRefusal(req.kind, "trainee-active", controllerId));
    }

    // Every injection is decided immediately before it, inside the session: the trainee's
    // stop (which opens the gate) waits for an injection under way and lets none start.
    // The records of the input are written in the pass of its last step, so none follows
    // the session's end.
    std::string detail = InputDetail(req);
    std::optional<GateDecision> refusal;
    bool ended = false;
    auto record = [&](const json& data, const std::string& auditDetail) {
        if (session->transcript) session->transcript->Append("ai-input", data);
        WriteAuditLine("training-input", auditDetail, controllerId);
    };
    // step returns whether it worked; last says whether the input is then complete.
    auto inject = [&](const std::function<bool()>& step, bool last) {
        bool ok = false;
        const bool live = WhileLive(session, [&] {
            GateDecision now = gate_.CheckControllerInput();
            if (!now.allowed) {
                refusal = now;
                return;
            }
            ok = step();
            if (ok && last) record(InputTranscriptData(req, detail), detail);
        });
        if (!live) ended = true;
        return live && !refusal && ok;
    };
    auto stopped = [&]() -> std::optional<TrainingOpResult> {
        if (ended) return TrainingOpResult::Fail(kNoSessionMessage);
        if (refusal) return TrainingOpResult::Ok(ExplainRefusal(req.kind, refusal->reason, controllerId));
        return std::nullopt;
    };

    if (pointer) {
        double fx = PointerFraction(req.x, size.first);
        double fy = PointerFraction(req.y, size.second);
        if (!hooks_.pointerInput) return TrainingOpResult::Fail(PointerFailure(req));
        std::vector<PointerStep> steps = PointerSteps(req.kind);
        size_t lastStep = 0;
        for (size_t i = 0; i < steps.size(); ++i) {
            if (steps[i].action != "up") lastStep = i;
        }
        std::string unreleased;
        for (size_t i = 0; i < steps.size(); ++i) {
            const PointerStep& step = steps[i];
            if (step.action == "up") continue;  // part of its press, below
            const bool press = step.action == "down";
            const bool ok = inject(
                [&] {
                    if (!hooks_.pointerInput(step.action, fx, fy, step.button)) return false;
                    if (!press) return true;
                    // A pressed button is always let go, whatever comes: a second try when the
                    // first release fails.
                    if (hooks_.pointerInput("up", fx, fy, step.button) ||
                        hooks_.pointerInput("up", fx, fy, step.button)) {
                        return true;
                    }
                    // The press reached the desktop: that is what happened, and it is
                    // recorded while still inside the session.
                    unreleased = "the host pressed the " + step.button + " button at " + std::to_string(req.x) +
                                 "," + std::to_string(req.y) + " but could not release it";
                    json data = InputTranscriptData(req, detail);
                    data["error"] = unreleased;
                    record(data, detail + " (button not released)");
                    return false;
                },
                i == lastStep);
            if (auto r = stopped()) return *r;
            if (!unreleased.empty()) return TrainingOpResult::Fail(unreleased);
            if (!ok) return TrainingOpResult::Fail(PointerFailure(req));
        }
    } else if (req.kind == "text") {
        if (!req.text || req.text->empty()) return TrainingOpResult::Fail("text input needs text");
        const size_t cap = hooks_.typedTextCapBytes;
        if (!hooks_.typeText || (cap > 0 && req.text->size() > cap)) return TrainingOpResult::Fail(kCouldNotType);
        return TypeText(session, req, detail, controllerId);
    } else if (req.kind == "key") {
        if (!req.key || req.key->empty()) return TrainingOpResult::Fail("key input needs a key");
        const bool ok = inject([&] { return hooks_.pressKey && hooks_.pressKey(*req.key, req.modifiers); }, true);
        if (auto r = stopped()) return *r;
        if (!ok) return TrainingOpResult::Fail("the host could not press '" + *req.key + "'");
    } else {
        return TrainingOpResult::Fail("input kind must be click, double-click, right-click, move, text or key");
    }
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
