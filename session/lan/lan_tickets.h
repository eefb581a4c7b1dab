#pragma once
// One-time LAN tickets: at most eight live, thirty seconds each, gone at first lookup.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "base/annotated_mutex.h"

namespace sv {

struct LanTicketRecord {
    std::vector<uint8_t> salt;
    std::vector<uint8_t> verifier;
    std::string controllerId;
    uint64_t expiresAt = 0;  // milliseconds on the GetTickCount64 clock
};

class LanTicketTable {
public:
    static constexpr size_t kMaxLive = 8;
    static constexpr uint64_t kLifetimeMs = 30000;

    // Drops expired tickets, then stores the ticket (replacing one with the same id)
    // unless eight are already live. The record's expiry is set from `now`.
    bool Store(const std::string& ticketId, LanTicketRecord record, uint64_t now);
    // A ticket is removed at its first lookup, used or expired.
    bool Take(const std::string& ticketId, uint64_t now, LanTicketRecord& out);
    // Removes the tickets a controller has not used yet.
    void RemoveController(const std::string& controllerId);
    void Clear();
    size_t Size();

private:
    Mutex mutex_;
    std::map<std::string, LanTicketRecord> tickets_ SV_GUARDED_BY(mutex_);
};

}  // namespace sv
