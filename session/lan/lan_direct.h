#pragma once
// LAN direct on the host's side: the listener in one of its two modes, the one-time
// tickets of an enrolled device, the open channels and their receive loop, the state in
// which every controller is on the LAN, and the watcher that restarts the listener when
// the private addresses change.
//
// It reaches the rest of the host only through the Links it is given: the relay
// connection, the dispatcher, the controller set and the host's counted detached work.
//
// Locks (see the table in session/host.h):
// - the listener lock guards the listener, its mode and its port. It is taken with no
//   other lock held and is held while a listener starts, stops or restarts. Stopping
//   waits for the listener's connection threads and the callbacks they run, which send on
//   the relay and the channels, so nothing those callbacks reach (OnLanChannelOpened,
//   OnLanChannelMessage, FindLanTicket and the links they call) takes it.
// - the watch lock only pairs with the watcher's wake-up; nothing is called under it.
// - the channel set and the ticket table have locks of their own, leaves both; a text
//   goes out on the channels under the channel set's lock.
// No link but `stopping` (a flag read) is called with a LanDirect lock held.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "base/annotated_mutex.h"

#include "session/host_options.h"
#include "session/lan/lan_channels.h"
#include "session/lan/lan_tickets.h"
#include "session/relay/message_table.h"
#include "session/relay/relay_messages.h"

namespace sv {

class LanLockout;
class LanServer;
class SecureChannel;
struct LanTicket;

// The port LAN direct listens on: `optionPort` (--lan) when not 0, else host-ui.json in
// `dataDir`; 0 or below means off. When a value in the file asked for LAN direct but
// turned it off, `warning` (when given) gets one line that names the file and the value.
int32_t ReadLanPort(int32_t optionPort, const std::string& dataDir, std::string* warning = nullptr);

class LanDirect {
public:
    struct Links {
        // The relay connection alone (never the LAN channels).
        std::function<bool(const std::string& text)> sendRelayText;
        // An audit line with no actor.
        std::function<void(const std::string& kind, const std::string& detail)> audit;
        // A line for the person at the console (a listener that could not open its port).
        std::function<void(const std::string& line)> warn;
        // A text frame of a channel, for the dispatcher.
        std::function<void(const std::string& text, MessageSource source, const std::string& controllerId)> dispatch;
        // A password-mode peer: counted in the current relay pass (the pass comes back),
        // then, once its channel is registered, announced (keyframe, stream, resolution);
        // its leave is counted against the pass it joined in.
        std::function<uint64_t()> joinPasswordPeer;
        std::function<void()> passwordPeerJoined;
        std::function<void(uint64_t pass)> passwordPeerLeft;
        // Whether the id joined through the relay, and whether every joined controller is
        // among the ids with a LAN channel.
        std::function<bool(const std::string& controllerId)> isRelayController;
        std::function<bool(const std::vector<std::string>& lanIds)> allControllersOnLan;
        std::function<void()> requestKeyframe;
        std::function<std::pair<int32_t, int32_t>()> screenSize;
        std::function<std::vector<std::string>()> privateAddresses;
        std::function<std::vector<std::string>()> localAddresses;
        // Runs work on a detached thread its owner waits for; false when it did not start.
        std::function<bool(std::function<void()>)> runDetached;
        // The host is stopping: no new listener, and the address watcher ends.
        std::function<bool()> stopping;
        HiddenCommandRunner commandRunner;      // empty: RunHiddenCommand
        std::shared_ptr<LanLockout> lockout;    // empty: a table of its own
        int32_t watchPeriodSeconds = 15;
    };

    explicit LanDirect(Links links);
    ~LanDirect();  // shuts down
    LanDirect(const LanDirect&) = delete;
    LanDirect& operator=(const LanDirect&) = delete;

    // Listener modes. Each replaces the current listener and writes the "lan" line.
    void StartLanWithPassword(int32_t port, const std::string& password);
    void StartLanWithTickets(int32_t port);
    // A password-mode listener is renewed with the new password; a ticket listener, or
    // none, stays as it is.
    void RenewPassword(const std::string& password);
    // Ends the watcher, stops the listener for good and shuts every channel down; the
    // receive loops then end on the owner's detached work.
    void Shutdown();

    bool Listening();
    // What registration tells the relay while the listener listens: every local address
    // (classic host) or the private ones (enrolled device).
    std::optional<LanEndpoints> ListeningEndpoints(bool allLocalAddresses);
    std::string BuildLanEndpoints();
    void AdvertiseLan();

    // The relay's "lan-ticket" (the ticket is prepared on the owner's detached work) and
    // "lan-revoke" (audited; the controller's tickets and channels go).
    void OnLanTicketMessage(const IncomingMessage& m);
    void OnLanRevokeMessage(const IncomingMessage& m);

    // Tickets.
    void PrepareLanTicket(const std::string& ticketId, const std::string& secret, const std::string& controllerId);
    bool FindLanTicket(const std::string& ticketId, LanTicket& out);
    // The controller's unused tickets go and its channels are shut down.
    void RevokeLanTickets(const std::string& controllerId);

    // The listener's hand-over of a new channel, in each mode.
    void OnLanChannelOpened(std::unique_ptr<SecureChannel> channel);
    void OnLanChannelMessage(std::unique_ptr<SecureChannel> channel, const std::string& controllerId,
                             const std::string& peerAddress);

    // The channels as the host's ways out and its relay passes see them.
    void UpdateLanPathState();
    bool AllOnLan() const { return allOnLan_.load(); }
    size_t ChannelCount() const { return channels_.Size(); }
    // Every channel gets the bytes; true when there was one and every send succeeded.
    bool SendToChannels(const std::vector<uint8_t>& bytes, uint8_t frameType);
    void ShutdownChannels();
    // A relay pass ended: tickets go, the LAN path is off and every channel is shut down.
    void EndRelayPass();
    // Password-mode peers counted in a pass other than `pass` no longer count.
    void ShutdownPeersOutside(uint64_t pass);
    void SendLanPath(const std::string& controllerId, bool active, const std::string& peerAddress);

private:
    void InstallListener(std::unique_ptr<LanServer> server, bool passwordMode);
    // The listening port with the private addresses, as an enrolled device advertises them.
    LanEndpoints PrivateEndpoints();
    // Makes sure of the firewall rule and writes the "lan" line for a listener just started.
    void AuditStart(int32_t port, const char* mode);
    void WatchLanAddresses();
    // One receive loop for both modes: text frames go to the dispatcher as from `source`
    // (a ticket-mode peer speaks as its controller), binary frames are ignored.
    void ReceiveLanFrames(SecureChannel* channel, MessageSource source, const std::string& controllerId);
    void StartReceiving(SecureChannel* channel, MessageSource source, const std::string& controllerId);
    void OnLanPeerClosed(SecureChannel* channel);

    Links links_;
    std::atomic<bool> closing_{false};

    Mutex listenerMutex_;
    std::unique_ptr<LanServer> listener_ SV_GUARDED_BY(listenerMutex_);
    bool passwordMode_ SV_GUARDED_BY(listenerMutex_) = false;  // the listener admits by password
    std::atomic<int32_t> listenPort_{0};

    LanChannelSet channels_;
    LanTicketTable tickets_;
    std::atomic<bool> allOnLan_{false};

    Mutex watchMutex_;  // with watchWake_: Shutdown ends the watcher's wait at once
    CondVar watchWake_;
    std::thread addressWatcher_;
};

}  // namespace sv
