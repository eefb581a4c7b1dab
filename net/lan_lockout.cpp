#include "net/lan_lockout.h"

#include <utility>

namespace sv {

LanLockout::LanLockout(Clock steadyMs, size_t maxAddresses, int maxHandshakes)
    : steadyMs_(std::move(steadyMs)), maxAddresses_(maxAddresses), maxHandshakes_(maxHandshakes) {}

uint64_t LanLockout::LockDurationMs(int failures) {
    if (failures < kLockoutThreshold) return 0;
    int doublings = failures - kLockoutThreshold;
    if (doublings > kMaxDoublings) doublings = kMaxDoublings;
    return kBaseLockMs << doublings;
}

bool LanLockout::MakeRoom(uint64_t now) {
    if (records_.size() < maxAddresses_) return true;
    // Only a record that remembers nothing worth keeping may go: one without work in
    // progress, not locked, and whose last failure lies outside the window. Dropping
    // anything else would hand a peer fresh guesses for the price of filling the table,
    // so a full table refuses newcomers until a record expires.
    for (auto it = records_.begin(); it != records_.end();) {
        const Record& r = it->second;
        const bool idle = r.inFlight == 0 && now >= r.lockedUntil;
        const bool remembers = r.failures > 0 && now - r.lastActivity < kForgetIdleMs;
        if (idle && !remembers) {
            it = records_.erase(it);
        } else {
            ++it;
        }
    }
    return records_.size() < maxAddresses_;
}

LanAdmission LanLockout::TryBegin(const std::string& address) {
    const uint64_t now = steadyMs_();
    MutexLock lock(mutex_);
    if (totalInFlight_ >= maxHandshakes_) return LanAdmission::kBusy;
    auto it = records_.find(address);
    if (it == records_.end()) {
        if (!MakeRoom(now)) return LanAdmission::kBusy;
        it = records_.emplace(address, Record{}).first;
    }
    Record& r = it->second;
    if (r.failures >= kLockoutThreshold) {
        // Locked, or the lock ran out: then one probe at a time.
        if (now < r.lockedUntil || r.inFlight > 0) return LanAdmission::kLockedOut;
    } else if (r.failures + r.inFlight >= kLockoutThreshold) {
        return LanAdmission::kLockedOut;
    }
    ++r.inFlight;
    r.lastActivity = now;
    ++totalInFlight_;
    return LanAdmission::kAdmitted;
}

void LanLockout::Succeeded(const std::string& address) {
    const uint64_t now = steadyMs_();
    MutexLock lock(mutex_);
    auto it = records_.find(address);
    if (it == records_.end()) return;
    if (it->second.inFlight > 0) {
        --it->second.inFlight;
        --totalInFlight_;
    }
    if (it->second.inFlight == 0) {
        records_.erase(it);
    } else {
        it->second.failures = 0;
        it->second.lockedUntil = 0;
        it->second.lastActivity = now;
    }
}

void LanLockout::Failed(const std::string& address) {
    const uint64_t now = steadyMs_();
    MutexLock lock(mutex_);
    auto it = records_.find(address);
    if (it == records_.end()) return;
    Record& r = it->second;
    if (r.inFlight > 0) {
        --r.inFlight;
        --totalInFlight_;
    }
    ++r.failures;
    r.lastActivity = now;
    if (r.failures >= kLockoutThreshold) r.lockedUntil = now + LockDurationMs(r.failures);
}

void LanLockout::Abandoned(const std::string& address) {
    MutexLock lock(mutex_);
    auto it = records_.find(address);
    if (it == records_.end() || it->second.inFlight == 0) return;
    --it->second.inFlight;
    --totalInFlight_;
    if (it->second.inFlight == 0 && it->second.failures == 0) records_.erase(it);
}

int LanLockout::Failures(const std::string& address) const {
    MutexLock lock(mutex_);
    auto it = records_.find(address);
    return it == records_.end() ? 0 : it->second.failures;
}

uint64_t LanLockout::LockedUntil(const std::string& address) const {
    MutexLock lock(mutex_);
    auto it = records_.find(address);
    return it == records_.end() ? 0 : it->second.lockedUntil;
}

int LanLockout::InFlight(const std::string& address) const {
    MutexLock lock(mutex_);
    auto it = records_.find(address);
    return it == records_.end() ? 0 : it->second.inFlight;
}

int LanLockout::TotalInFlight() const {
    MutexLock lock(mutex_);
    return totalInFlight_;
}

size_t LanLockout::Size() const {
    MutexLock lock(mutex_);
    return records_.size();
}

}  // namespace sv
