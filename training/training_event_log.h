#pragma once
// The numbered, bounded log of training events that trainers read back with "events".
#include <cstdint>
#include <deque>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "base/annotated_mutex.h"

namespace sv {
namespace training {

struct TrainingEventRecord {
    int64_t seq = 0;
    int64_t ts = 0;
    std::string kind;
    nlohmann::json data;  // null = no data
};

class TrainingEventLog {
public:
    static constexpr size_t kCapacity = 500;

    explicit TrainingEventLog(std::function<int64_t()> clock);

    TrainingEventRecord Append(const std::string& kind, nlohmann::json data);
    // The oldest matching records after `since`, at most max (clamped to 1..500).
    std::vector<TrainingEventRecord> Query(int64_t since, const std::set<std::string>& kinds, int32_t max) const;
    int64_t LastSeq() const;

private:
    std::function<int64_t()> clock_;
    mutable Mutex mutex_;
    std::deque<TrainingEventRecord> records_ SV_GUARDED_BY(mutex_);
    int64_t lastSeq_ SV_GUARDED_BY(mutex_) = 0;
};

// {"type": "training-event", "seq", "ts", "kind", "data" (only when not null)}
nlohmann::json MakeTrainingEvent(const TrainingEventRecord& record);

// One entry of the "events" reply: {"seq", "ts", "kind", "data" (only when not null)}
nlohmann::json EventRecordJson(const TrainingEventRecord& record);

}  // namespace training
}  // namespace sv
