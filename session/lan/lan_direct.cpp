#include "session/lan/lan_direct.h"

#include <windows.h>

#include <chrono>
#include <exception>

#include "base/elapsed_time.h"
#include "base/json_fields.h"
#include "net/lan_lockout.h"
#include "net/lan_server.h"
#include "net/secure_channel.h"
#include "net/srp.h"
#include "base/settings_file.h"
#include "session/lan/lan_firewall.h"
#include "session/lan/lan_settings.h"

namespace sv {

int32_t ReadLanPort(int32_t optionPort, const std::string& dataDir, std::string* warning) {
    std::optional<std::string> text;
    const SettingsFile settings = SettingsFile::InDataDir(dataDir);
    // A link or junction in the data directory must not open a port.
    if (optionPort == 0) text = settings.PlainText();
    const LanPortChoice choice = ChooseLanPortSaying(optionPort, text);
    if (!choice.problem.empty() && warning != nullptr) {
        *warning = "LAN direct is off: in " + settings.Path() + ", " + choice.problem;
    }
    return choice.port;
}

LanDirect::LanDirect(Links links) : links_(std::move(links)) {
    if (!links_.commandRunner) links_.commandRunner = RunHiddenCommand;
    if (!links_.lockout) {
        links_.lockout = std::make_shared<LanLockout>([] { return static_cast<uint64_t>(SteadyMilliseconds()); });
    }
    if (!links_.stopping) links_.stopping = [] { return false; };
    if (!links_.warn) links_.warn = [](const std::string&) {};
    if (links_.watchPeriodSeconds <= 0) links_.watchPeriodSeconds = 15;
}

LanDirect::~LanDirect() { Shutdown(); }

void LanDirect::Shutdown() {
    // The watcher restarts the listener on an address change: it ends before the listener.
    std::thread watcher;
    {
        MutexLock lock(watchMutex_);
        closing_.store(true);
        watchWake_.NotifyAll();
        watcher = std::move(addressWatcher_);
    }
    if (watcher.joinable()) watcher.join();
    {
        // Its callbacks hand channels over: none after this.
        MutexLock lock(listenerMutex_);
        if (listener_) listener_->Stop();
        listener_.reset();
    }
    channels_.ShutdownAll();
}

void LanDirect::InstallListener(std::unique_ptr<LanServer> server, bool passwordMode) {
    MutexLock lock(listenerMutex_);
    if (closing_.load() || links_.stopping()) return;  // no listener that would call into a host going away
    // The old listener lets go of the port before the new one binds it.
    if (listener_) listener_->Stop();
    listener_ = std::move(server);
    passwordMode_ = passwordMode;
    listener_->Start();
}

bool LanDirect::Listening() {
    MutexLock lock(listenerMutex_);
    return listener_ && listener_->IsListening();
}

void LanDirect::AuditStart(int32_t port, const char* mode) {
    bool ok = EnsureFirewallRule(port, links_.commandRunner);
    bool listening = false;
    int error = 0;
    {
        MutexLock lock(listenerMutex_);
        listening = listener_ && listener_->IsListening();
        error = listener_ ? listener_->ListenError() : 0;
    }
    std::string detail = std::string(listening ? "listening" : "NOT listening") + " on port " + std::to_string(port) +
                         mode + ", firewall rule " + (ok ? "present" : "FAILED (not elevated?)");
    // A host that is stopping started no listener on purpose: nothing to tell.
    if (!listening && !closing_.load() && !links_.stopping()) {
        const std::string cause = ListenFailureCause(error, port);
        detail += "; " + cause;
        links_.warn("LAN direct is not listening on port " + std::to_string(port) + ": " + cause +
                    "; choose another port with --lan or \"LanPort\" in host-ui.json");
    }
    links_.audit("lan", detail);
}

void LanDirect::StartLanWithPassword(int32_t port, const std::string& password) {
    listenPort_.store(port);
    std::vector<uint8_t> salt = RandomBytes32();
    std::vector<uint8_t> verifier = SrpMakeVerifier(SrpSalt(salt), SrpPassword(password));
    auto server = std::make_unique<LanServer>(links_.lockout);
    server->InitForPassword(static_cast<uint32_t>(port), std::move(salt), std::move(verifier),
                            [this](std::unique_ptr<SecureChannel> channel) { OnLanChannelOpened(std::move(channel)); });
    InstallListener(std::move(server), true);
    AuditStart(port, "");
}

void LanDirect::StartLanWithTickets(int32_t port) {
    listenPort_.store(port);
    auto server = std::make_unique<LanServer>(links_.lockout);
    server->InitForTickets(
        static_cast<uint32_t>(port), [this](const std::string& id, LanTicket& out) { return FindLanTicket(id, out); },
        [this](std::unique_ptr<SecureChannel> channel, const std::string& controllerId, const std::string& peer) {
            OnLanChannelMessage(std::move(channel), controllerId, peer);
        });
    InstallListener(std::move(server), false);
    AuditStart(port, " (tickets)");
    MutexLock lock(watchMutex_);
    if (!addressWatcher_.joinable() && !closing_.load() && !links_.stopping()) {
        addressWatcher_ = std::thread([this] { WatchLanAddresses(); });
    }
}

void LanDirect::RenewPassword(const std::string& password) {
    // Only a listener that admits by the password is renewed: a ticket listener must not
    // turn into one that admits whoever reads the password off the screen.
    int32_t port = 0;
    {
        MutexLock lock(listenerMutex_);
        if (!passwordMode_ || !listener_) return;
        port = listenPort_.load();
        if (port <= 0) port = static_cast<int32_t>(listener_->Port());
    }
    StartLanWithPassword(port, password);
}

void LanDirect::WatchLanAddresses() {
    std::vector<std::string> known = links_.privateAddresses();
    int seconds = 0;
    for (;;) {
        {
            // One-second steps; Shutdown ends the wait at once.
            MutexLock lock(watchMutex_);
            if (watchWake_.WaitFor(lock, std::chrono::seconds(1),
                                    [this] { return closing_.load() || links_.stopping(); })) {
                break;
            }
        }
        if (++seconds % links_.watchPeriodSeconds != 0) continue;
        std::vector<std::string> current = links_.privateAddresses();
        if (current == known) continue;
        known = current;
        {
            MutexLock lock(listenerMutex_);
            if (listener_) listener_->Restart();
        }
        links_.audit("lan", "addresses changed, " + std::to_string(current.size()) + " private");
        AdvertiseLan();
    }
}

std::optional<LanEndpoints> LanDirect::ListeningEndpoints(bool allLocalAddresses) {
    uint32_t port = 0;
    {
        MutexLock lock(listenerMutex_);
        if (!listener_ || !listener_->IsListening()) return std::nullopt;
        port = listener_->Port();
    }
    if (allLocalAddresses) return LanEndpoints{static_cast<int64_t>(port), links_.localAddresses()};
    return PrivateEndpoints();
}

LanEndpoints LanDirect::PrivateEndpoints() { return LanEndpoints{listenPort_.load(), links_.privateAddresses()}; }

std::string LanDirect::BuildLanEndpoints() { return LanEndpointsText(PrivateEndpoints()); }

void LanDirect::AdvertiseLan() { links_.sendRelayText(LanAdvertiseMessage(PrivateEndpoints())); }

void LanDirect::OnLanTicketMessage(const IncomingMessage& m) {
    std::string ticketId = JsonStringOrEmpty(m.body, "ticketId");
    std::string secret = JsonStringOrEmpty(m.body, "secret");
    std::string controllerId = JsonStringOrEmpty(m.body, "controllerId");
    // The verifier takes a while to compute: not on the relay's receiving thread.
    links_.runDetached([this, ticketId, secret, controllerId] { PrepareLanTicket(ticketId, secret, controllerId); });
}

void LanDirect::OnLanRevokeMessage(const IncomingMessage& m) {
    std::string controllerId = JsonStringOrEmpty(m.body, "controllerId");
    links_.audit("lan-revoke", controllerId);
    RevokeLanTickets(controllerId);
}

void LanDirect::PrepareLanTicket(const std::string& ticketId, const std::string& secret,
                                 const std::string& controllerId) {
    if (ticketId.empty() || secret.empty() || controllerId.empty()) return;
    if (!Listening()) return;
    LanTicketRecord record;
    record.salt = RandomBytes32();
    if (record.salt.empty()) return;
    record.verifier = SrpMakeVerifier(SrpSalt(record.salt), SrpPassword(secret));
    if (record.verifier.empty()) return;
    record.controllerId = controllerId;
    if (!tickets_.Store(ticketId, std::move(record), GetTickCount64())) return;
    links_.sendRelayText(LanTicketReadyMessage(ticketId));
}

bool LanDirect::FindLanTicket(const std::string& ticketId, LanTicket& out) {
    LanTicketRecord record;
    if (!tickets_.Take(ticketId, GetTickCount64(), record)) return false;
    out.salt = std::move(record.salt);
    out.verifier = std::move(record.verifier);
    out.controllerId = std::move(record.controllerId);
    return true;
}

void LanDirect::RevokeLanTickets(const std::string& controllerId) {
    // A revoked controller must not come back through a ticket it has not used yet.
    tickets_.RemoveController(controllerId);
    channels_.ShutdownBoundTo(controllerId);
}

void LanDirect::OnLanChannelOpened(std::unique_ptr<SecureChannel> owned) {
    // The peer counts in this relay pass only; its leave is matched against the same pass.
    const uint64_t pass = links_.joinPasswordPeer();
    SecureChannel* channel = channels_.Add(std::move(owned), LanChannelSet::Binding{std::string(), pass});
    links_.passwordPeerJoined();
    // A password-mode peer is not the relay and is no relay controller: the table drops
    // what only the relay may send, and its sender is always "lan".
    StartReceiving(channel, MessageSource::kLanPassword, std::string());
}

void LanDirect::OnLanChannelMessage(std::unique_ptr<SecureChannel> owned, const std::string& controllerId,
                                    const std::string& peerAddress) {
    const auto orphan = [&] { links_.audit("lan-ticket-orphan", controllerId + " from " + peerAddress); };
    if (!links_.isRelayController(controllerId)) {
        orphan();
        owned->Close();
        return;
    }
    SecureChannel* channel = channels_.Add(std::move(owned), LanChannelSet::Binding{controllerId, 0});
    // The controller may have left between the check and the registration above; its
    // "peer-left" then found no channel to shut down: this channel goes unannounced.
    if (!links_.isRelayController(controllerId)) {
        LanChannelSet::Binding binding;
        channels_.Remove(channel, binding);
        orphan();
        return;
    }
    UpdateLanPathState();
    links_.audit("lan-path", "on " + controllerId + " from " + peerAddress);
    SendLanPath(controllerId, true, peerAddress);
    links_.requestKeyframe();
    const auto size = links_.screenSize();
    const std::string text = ResolutionMessage(size.first, size.second);
    channels_.SendTo(channel, std::vector<uint8_t>(text.begin(), text.end()), 0);
    StartReceiving(channel, MessageSource::kLanTicket, controllerId);
}

void LanDirect::StartReceiving(SecureChannel* channel, MessageSource source, const std::string& controllerId) {
    if (!links_.runDetached([this, channel, source, controllerId] { ReceiveLanFrames(channel, source, controllerId); })) {
        OnLanPeerClosed(channel);
    }
}

void LanDirect::ReceiveLanFrames(SecureChannel* channel, MessageSource source, const std::string& controllerId) {
    try {
        std::vector<uint8_t> payload;
        bool binary = false;
        while (channel->ReceiveFrame(payload, binary)) {
            if (binary) continue;
            links_.dispatch(std::string(payload.begin(), payload.end()), source, controllerId);
        }
    } catch (const std::exception&) {
        // A corrupt or replayed frame ends the channel like a closed one.
    }
    OnLanPeerClosed(channel);
}

void LanDirect::OnLanPeerClosed(SecureChannel* channel) {
    LanChannelSet::Binding binding;
    // Removal closes and frees the channel; a second call finds nothing.
    if (!channels_.Remove(channel, binding)) return;
    if (binding.controllerId.empty()) {
        links_.passwordPeerLeft(binding.pass);
        return;
    }
    links_.audit("lan-path", "off " + binding.controllerId);
    UpdateLanPathState();
    SendLanPath(binding.controllerId, false, "");
    links_.requestKeyframe();
}

void LanDirect::UpdateLanPathState() { allOnLan_.exchange(links_.allControllersOnLan(channels_.BoundIds())); }

bool LanDirect::SendToChannels(const std::vector<uint8_t>& bytes, uint8_t frameType) {
    return channels_.SendToAll(bytes, frameType);
}

void LanDirect::ShutdownChannels() { channels_.ShutdownAll(); }

void LanDirect::EndRelayPass() {
    tickets_.Clear();
    allOnLan_.store(false);
    // Every LAN channel goes, password-mode peers included: the controllers are cleared
    // next, and a channel left open would be a peer that still sees the screen but no
    // longer counts. Their late leaves belong to the ended pass and count in no other.
    channels_.ShutdownAll();
}

void LanDirect::ShutdownPeersOutside(uint64_t pass) { channels_.ShutdownPeersOutside(pass); }

void LanDirect::SendLanPath(const std::string& controllerId, bool active, const std::string& peerAddress) {
    links_.sendRelayText(LanPathMessage(controllerId, active, peerAddress));
}

}  // namespace sv
