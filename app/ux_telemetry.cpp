#include "app/ux_telemetry.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <random>

#include "base/elapsed_time.h"
#include "net/https_client.h"

namespace sv {
namespace {

bool IsAcceptedOrRefusedForGood(int32_t status) {
    // A batch the server calls malformed is dropped, so it cannot block later events.
    return (status >= 200 && status <= 299) || status == 400 || status == 413 || status == 422;
}

// Days since 1970-01-01 to a proleptic Gregorian date.
void CivilFromDays(int64_t days, int64_t& year, int& month, int& day) {
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const int64_t doe = days - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = yoe + era * 400 + (month <= 2 ? 1 : 0);
}

}  // namespace

UxIo DefaultUxIo() {
    UxIo io;
    io.http = [](const std::string& method, const std::string& url, const std::string& body,
                 const std::string& caBundlePath, uint32_t timeoutMs) {
        return HttpRequest(method, url, body, caBundlePath.c_str(), timeoutMs);
    };
    io.steadyNs = SteadyNanoseconds;
    io.systemMs = [] {
        return static_cast<int64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        std::chrono::system_clock::now().time_since_epoch())
                                        .count());
    };
    io.newId = [] { return MakeRandomHexId(); };
    return io;
}

UxConfig ParseUxConfig(int32_t status, const std::string& body) {
    UxConfig config;
    if (status == 404 || status == 405) {
        config.gone = true;
        return config;
    }
    if (status < 200 || status > 299) return config;
    nlohmann::json parsed = nlohmann::json::parse(body, nullptr, false);
    if (!parsed.is_object()) return config;
    auto data = parsed.find("data");
    if (data == parsed.end() || !data->is_object()) return config;
    auto enabled = data->find("enabled");
    if (enabled == data->end() || !enabled->is_boolean()) return config;
    config.ok = true;
    config.enabled = enabled->get<bool>();
    return config;
}

std::string UxBaseUrl(const std::string& apiBase) {
    size_t end = apiBase.size();
    while (end > 0 && apiBase[end - 1] == '/') --end;
    return apiBase.substr(0, end) + "/api/ux";
}

bool UxTurnedOff(const char* value) {
    if (value == nullptr) return false;
    const char off[] = "off";
    for (size_t i = 0; i < 3; ++i) {
        if (std::tolower(static_cast<unsigned char>(value[i])) != off[i]) return false;
    }
    return value[3] == '\0';
}

std::string FormatUxTimestamp(int64_t utcMs) {
    if (utcMs < 0) utcMs = 0;
    const int64_t days = utcMs / 86400000;
    const int64_t msOfDay = utcMs % 86400000;
    int64_t year = 0;
    int month = 0;
    int day = 0;
    CivilFromDays(days, year, month, day);
    char text[64];
    std::snprintf(text, sizeof(text), "%04lld-%02d-%02dT%02d:%02d:%02d.%03dZ", static_cast<long long>(year), month,
                  day, static_cast<int>(msOfDay / 3600000), static_cast<int>(msOfDay / 60000 % 60),
                  static_cast<int>(msOfDay / 1000 % 60), static_cast<int>(msOfDay % 1000));
    return text;
}

std::string MakeRandomHexId() {
    std::random_device device;
    char text[40];
    std::snprintf(text, sizeof(text), "%08x%08x%08x%08x", static_cast<unsigned>(device()),
                  static_cast<unsigned>(device()), static_cast<unsigned>(device()), static_cast<unsigned>(device()));
    return text;
}

UxTelemetry& MakeProcessUxTelemetry() { return *new UxTelemetry(DefaultUxIo()); }

UxTelemetry::UxTelemetry(UxIo io) : io_(std::move(io)) {}

UxTelemetry::~UxTelemetry() { StopWorker(std::chrono::seconds(60)); }

void UxTelemetry::RecordEvent(const char* event, nlohmann::json duration, nlohmann::json meta) {
    const int64_t now = io_.steadyNs();
    if (lastEventAt_ != 0 && now - lastEventAt_ > kSessionIdleNs) sessionId_ = io_.newId();
    lastEventAt_ = now;
    nlohmann::json record = {
        {"app", "sorvane-host-win7"},
        {"app_version", appVersion_},
        {"session_id", sessionId_},
        {"event", event},
        {"duration_ms", std::move(duration)},
        {"meta", std::move(meta)},
        {"created_at", FormatUxTimestamp(io_.systemMs())},
        {"screen", currentScreen_},
    };
    queue_.push_back(QueuedRecord{nextSeq_++, std::move(record)});
    while (queue_.size() > kMaxQueued) queue_.pop_front();
}

void UxTelemetry::TrackAction(const char* name) {
    MutexLock lock(mutex_);
    if (!started_ || name == nullptr) return;
    RecordEvent("action_done", nullptr, nlohmann::json{{"action", name}});
}

void UxTelemetry::TrackScreenView(const char* name) {
    MutexLock lock(mutex_);
    if (!started_ || name == nullptr || currentScreen_ == name) return;
    const int64_t now = io_.steadyNs();
    nlohmann::json duration;
    nlohmann::json meta;
    if (!currentScreen_.empty()) {
        meta = nlohmann::json{{"from", currentScreen_}};
        duration = (now - screenSince_) / 1000000;
    }
    currentScreen_ = name;
    screenSince_ = now;
    RecordEvent("screen_view", std::move(duration), std::move(meta));
}

bool UxTelemetry::Start(const std::string& apiBase, const std::string& caBundlePath, const std::string& version,
                        const char* uxUrlSetting, std::chrono::milliseconds period) {
    if (UxTurnedOff(uxUrlSetting) || apiBase.empty()) return false;
    {
        MutexLock lock(mutex_);
        appVersion_ = version;
        started_ = true;
        sessionId_ = io_.newId();
    }
    MutexLock lock(workerMutex_);
    if (workerRunning_ || workerStop_) return true;
    try {
        worker_ = DetachableThread([this, base = UxBaseUrl(apiBase), caBundlePath, period] {
            WorkerLoop(base, caBundlePath, period);
        });
        workerRunning_ = true;
    } catch (const std::exception&) {
        // No worker: records stay bounded in the queue and are never sent.
    }
    return true;
}

void UxTelemetry::WorkerLoop(std::string base, std::string caBundlePath, std::chrono::milliseconds period) {
    for (;;) {
        uint32_t timeoutMs = kRequestTimeoutMs;
        {
            MutexLock lock(workerMutex_);
            workerWake_.WaitFor(lock, period, [this]() SV_REQUIRES(workerMutex_) { return workerStop_ || flushRequested_; });
            if (workerStop_) break;
            if (flushRequested_) timeoutMs = flushTimeoutMs_;
            flushRequested_ = false;
            roundRunning_ = true;
        }
        try {
            RunRound(base, caBundlePath, timeoutMs);
        } catch (...) {
        }
        MutexLock lock(workerMutex_);
        roundRunning_ = false;
        ++roundsDone_;
        workerWake_.NotifyAll();
    }
    MutexLock lock(workerMutex_);
    workerRunning_ = false;
    workerWake_.NotifyAll();
}

bool UxTelemetry::Flush(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    {
        MutexLock lock(mutex_);
        if (!started_ || gone_ || queue_.empty()) return true;
    }
    MutexLock lock(workerMutex_);
    if (!workerRunning_ || workerStop_) return false;
    // An exchange already out may have drained before the last records came: the one
    // asked for here follows it.
    const uint64_t target = roundsDone_ + (roundRunning_ ? 2 : 1);
    flushRequested_ = true;
    flushTimeoutMs_ = static_cast<uint32_t>(std::min<int64_t>(limit.count(), kRequestTimeoutMs));
    workerWake_.NotifyAll();
    return workerWake_.WaitUntil(lock, deadline, [&]() SV_REQUIRES(workerMutex_) { return roundsDone_ >= target || !workerRunning_; }) &&
           roundsDone_ >= target;
}

void UxTelemetry::StopWorker(std::chrono::milliseconds limit) {
    MutexLock lock(workerMutex_);
    workerStop_ = true;
    workerWake_.NotifyAll();
    const bool ended = workerWake_.WaitFor(lock, limit, [this]() SV_REQUIRES(workerMutex_) { return !workerRunning_; });
    lock.Unlock();
    if (!worker_.Joinable()) return;
    if (ended) {
        worker_.Join();
    } else {
        worker_.LetGo();
    }
}

size_t UxTelemetry::DrainEvents(std::string& body, uint64_t& lastSeq) {
    MutexLock lock(mutex_);
    const size_t n = std::min(queue_.size(), kMaxBatch);
    if (n == 0) return 0;
    nlohmann::json events = nlohmann::json::array();
    for (size_t i = 0; i < n; ++i) events.push_back(queue_[i].record);
    body = nlohmann::json{{"events", std::move(events)}}.dump();
    lastSeq = queue_[n - 1].seq;
    return n;
}

void UxTelemetry::RemoveSentThrough(uint64_t lastSeq) {
    // By sequence, not by count: records trimmed from the front while the batch was out
    // would otherwise make newer, unsent ones go in their place.
    MutexLock lock(mutex_);
    while (!queue_.empty() && queue_.front().seq <= lastSeq) queue_.pop_front();
}

void UxTelemetry::RunRound(const std::string& base, const std::string& caBundlePath, uint32_t timeoutMs) {
    {
        MutexLock lock(mutex_);
        if (gone_) return;
    }
    std::string body;
    uint64_t lastSeq = 0;
    if (DrainEvents(body, lastSeq) == 0) return;
    HttpResponse answer = io_.http("GET", base + "/config", std::string(), caBundlePath, timeoutMs);
    const UxConfig config = ParseUxConfig(answer.status, std::string(answer.body.begin(), answer.body.end()));
    if (config.gone) {
        // The records recorded before stay, but nothing asks for them any more.
        MutexLock lock(mutex_);
        started_ = false;
        gone_ = true;
        return;
    }
    if (!config.ok) return;
    if (!config.enabled) {
        MutexLock lock(mutex_);
        queue_.clear();
        return;
    }
    while (DrainEvents(body, lastSeq) > 0) {
        HttpResponse posted = io_.http("POST", base + "/events", body, caBundlePath, timeoutMs);
        if (!IsAcceptedOrRefusedForGood(posted.status)) return;
        RemoveSentThrough(lastSeq);
    }
}

bool UxTelemetry::Started() const {
    MutexLock lock(mutex_);
    return started_;
}

size_t UxTelemetry::Queued() const {
    MutexLock lock(mutex_);
    return queue_.size();
}

std::string UxTelemetry::SessionId() const {
    MutexLock lock(mutex_);
    return sessionId_;
}

void StartUxTelemetry(UxTelemetry& telemetry, const std::string& apiBase, const std::string& caBundlePath,
                      const std::string& version) {
    telemetry.Start(apiBase, caBundlePath, version, std::getenv("SORVANE_UX_URL"), UxTelemetry::kPeriod);
}

}  // namespace sv
