#include "session/lan/lan_tickets.h"

namespace sv {

bool LanTicketTable::Store(const std::string& ticketId, LanTicketRecord record, uint64_t now) {
    record.expiresAt = now + kLifetimeMs;
    MutexLock lock(mutex_);
    for (auto it = tickets_.begin(); it != tickets_.end();) {
        if (it->second.expiresAt <= now) {
            it = tickets_.erase(it);
        } else {
            ++it;
        }
    }
    if (tickets_.size() >= kMaxLive) return false;
    tickets_[ticketId] = std::move(record);
    return true;
}

bool LanTicketTable::Take(const std::string& ticketId, uint64_t now, LanTicketRecord& out) {
    MutexLock lock(mutex_);
    auto it = tickets_.find(ticketId);
    if (it == tickets_.end()) return false;
    LanTicketRecord record = std::move(it->second);
    tickets_.erase(it);
    if (record.expiresAt <= now) return false;
    out = std::move(record);
    return true;
}

void LanTicketTable::RemoveController(const std::string& controllerId) {
    MutexLock lock(mutex_);
    for (auto it = tickets_.begin(); it != tickets_.end();) {
        if (it->second.controllerId == controllerId) {
            it = tickets_.erase(it);
        } else {
            ++it;
        }
    }
}

void LanTicketTable::Clear() {
    MutexLock lock(mutex_);
    tickets_.clear();
}

size_t LanTicketTable::Size() {
    MutexLock lock(mutex_);
    return tickets_.size();
}

}  // namespace sv
