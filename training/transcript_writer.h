#pragma once
// Session transcripts: one JSON Lines file per session in the transcript directory.
#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "base/annotated_mutex.h"

namespace sv {
namespace training {

// "%Y%m%d-%H%M%S-%06x" of a local time and the low 24 bits of a random value.
std::string FormatSessionId(const std::tm& local, uint32_t random);
// A fresh id for a session starting at nowMs (clock milliseconds), with an OS-random suffix.
std::string NewSessionId(int64_t nowMs);

// True when id may name a file in the transcript directory: 1 to 64 ASCII letters, digits
// and "-", and not a Windows device name (CON, NUL, COM1, ...), which would open the device.
bool IsSafeSessionId(const std::string& id);

class TranscriptWriter {
public:
    static constexpr size_t kMaxEntries = 5000;

    TranscriptWriter(std::string sessionId, const std::string& directory, std::function<int64_t()> clock);

    void Append(const std::string& kind, const nlohmann::json& data);
    std::vector<nlohmann::json> Entries() const;
    const std::string& SessionId() const { return sessionId_; }
    // Empty when the session has no file.
    const std::string& FilePath() const { return filePath_; }

private:
    std::string sessionId_;
    std::string filePath_;  // UTF-8
    std::function<int64_t()> clock_;
    mutable Mutex mutex_;
    std::vector<nlohmann::json> entries_ SV_GUARDED_BY(mutex_);
};

struct TranscriptListEntry {
    std::string sessionId;
    uint64_t bytes = 0;
    std::string updated;    // "%Y-%m-%dT%H:%M:%SZ", UTC
    int64_t updatedNs = 0;  // for sorting
};

// The stored transcripts, newest first, at most max.
std::vector<TranscriptListEntry> ListTranscripts(const std::string& directory, size_t max);

// The lines of one stored transcript (at most 5000 objects); absent when the id is not a
// safe name or no such file exists.
std::optional<std::vector<nlohmann::json>> ReadTranscript(const std::string& directory, const std::string& id);

}  // namespace training
}  // namespace sv
