#pragma once
// Throttling of LAN handshakes per peer address, with an injected clock so the
// time rules can be tested without waiting. Pure logic: no sockets.
//
// An address may have at most kLockoutThreshold failures plus handshakes in
// progress at once; parallel connections therefore cannot slip past the limit.
// From the fifth failure on the address is locked for 30 s, doubling with each
// further failure up to 960 s; once a lock has run out one attempt at a time is
// served. A success clears the address. The table is bounded: a record is forgotten
// only once it is unlocked and its last failure is kForgetIdleMs old; while the table is
// full of records it must remember, a new address is refused rather than any record
// dropped. Callers key connections from this machine as one peer (LanPeerKey).
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "base/annotated_mutex.h"

namespace sv {

enum class LanAdmission {
    kAdmitted,
    kLockedOut,  // this address is throttled
    kBusy,       // too many handshakes overall, or the table is full
};

class LanLockout {
public:
    using Clock = std::function<uint64_t()>;  // milliseconds, monotonic

    static constexpr int kLockoutThreshold = 5;
    static constexpr uint64_t kBaseLockMs = 30000;
    static constexpr int kMaxDoublings = 5;
    static constexpr uint64_t kForgetIdleMs = 3600000;  // failures older than this may be forgotten

    explicit LanLockout(Clock steadyMs, size_t maxAddresses = 1024, int maxHandshakes = 32);

    // Asks to start a handshake for `address`; on kAdmitted the caller must end
    // it with exactly one Succeeded or Failed.
    LanAdmission TryBegin(const std::string& address);
    void Succeeded(const std::string& address);
    void Failed(const std::string& address);
    // Ends a handshake that was cut from our side: neither a success nor a failure.
    void Abandoned(const std::string& address);

    // For tests and diagnostics.
    int Failures(const std::string& address) const;
    uint64_t LockedUntil(const std::string& address) const;
    int InFlight(const std::string& address) const;
    int TotalInFlight() const;
    size_t Size() const;

    // The lock that follows the given failure count (0 below the threshold).
    static uint64_t LockDurationMs(int failures);

private:
    struct Record {
        int failures = 0;
        int inFlight = 0;
        uint64_t lockedUntil = 0;
        uint64_t lastActivity = 0;
    };
    bool MakeRoom(uint64_t now) SV_REQUIRES(mutex_);

    Clock steadyMs_;
    size_t maxAddresses_;
    int maxHandshakes_;
    mutable Mutex mutex_;
    std::map<std::string, Record> records_ SV_GUARDED_BY(mutex_);
    int totalInFlight_ SV_GUARDED_BY(mutex_) = 0;
};

}  // namespace sv
