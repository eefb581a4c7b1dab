#include "training/activity_reports.h"

#include <utility>

#include "base/audit_log.h"
#include "base/elapsed_time.h"
#include "training/training_json.h"

namespace sv {
namespace training {

using nlohmann::json;

ActivityReports::ActivityReports(Hooks hooks) : hooks_(std::move(hooks)) {}

ActivityReports::~ActivityReports() { Stop(); }

void ActivityReports::Stop() { worker_.Stop(); }

bool ActivityReports::StopBy(std::chrono::steady_clock::time_point deadline) { return worker_.StopBy(deadline); }

void ActivityReports::ReportLater(std::shared_ptr<TrainingSession> session, std::function<void()> report) {
    if (!session) return;
    if (!worker_.Post(std::move(report))) {
        dropped_.fetch_add(1);
    } else if (dropped_.load() > 0 && worker_.Backlog() < kMaxPendingReports / 2) {
        NoteDropped();
    }
}

void ActivityReports::NoteDropped() {
    const int64_t dropped = dropped_.exchange(0);
    if (dropped <= 0) return;
    WriteAuditLine("training",
                   "dropped " + std::to_string(dropped) + " report(s) of the trainee's activity: " +
                       std::to_string(kMaxPendingReports) + " were already waiting",
                   "");
}

void ActivityReports::OnActivity(const Activity& activity) {
    std::shared_ptr<TrainingSession> session = hooks_.current();
    ReportLater(session, [this, session, activity] { ReportActivity(session, activity); });
}

void ActivityReports::OnForeground(const WindowInfo& window) {
    std::shared_ptr<TrainingSession> session = hooks_.current();
    ReportLater(session, [this, session, window] { ReportWindow(session, "foreground", window); });
}

void ActivityReports::OnDialog(const WindowInfo& window) {
    std::shared_ptr<TrainingSession> session = hooks_.current();
    ReportLater(session, [this, session, window] { ReportWindow(session, "dialog", window); });
}

void ActivityReports::ReportActivity(const std::shared_ptr<TrainingSession>& session, const Activity& activity) {
    if (hooks_.current() != session) return;  // the session ended while this waited
    std::optional<UiElement> element;
    bool lookup = activity.x && activity.y && activity.action != "wheel" && hooks_.inspector &&
                  worker_.Backlog() < kLookupBacklog;
    if (lookup) element = hooks_.inspector->ElementAt(*activity.x, *activity.y, kActivityLookupMs);
    auto origin = hooks_.origin();
    json data = {{"device", activity.device}, {"action", activity.action}};
    if (activity.x) data["x"] = static_cast<int64_t>(*activity.x) - origin.first;
    if (activity.y) data["y"] = static_cast<int64_t>(*activity.y) - origin.second;
    if (!activity.key.empty()) data["key"] = activity.key;
    if (activity.count) data["count"] = *activity.count;
    if (element) data["element"] = UiElementJson(*element, origin.first, origin.second);
    // Never after "session-ended": the end waits for a report that is on its way out.
    WhileLive(session, hooks_.current, [&] {
        hooks_.emit("local-input", data);
        if (session->transcript) session->transcript->Append("trainee-input", data);
    });
}

void ActivityReports::ReportWindow(const std::shared_ptr<TrainingSession>& session, const std::string& kind,
                                   const WindowInfo& window) {
    auto origin = hooks_.origin();
    json data = WindowInfoJson(window, origin.first, origin.second);
    WhileLive(session, hooks_.current, [&] {
        hooks_.emit(kind, data);
        if (session->transcript) session->transcript->Append(kind, data);
    });
}

void ActivityReports::OnFocus(const UiElement& element) {
    if (!hooks_.current()) return;
    int64_t now = hooks_.steadyMs();
    {
        MutexLock lock(focusMutex_);
        if (lastFocus_ && lastFocus_->name == element.name && lastFocus_->controlType == element.controlType &&
            lastFocus_->rect.x == element.rect.x && lastFocus_->rect.y == element.rect.y) {
            return;
        }
        lastFocus_ = element;
        if (focusEventSent_ && Elapsed(now, lastFocusEventTime_) < kFocusThrottleMs) return;
        focusEventSent_ = true;
        lastFocusEventTime_ = now;
    }
    auto origin = hooks_.origin();
    hooks_.emit("focus", UiElementJson(element, origin.first, origin.second));
}

}  // namespace training
}  // namespace sv
