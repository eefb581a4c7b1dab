#include "session/controller_set.h"

#include <algorithm>

#include "session/lan/lan_settings.h"
#include "session/screen/stream_rules.h"

namespace sv {

const char* const kLanPeerKey = "lan";

bool ControllerSet::Join(const std::string& id) {
    if (id.empty()) return false;
    MutexLock lock(mutex_);
    return relay_.emplace(id, Record()).second;
}

uint64_t ControllerSet::JoinLanPeer() {
    MutexLock lock(mutex_);
    ++lanPeers_;
    return pass_;
}

bool ControllerSet::Leave(const std::string& id) {
    MutexLock lock(mutex_);
    if (relay_.erase(id) == 0) return false;
    streamOff_ = std::min(streamOff_, CountLocked());
    return true;
}

bool ControllerSet::LeaveLanPeer(uint64_t pass) {
    MutexLock lock(mutex_);
    if (pass != pass_ || lanPeers_ == 0) return false;
    if (--lanPeers_ == 0) lanRecord_ = Record();
    streamOff_ = std::min(streamOff_, CountLocked());
    return true;
}

void ControllerSet::Clear() {
    MutexLock lock(mutex_);
    relay_.clear();
    lanPeers_ = 0;
    lanRecord_ = Record();
    streamOff_ = 0;
    ++pass_;
}

uint64_t ControllerSet::Pass() const {
    MutexLock lock(mutex_);
    return pass_;
}

bool ControllerSet::HasRelayController(const std::string& id) const {
    MutexLock lock(mutex_);
    return relay_.count(id) != 0;
}

bool ControllerSet::IsKnownLocked(const std::string& key) const {
    if (key == kLanPeerKey && lanPeers_ > 0) return true;
    return relay_.count(key) != 0;
}

bool ControllerSet::IsKnown(const std::string& key) const {
    MutexLock lock(mutex_);
    return IsKnownLocked(key);
}

void ControllerSet::SwitchStream(bool on) {
    MutexLock lock(mutex_);
    if (on) {
        if (streamOff_ > 0) --streamOff_;
    } else if (streamOff_ < CountLocked()) {
        ++streamOff_;
    }
}

bool ControllerSet::SetTiles(const std::string& key, bool tiles) {
    MutexLock lock(mutex_);
    if (key == kLanPeerKey && lanPeers_ > 0) {
        lanRecord_.tiles = tiles;
        return true;
    }
    auto it = relay_.find(key);
    if (it == relay_.end()) return false;
    it->second.tiles = tiles;
    return true;
}

bool ControllerSet::RecordAck(const std::string& key, uint32_t seq) {
    MutexLock lock(mutex_);
    Record* r = nullptr;
    if (key == kLanPeerKey && lanPeers_ > 0) {
        r = &lanRecord_;
    } else {
        auto it = relay_.find(key);
        if (it == relay_.end()) return false;
        r = &it->second;
    }
    r->acked = true;
    r->ack = seq;
    return true;
}

void ControllerSet::ClearAcks() {
    MutexLock lock(mutex_);
    lanRecord_.acked = false;
    for (auto& entry : relay_) entry.second.acked = false;
}

int32_t ControllerSet::Count() const {
    MutexLock lock(mutex_);
    return CountLocked();
}

int32_t ControllerSet::Watching() const {
    MutexLock lock(mutex_);
    return CountLocked() - streamOff_;
}

bool ControllerSet::WantTiles() const {
    MutexLock lock(mutex_);
    size_t acceptors = (lanPeers_ > 0 && lanRecord_.tiles) ? 1 : 0;
    for (const auto& entry : relay_) acceptors += entry.second.tiles ? 1 : 0;
    return WantTilesMode(CountLocked(), streamOff_, acceptors);
}

std::map<std::string, uint32_t> ControllerSet::Acks() const {
    MutexLock lock(mutex_);
    std::map<std::string, uint32_t> out;
    if (lanPeers_ > 0 && lanRecord_.acked) out[kLanPeerKey] = lanRecord_.ack;
    for (const auto& entry : relay_) {
        if (entry.second.acked) out[entry.first] = entry.second.ack;
    }
    return out;
}

bool ControllerSet::AllOnLan(const std::vector<std::string>& lanIds) const {
    MutexLock lock(mutex_);
    std::set<std::string> ids;
    for (const auto& entry : relay_) ids.insert(entry.first);
    return AllControllersOnLan(ids, CountLocked(), lanIds);
}

bool ControllerSet::HasRelayControllers() const {
    MutexLock lock(mutex_);
    return !relay_.empty();
}

}  // namespace sv
