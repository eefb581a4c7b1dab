#include "session/lan/lan_channels.h"

namespace sv {

SecureChannel* LanChannelSet::Add(std::unique_ptr<SecureChannel> channel, Binding binding) {
    SecureChannel* raw = channel.get();
    if (!raw) return nullptr;
    MutexLock lock(mutex_);
    entries_.push_back(Entry{std::move(channel), std::move(binding)});
    return raw;
}

std::unique_ptr<SecureChannel> LanChannelSet::Remove(SecureChannel* channel, Binding& binding) {
    std::unique_ptr<SecureChannel> out;
    {
        MutexLock lock(mutex_);
        for (auto it = entries_.begin(); it != entries_.end(); ++it) {
            if (it->channel.get() != channel) continue;
            out = std::move(it->channel);
            binding = std::move(it->binding);
            entries_.erase(it);
            break;
        }
    }
    if (out) out->Close();
    return out;
}

void LanChannelSet::ShutdownAll() {
    MutexLock lock(mutex_);
    for (Entry& e : entries_) e.channel->Shutdown();
}

void LanChannelSet::ShutdownBoundTo(const std::string& controllerId) {
    MutexLock lock(mutex_);
    for (Entry& e : entries_) {
        if (!e.binding.controllerId.empty() && e.binding.controllerId == controllerId) e.channel->Shutdown();
    }
}

bool LanChannelSet::SendToAll(const std::vector<uint8_t>& bytes, uint8_t type) {
    MutexLock lock(mutex_);
    bool all = !entries_.empty();
    for (Entry& e : entries_) {
        try {
            all = e.channel->SendFrame(bytes, type) && all;
        } catch (...) {
            all = false;
        }
    }
    return all;
}

bool LanChannelSet::SendTo(SecureChannel* channel, const std::vector<uint8_t>& bytes, uint8_t type) {
    MutexLock lock(mutex_);
    for (Entry& e : entries_) {
        if (e.channel.get() != channel) continue;
        try {
            return e.channel->SendFrame(bytes, type);
        } catch (...) {
            return false;
        }
    }
    return false;
}

void LanChannelSet::ShutdownPeersOutside(uint64_t pass) {
    MutexLock lock(mutex_);
    for (Entry& e : entries_) {
        if (e.binding.controllerId.empty() && e.binding.pass != pass) e.channel->Shutdown();
    }
}

std::vector<std::string> LanChannelSet::BoundIds() const {
    MutexLock lock(mutex_);
    std::vector<std::string> ids;
    for (const Entry& e : entries_) {
        if (!e.binding.controllerId.empty()) ids.push_back(e.binding.controllerId);
    }
    return ids;
}

size_t LanChannelSet::Size() const {
    MutexLock lock(mutex_);
    return entries_.size();
}

}  // namespace sv
