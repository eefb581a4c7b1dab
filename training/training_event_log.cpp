#include "training/training_event_log.h"

#include <utility>

namespace sv {
namespace training {

using nlohmann::json;

TrainingEventLog::TrainingEventLog(std::function<int64_t()> clock) : clock_(std::move(clock)) {}

TrainingEventRecord TrainingEventLog::Append(const std::string& kind, json data) {
    MutexLock lock(mutex_);
    TrainingEventRecord record;
    record.seq = ++lastSeq_;
    // Read under the mutex so time stamps never go backwards along the sequence.
    record.ts = clock_();
    record.kind = kind;
    record.data = std::move(data);
    records_.push_back(record);
    while (records_.size() > kCapacity) records_.pop_front();
    return record;
}

std::vector<TrainingEventRecord> TrainingEventLog::Query(int64_t since, const std::set<std::string>& kinds,
                                                         int32_t max) const {
    size_t n = max < 1 ? 1 : (static_cast<size_t>(max) > kCapacity ? kCapacity : static_cast<size_t>(max));
    std::vector<TrainingEventRecord> out;
    MutexLock lock(mutex_);
    for (const TrainingEventRecord& r : records_) {
        if (out.size() >= n) break;
        if (r.seq <= since) continue;
        if (!kinds.empty() && kinds.find(r.kind) == kinds.end()) continue;
        out.push_back(r);
    }
    return out;
}

int64_t TrainingEventLog::LastSeq() const {
    MutexLock lock(mutex_);
    return lastSeq_;
}

json EventRecordJson(const TrainingEventRecord& record) {
    json j = json::object();
    j["seq"] = record.seq;
    j["ts"] = record.ts;
    j["kind"] = record.kind;
    if (!record.data.is_null()) j["data"] = record.data;
    return j;
}

json MakeTrainingEvent(const TrainingEventRecord& record) {
    json j = EventRecordJson(record);
    j["type"] = "training-event";
    return j;
}

}  // namespace training
}  // namespace sv
