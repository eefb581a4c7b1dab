// The Host's side of LAN direct: listener modes, tickets, channels and the LAN path.
#include "session/lan/lan_direct.h"

#include <windows.h>

#include <chrono>
#include <thread>
#include <vector>

#include "base/audit_log.h"
#include "base/text_encoding.h"
#include "net/lan_server.h"
#include "net/secure_channel.h"
#include "net/srp.h"
#include "session/host.h"
#include "session/identity_files.h"
#include "session/relay/relay_messages.h"
#include "session/lan/lan_settings.h"
#include "session/screen/screen_capture.h"
#include "session/tools/system_programs.h"
#include "session/screen/stream_rules.h"

namespace sv {
namespace {

std::wstring OwnProgramPath() {
    wchar_t buf[520];
    DWORD n = GetModuleFileNameW(nullptr, buf, 520);
    if (n == 0 || n >= 520) return std::wstring();
    return std::wstring(buf, n);
}

}  // namespace

uint32_t RunHiddenCommand(const std::wstring& commandLine) {
    // netsh is taken from the system directory, never from the search path, so a planted
    // netsh.exe beside the host or in the working directory is never run.
    std::wstring program;
    if (commandLine.compare(0, 6, L"netsh ") == 0) program = SystemProgramPath(L"netsh.exe");
    std::vector<wchar_t> buffer(commandLine.begin(), commandLine.end());
    buffer.push_back(L'\0');
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(program.empty() ? nullptr : program.c_str(), buffer.data(), nullptr, nullptr, FALSE,
                        CREATE_NO_WINDOW, nullptr, nullptr, &si, &pi)) {
        return 0xFFFFFFFFu;
    }
    WaitForSingleObject(pi.hProcess, 30000);
    DWORD code = 0;
    if (!GetExitCodeProcess(pi.hProcess, &code)) code = 0xFFFFFFFFu;
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return code;
}

bool EnsureFirewallRule(int32_t port, const HiddenCommandRunner& run) {
    FirewallCommands c = BuildFirewallCommands(port, OwnProgramPath());
    run(c.deleteRule);
    if (run(c.addRule) == 0) return true;
    return run(c.showRule) == 0;
}

int32_t Host::ReadLanPort() {
    std::optional<std::string> text;
    if (lanPort_ == 0) {
        // A link or junction in the data directory must not open a port.
        HostUiFile file = ReadHostUiFile(dataDir_);
        if (file.plain && file.readable) text = std::move(file.text);
    }
    return ChooseLanPort(lanPort_, text);
}

void Host::InstallLanServer(std::unique_ptr<LanServer> server, bool passwordMode) {
    std::unique_ptr<LanServer> old;
    {
        std::lock_guard<std::mutex> lock(lanServerMutex_);
        if (stop_.load()) return;  // the Host is going: no listener that would call into it
        old = std::move(lanServer_);
        // The old listener must let go of the port before the new one binds it.
        if (old) old->Stop();
        lanServer_ = std::move(server);
        lanPasswordMode_ = passwordMode;
        lanServer_->Start();
    }
}

bool Host::LanListening() {
    std::lock_guard<std::mutex> lock(lanServerMutex_);
    return lanServer_ && lanServer_->IsListening();
}

void Host::AuditLanStart(int32_t port, const char* mode) {
    bool ok = EnsureFirewallRule(port, commandRunner_);
    WriteAuditLine("lan",
                   std::string(LanListening() ? "listening" : "NOT listening") + " on port " + std::to_string(port) +
                       mode + ", firewall rule " + (ok ? "present" : "FAILED (not elevated?)"),
                   "");
}

void Host::StartLanWithPassword(int32_t port, const std::string& password) {
    lanListenPort_.store(port);
    std::vector<uint8_t> salt = RandomBytes32();
    std::vector<uint8_t> verifier = SrpMakeVerifier(SrpSalt(salt), SrpPassword(password));
    auto server = std::make_unique<LanServer>(lanLockout_);
    server->InitForPassword(static_cast<uint32_t>(port), std::move(salt), std::move(verifier),
                            [this](std::unique_ptr<SecureChannel> channel) { OnLanChannelOpened(std::move(channel)); });
    InstallLanServer(std::move(server), true);
    AuditLanStart(port, "");
}

void Host::StartLanWithTickets(int32_t port) {
    lanListenPort_.store(port);
    auto server = std::make_unique<LanServer>(lanLockout_);
    server->InitForTickets(
        static_cast<uint32_t>(port), [this](const std::string& id, LanTicket& out) { return FindLanTicket(id, out); },
        [this](std::unique_ptr<SecureChannel> channel, const std::string& controllerId, const std::string& peer) {
            OnLanChannelMessage(std::move(channel), controllerId, peer);
        });
    InstallLanServer(std::move(server), false);
    AuditLanStart(port, " (tickets)");
    std::lock_guard<std::mutex> lock(watchMutex_);
    if (!addressWatcher_.joinable() && !stop_.load()) addressWatcher_ = std::thread([this] { WatchLanAddresses(); });
}

void Host::WatchLanAddresses() {
    std::vector<std::string> known = platform_.privateAddresses();
    const int period = platform_.lanWatchPeriodSeconds > 0 ? platform_.lanWatchPeriodSeconds : 15;
    int seconds = 0;
    for (;;) {
        {
            // One-second steps; the destructor ends the wait at once.
            std::unique_lock<std::mutex> lock(watchMutex_);
            if (watchWake_.wait_for(lock, std::chrono::seconds(1), [this] { return stop_.load(); })) break;
        }
        if (++seconds % period != 0) continue;
        std::vector<std::string> current = platform_.privateAddresses();
        if (current == known) continue;
        known = current;
        {
            std::lock_guard<std::mutex> lock(lanServerMutex_);
            if (lanServer_) lanServer_->Restart();
        }
        WriteAuditLine("lan", "addresses changed, " + std::to_string(current.size()) + " private", "");
        AdvertiseLan();
    }
}

std::string Host::BuildLanEndpoints() {
    return LanEndpointsText(LanEndpoints{lanListenPort_.load(), platform_.privateAddresses()});
}

void Host::AdvertiseLan() {
    platform_.sendRelayText(LanAdvertiseMessage(LanEndpoints{lanListenPort_.load(), platform_.privateAddresses()}));
}

void Host::PrepareLanTicket(const std::string& ticketId, const std::string& secret, const std::string& controllerId) {
    if (ticketId.empty() || secret.empty() || controllerId.empty()) return;
    if (!LanListening()) return;
    LanTicketRecord record;
    record.salt = RandomBytes32();
    if (record.salt.empty()) return;
    record.verifier = SrpMakeVerifier(SrpSalt(record.salt), SrpPassword(secret));
    if (record.verifier.empty()) return;
    record.controllerId = controllerId;
    if (!tickets_.Store(ticketId, std::move(record), GetTickCount64())) return;
    platform_.sendRelayText(LanTicketReadyMessage(ticketId));
}

bool Host::FindLanTicket(const std::string& ticketId, LanTicket& out) {
    LanTicketRecord record;
    if (!tickets_.Take(ticketId, GetTickCount64(), record)) return false;
    out.salt = std::move(record.salt);
    out.verifier = std::move(record.verifier);
    out.controllerId = std::move(record.controllerId);
    return true;
}

void Host::RevokeLanTickets(const std::string& controllerId) {
    // A revoked controller must not come back through a ticket it has not used yet.
    tickets_.RemoveController(controllerId);
    channels_.ShutdownBoundTo(controllerId);
}

void Host::OnLanChannelOpened(std::unique_ptr<SecureChannel> owned) {
    // The peer counts in this relay pass only; its leave is matched against the same pass.
    const uint64_t pass = controllers_.JoinLanPeer();
    SecureChannel* channel = channels_.Add(std::move(owned), LanChannelSet::Binding{std::string(), pass});
    stream_.RequestKeyframe();
    AfterMembershipChange();
    stream_.SendResolution();
    if (!workers_.Start([this, channel] { ReceiveLanFrames(channel); })) OnLanPeerClosed(channel);
}

void Host::ReceiveLanFrames(SecureChannel* channel) {
    try {
        std::vector<uint8_t> payload;
        bool binary = false;
        while (channel->ReceiveFrame(payload, binary)) {
            if (binary) continue;
            // A password-mode peer is not the relay and is no relay controller: the table
            // drops what only the relay may send, and its sender is always "lan".
            DispatchLanText(std::string(payload.begin(), payload.end()), MessageSource::kLanPassword, "");
        }
    } catch (const std::exception&) {
    }
    OnLanPeerClosed(channel);
}

void Host::OnLanChannelMessage(std::unique_ptr<SecureChannel> owned, const std::string& controllerId,
                               const std::string& peerAddress) {
    if (!controllers_.HasRelayController(controllerId)) {
        WriteAuditLine("lan-ticket-orphan", controllerId + " from " + peerAddress, "");
        owned->Close();
        return;
    }
    SecureChannel* channel = channels_.Add(std::move(owned), LanChannelSet::Binding{controllerId, 0});
    // The controller may have left between the check and the registration above; its
    // "peer-left" then found no channel to shut down: this channel goes unannounced.
    if (!controllers_.HasRelayController(controllerId)) {
        LanChannelSet::Binding binding;
        channels_.Remove(channel, binding);
        WriteAuditLine("lan-ticket-orphan", controllerId + " from " + peerAddress, "");
        return;
    }
    UpdateLanPathState();
    WriteAuditLine("lan-path", "on " + controllerId + " from " + peerAddress, "");
    SendLanPath(controllerId, true, peerAddress);
    stream_.RequestKeyframe();
    const auto size = platform_.screenSize();
    const std::string text = ResolutionMessage(size.first, size.second);
    channels_.SendTo(channel, std::vector<uint8_t>(text.begin(), text.end()), 0);
    if (!workers_.Start([this, channel, controllerId] { ReceiveLanMessages(channel, controllerId); })) {
        OnLanPeerClosed(channel);
    }
}

void Host::ReceiveLanMessages(SecureChannel* channel, const std::string& controllerId) {
    try {
        std::vector<uint8_t> payload;
        bool binary = false;
        while (channel->ReceiveFrame(payload, binary)) {
            if (binary) continue;
            DispatchLanText(std::string(payload.begin(), payload.end()), MessageSource::kLanTicket, controllerId);
        }
    } catch (const std::exception&) {
    }
    OnLanPeerClosed(channel);
}

void Host::OnLanPeerClosed(SecureChannel* channel) {
    LanChannelSet::Binding binding;
    // Removal closes and frees the channel; a second call finds nothing.
    if (!channels_.Remove(channel, binding)) return;
    if (binding.controllerId.empty()) {
        OnLanPeerLeft(binding.pass);
        return;
    }
    WriteAuditLine("lan-path", "off " + binding.controllerId, "");
    UpdateLanPathState();
    SendLanPath(binding.controllerId, false, "");
    stream_.RequestKeyframe();
}

void Host::UpdateLanPathState() { allOnLan_.exchange(controllers_.AllOnLan(channels_.BoundIds())); }

void Host::SendLanPath(const std::string& controllerId, bool active, const std::string& peerAddress) {
    platform_.sendRelayText(LanPathMessage(controllerId, active, peerAddress));
}

}  // namespace sv
