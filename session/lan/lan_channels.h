#pragma once
// The open LAN channels, owned here from the listener's hand-over until their receive
// loop ends. A channel is either bound to a relay controller (ticket mode) or a
// password-mode peer counted in one relay pass. Removal is the one place a channel is
// closed and freed; everything else only shuts channels down, which ends their loops.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/annotated_mutex.h"

#include "net/secure_channel.h"

namespace sv {

class LanChannelSet {
public:
    struct Binding {
        std::string controllerId;  // empty for a password-mode peer
        uint64_t pass = 0;         // password-mode peers: the pass their join was counted in
    };

    // Takes the channel; the pointer stays valid until Remove gives it back.
    SecureChannel* Add(std::unique_ptr<SecureChannel> channel, Binding binding);
    // Takes the channel out; null when it was already removed.
    std::unique_ptr<SecureChannel> Remove(SecureChannel* channel, Binding& binding);

    void ShutdownAll();
    void ShutdownBoundTo(const std::string& controllerId);
    // Password-mode peers counted in a pass other than `pass`: they no longer count.
    void ShutdownPeersOutside(uint64_t pass);
    // Every channel gets the bytes; true when there was at least one channel and every
    // send succeeded.
    bool SendToAll(const std::vector<uint8_t>& bytes, uint8_t type);
    bool SendTo(SecureChannel* channel, const std::vector<uint8_t>& bytes, uint8_t type);
    std::vector<std::string> BoundIds() const;
    size_t Size() const;

private:
    struct Entry {
        std::unique_ptr<SecureChannel> channel;
        Binding binding;
    };
    mutable Mutex mutex_;
    std::vector<Entry> entries_ SV_GUARDED_BY(mutex_);
};

}  // namespace sv
