#pragma once
// The trainee's own activity as events: input (already coalesced by the activity source),
// the foreground window, dialogs and the focused element.
//
// The activity source has one callback thread, and the trainee's notices to the input
// gate come on it too: nothing that can take long (the element lookup) may run there. The
// reports go to one worker of their own, so they still leave in the order they happened;
// a full queue drops a report rather than block the trainee, and the drops are audited in
// one line. A report whose session ended while it waited is dropped, and each one passes
// the session's entry gate, so none follows "session-ended".
//
// Threads: any; the focus throttle is under its own leaf lock. Stop joins the worker.
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include <nlohmann/json.hpp>

#include "base/annotated_mutex.h"
#include "training/serial_worker.h"
#include "training/training_interfaces.h"
#include "training/training_records.h"
#include "training/training_session.h"

namespace sv {
namespace training {

class ActivityReports {
public:
    // Beyond this many waiting reports new ones are dropped.
    static constexpr size_t kMaxPendingReports = 256;
    // With this many reports waiting the element lookup is skipped, so a hung application
    // delays the reports by a few lookups at most.
    static constexpr size_t kLookupBacklog = 4;
    static constexpr uint32_t kActivityLookupMs = 2000;
    // Focus changes closer together than this send one event.
    static constexpr int64_t kFocusThrottleMs = 150;

    struct Hooks {
        CurrentSessionFn current;
        // Records and sends one event.
        std::function<void(const std::string& kind, const nlohmann::json& data)> emit;
        IUiInspector* inspector = nullptr;  // may be null: no element lookups
        std::function<std::pair<int32_t, int32_t>()> origin;
        std::function<int64_t()> steadyMs;
    };
    explicit ActivityReports(Hooks hooks);
    ~ActivityReports();
    ActivityReports(const ActivityReports&) = delete;
    ActivityReports& operator=(const ActivityReports&) = delete;

    void OnActivity(const Activity& activity);
    void OnForeground(const WindowInfo& window);
    void OnDialog(const WindowInfo& window);
    void OnFocus(const UiElement& element) SV_EXCLUDES(focusMutex_);
    // Writes the audit line for reports dropped at the cap, if any (a session's end).
    void NoteDropped();
    // Drops what still waits and joins the worker; nothing is reported afterwards.
    void Stop();
    // The same, giving up at deadline on a report still inside a lookup; false then.
    bool StopBy(std::chrono::steady_clock::time_point deadline);

private:
    void ReportLater(std::shared_ptr<TrainingSession> session, std::function<void()> report);
    void ReportActivity(const std::shared_ptr<TrainingSession>& session, const Activity& activity);
    void ReportWindow(const std::shared_ptr<TrainingSession>& session, const std::string& kind,
                      const WindowInfo& window);

    const Hooks hooks_;

    Mutex focusMutex_;  // leaf
    std::optional<UiElement> lastFocus_ SV_GUARDED_BY(focusMutex_);
    int64_t lastFocusEventTime_ SV_GUARDED_BY(focusMutex_) = 0;  // steady clock
    bool focusEventSent_ SV_GUARDED_BY(focusMutex_) = false;

    // Reports turned away at the cap since the last audit line about them.
    std::atomic<int64_t> dropped_{0};
    SerialWorker worker_{kMaxPendingReports};
};

}  // namespace training
}  // namespace sv
