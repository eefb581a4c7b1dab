#pragma once
// Usage telemetry: small events (actions, screens) queued in memory and posted in
// batches to "<api base>/api/ux" by a worker that wakes every 300 s, and once more at
// exit. Only tray mode starts it; until then every tracking call does nothing.
// SORVANE_UX_URL set to "off" (any letter case) turns it off; its value is never used
// as a URL.
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <thread>

#include <nlohmann/json.hpp>

#include "base/annotated_mutex.h"

#include "base/detachable_thread.h"
#include "net/http_parsing.h"

namespace sv {

// The ways out, replaceable so the logic runs on a fake endpoint and clocks.
struct UxIo {
    std::function<HttpResponse(const std::string& method, const std::string& url, const std::string& body,
                               const std::string& caBundlePath, uint32_t timeoutMs)>
        http;
    std::function<int64_t()> steadyNs;    // monotonic nanoseconds
    std::function<int64_t()> systemMs;    // UTC milliseconds since 1970
    std::function<std::string()> newId;   // 32 lower-case hex digits
};

// The real network (HttpRequest), clocks and std::random_device.
UxIo DefaultUxIo();

struct UxConfig {
    bool ok = false;
    bool enabled = false;
    bool gone = false;  // the endpoint no longer exists: stop recording for good
};

// The answer to GET "/config": 404/405 gone; other statuses outside 2xx nothing; else
// {"data":{"enabled":<bool>}} strictly.
UxConfig ParseUxConfig(int32_t status, const std::string& body);

// The API base without its trailing '/' characters, followed by "/api/ux".
std::string UxBaseUrl(const std::string& apiBase);

// True when SORVANE_UX_URL's value (nullptr: unset) turns telemetry off.
bool UxTurnedOff(const char* value);

// "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ" of UTC milliseconds since 1970.
std::string FormatUxTimestamp(int64_t utcMs);

// Four std::random_device draws as 32 lower-case hex digits.
std::string MakeRandomHexId();

class UxTelemetry {
public:
    static constexpr size_t kMaxQueued = 1000;
    static constexpr size_t kMaxBatch = 200;
    static constexpr int64_t kSessionIdleNs = 1800LL * 1000000000LL;
    static constexpr std::chrono::milliseconds kPeriod{300000};
    static constexpr uint32_t kRequestTimeoutMs = 15000;
    static constexpr std::chrono::milliseconds kExitLimit{2000};

    explicit UxTelemetry(UxIo io);
    ~UxTelemetry();  // stops and waits for its worker (bounded)
    UxTelemetry(const UxTelemetry&) = delete;
    UxTelemetry& operator=(const UxTelemetry&) = delete;

    void TrackAction(const char* name);
    void TrackScreenView(const char* name);

    // Starts recording and the worker that runs one exchange every `period`. False
    // (nothing started) when `uxUrlSetting` turns telemetry off or the base is empty.
    bool Start(const std::string& apiBase, const std::string& caBundlePath, const std::string& version,
               const char* uxUrlSetting, std::chrono::milliseconds period);

    // One exchange with the endpoint under `base` ("<api base>/api/ux"); nothing once
    // the endpoint has answered that it is gone.
    void RunRound(const std::string& base, const std::string& caBundlePath,
                  uint32_t timeoutMs = kRequestTimeoutMs);

    // At exit: when recording is on and records wait, the worker makes one exchange at
    // once, and the caller waits for it at most `limit` in all (each request is given
    // no longer). True when nothing needed sending or the exchange ended in time.
    bool Flush(std::chrono::milliseconds limit);

    // Up to 200 of the oldest records as {"events":[...]}; their count, 0 when none
    // (the body is then untouched). `lastSeq` names the newest record in the batch.
    size_t DrainEvents(std::string& body, uint64_t& lastSeq);

    // Ends the worker's wait and waits up to `limit` for it to end (it may be inside a
    // request). The worker never starts again.
    void StopWorker(std::chrono::milliseconds limit);

    bool Started() const;
    size_t Queued() const;
    std::string SessionId() const;

private:
    struct QueuedRecord {
        uint64_t seq;
        nlohmann::json record;
    };
    void RecordEvent(const char* event, nlohmann::json duration, nlohmann::json meta) SV_REQUIRES(mutex_);
    void WorkerLoop(std::string base, std::string caBundlePath, std::chrono::milliseconds period);
    void RemoveSentThrough(uint64_t lastSeq);

    UxIo io_;
    mutable Mutex mutex_;
    bool started_ SV_GUARDED_BY(mutex_) = false;
    std::string appVersion_ SV_GUARDED_BY(mutex_);
    std::string sessionId_ SV_GUARDED_BY(mutex_);
    std::string currentScreen_ SV_GUARDED_BY(mutex_);
    int64_t screenSince_ SV_GUARDED_BY(mutex_) = 0;
    int64_t lastEventAt_ SV_GUARDED_BY(mutex_) = 0;
    std::deque<QueuedRecord> queue_ SV_GUARDED_BY(mutex_);
    uint64_t nextSeq_ SV_GUARDED_BY(mutex_) = 1;
    bool gone_ SV_GUARDED_BY(mutex_) = false;  // the endpoint answered 404/405: it is never asked again

    // The worker: its stop and flush requests, whether it runs, its exchanges, and
    // their signal.
    Mutex workerMutex_;
    CondVar workerWake_;
    bool workerStop_ SV_GUARDED_BY(workerMutex_) = false;
    bool workerRunning_ SV_GUARDED_BY(workerMutex_) = false;
    bool flushRequested_ SV_GUARDED_BY(workerMutex_) = false;
    uint32_t flushTimeoutMs_ SV_GUARDED_BY(workerMutex_) = kRequestTimeoutMs;
    bool roundRunning_ SV_GUARDED_BY(workerMutex_) = false;
    uint64_t roundsDone_ SV_GUARDED_BY(workerMutex_) = 0;
    DetachableThread worker_;
};

// The process's telemetry. It is made once and never freed: at exit its worker may still
// be inside a request and is let go, so what it uses must outlive it. Only tray mode
// starts it; until then every tracking call records nothing.
UxTelemetry& MakeProcessUxTelemetry();
// Tray mode's start: SORVANE_UX_URL from the environment, a 300 s period.
void StartUxTelemetry(UxTelemetry& telemetry, const std::string& apiBase, const std::string& caBundlePath,
                      const std::string& version);

}  // namespace sv
