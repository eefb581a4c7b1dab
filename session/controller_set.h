#pragma once
// Who is watching: one record per controller that joined through the relay, and one
// shared record, under the key "lan", for the password-mode LAN peers that the relay
// does not know. Each record holds what the stream keeps per controller (tile
// preference, last acknowledged frame); a leaver's record goes with it, and nothing is
// recorded for a key that is not in the set, so the records cannot outgrow the set.
//
// A relay pass ends with Clear(); password-mode peers are counted against the pass
// they joined in, so the late leave of a peer from an ended pass cannot count down a
// controller of the next one.
#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "base/annotated_mutex.h"

namespace sv {

// The key and audit actor of every password-mode LAN peer.
extern const char* const kLanPeerKey;

class ControllerSet {
public:
    // A relay controller joins; false (nothing changes) for an empty or repeated id.
    bool Join(const std::string& id);
    // A password-mode peer joins; gives the pass it was counted in.
    uint64_t JoinLanPeer();
    // False when the id is not in the set (nothing changes).
    bool Leave(const std::string& id);
    // False when no peer of that pass is still counted.
    bool LeaveLanPeer(uint64_t pass);
    // Ends the pass: every controller and record goes.
    void Clear();

    uint64_t Pass() const;
    bool HasRelayController(const std::string& id) const;
    // Whether per-controller state may be kept under `key` (a relay id, or "lan" while a
    // password-mode peer is counted).
    bool IsKnown(const std::string& key) const;

    // One "on"/"off" of the stream; the off count never exceeds the controllers.
    void SwitchStream(bool on);
    // False when `key` is not known.
    bool SetTiles(const std::string& key, bool tiles);
    bool RecordAck(const std::string& key, uint32_t seq);
    void ClearAcks();

    int32_t Count() const;      // relay controllers and password-mode peers
    int32_t Watching() const;   // Count() less those that switched the stream off
    bool WantTiles() const;     // somebody watches and every watcher could be an acceptor
    std::map<std::string, uint32_t> Acks() const;
    // True when some relay controller is in the set and no password-mode peer is, and
    // every relay controller is among `lanIds`.
    bool AllOnLan(const std::vector<std::string>& lanIds) const;
    bool HasRelayControllers() const;

private:
    struct Record {
        bool tiles = false;
        bool acked = false;
        uint32_t ack = 0;
    };
    bool IsKnownLocked(const std::string& key) const SV_REQUIRES(mutex_);
    int32_t CountLocked() const SV_REQUIRES(mutex_) { return static_cast<int32_t>(relay_.size()) + lanPeers_; }

    mutable Mutex mutex_;
    std::map<std::string, Record> relay_ SV_GUARDED_BY(mutex_);
    int32_t lanPeers_ SV_GUARDED_BY(mutex_) = 0;
    Record lanRecord_ SV_GUARDED_BY(mutex_);
    int32_t streamOff_ SV_GUARDED_BY(mutex_) = 0;
    uint64_t pass_ SV_GUARDED_BY(mutex_) = 1;
};

}  // namespace sv
