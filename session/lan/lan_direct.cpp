// The Host's side of LAN direct: listener modes, tickets, channels and the LAN path.
#include "session/lan/lan_direct.h"

#include <windows.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "base/audit_log.h"
#include "base/text_encoding.h"
#include "net/lan_server.h"
#include "net/secure_channel.h"
#include "net/srp.h"
#include "session/host.h"
#include "session/lan/lan_settings.h"
#include "session/screen/screen_capture.h"
#include "session/tools/system_programs.h"
#include "session/screen/stream_rules.h"

namespace sv {
namespace {

using nlohmann::json;
// Outgoing messages keep their keys in the order the controllers and relay expect.
using nlohmann::ordered_json;

std::mutex g_runnerMutex;
HiddenCommandRunner g_runner;

HiddenCommandRunner CurrentRunner() {
    std::lock_guard<std::mutex> lock(g_runnerMutex);
    if (g_runner) return g_runner;
    return RunHiddenCommand;
}

std::wstring OwnProgramPath() {
    wchar_t buf[520];
    DWORD n = GetModuleFileNameW(nullptr, buf, 520);
    if (n == 0 || n >= 520) return std::wstring();
    return std::wstring(buf, n);
}

bool IsRelayOnlyType(const std::string& type) {
    return type == "peer-left" || type == "controller-joined" || type == "registered" || type == "error";
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

void SetHiddenCommandRunner(HiddenCommandRunner runner) {
    std::lock_guard<std::mutex> lock(g_runnerMutex);
    g_runner = std::move(runner);
}

bool EnsureFirewallRule(int32_t port) {
    HiddenCommandRunner run = CurrentRunner();
    FirewallCommands c = BuildFirewallCommands(port, OwnProgramPath());
    run(c.deleteRule);
    if (run(c.addRule) == 0) return true;
    return run(c.showRule) == 0;
}

int32_t Host::ReadLanPort() {
    std::optional<std::string> text;
    if (lanPort_ == 0) {
        std::wstring path = Utf8ToUtf16(dataDir_) + L"\\host-ui.json";
        DWORD attrs = GetFileAttributesW(path.c_str());
        bool regular = attrs != INVALID_FILE_ATTRIBUTES &&
                       (attrs & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
        if (regular) {
            std::ifstream in(path.c_str(), std::ios::binary);
            if (in) {
                std::stringstream ss;
                ss << in.rdbuf();
                text = ss.str();
            }
        }
    }
    return ChooseLanPort(lanPort_, text);
}

void Host::InstallLanServer(std::unique_ptr<LanServer> server) {
    std::unique_ptr<LanServer> old;
    {
        std::lock_guard<std::mutex> lock(lanServerMutex_);
        old = std::move(lanServer_);
        // The old listener must let go of the port before the new one binds it.
        if (old) old->Stop();
        lanServer_ = std::move(server);
        lanServer_->Start();
    }
}

bool Host::LanListening() {
    std::lock_guard<std::mutex> lock(lanServerMutex_);
    return lanServer_ && lanServer_->IsListening();
}

void Host::AuditLanStart(int32_t port, const char* mode) {
    bool ok = EnsureFirewallRule(port);
    WriteAuditLine("lan",
                   std::string(LanListening() ? "listening" : "NOT listening") + " on port " + std::to_string(port) +
                       mode + ", firewall rule " + (ok ? "present" : "FAILED (not elevated?)"),
                   "");
}

void Host::StartLanWithPassword(int32_t port, const std::string& password) {
    lanListenPort_.store(port);
    std::vector<uint8_t> salt = RandomBytes32();
    std::vector<uint8_t> verifier = SrpMakeVerifier(SrpSalt(salt), SrpPassword(password));
    auto server = std::make_unique<LanServer>();
    server->InitForPassword(static_cast<uint32_t>(port), std::move(salt), std::move(verifier),
                            [this](SecureChannel* channel) { OnLanChannelOpened(channel); });
    InstallLanServer(std::move(server));
    AuditLanStart(port, "");
}

void Host::StartLanWithTickets(int32_t port) {
    lanListenPort_.store(port);
    auto server = std::make_unique<LanServer>();
    server->InitForTickets(
        static_cast<uint32_t>(port), [this](const std::string& id, LanTicket& out) { return FindLanTicket(id, out); },
        [this](SecureChannel* channel, const std::string& controllerId, const std::string& peer) {
            OnLanChannelMessage(channel, controllerId, peer);
        });
    InstallLanServer(std::move(server));
    AuditLanStart(port, " (tickets)");
    if (!addressWatcher_.joinable()) addressWatcher_ = std::thread([this] { WatchLanAddresses(); });
}

void Host::WatchLanAddresses() {
    std::vector<std::string> known = platform_.privateAddresses();
    const int period = platform_.lanWatchPeriodSeconds > 0 ? platform_.lanWatchPeriodSeconds : 15;
    int seconds = 0;
    while (!stop_.load()) {
        std::this_thread::sleep_until(std::chrono::steady_clock::now() + std::chrono::seconds(1));
        if (stop_.load()) break;
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
    ordered_json j;
    j["port"] = lanListenPort_.load();
    j["addrs"] = platform_.privateAddresses();
    return j.dump();
}

void Host::AdvertiseLan() {
    ordered_json endpoints = ordered_json::parse(BuildLanEndpoints(), nullptr, false);
    ordered_json lan = nullptr;
    if (endpoints.is_object()) {
        auto it = endpoints.find("addrs");
        if (it != endpoints.end() && !it->is_null() && !it->empty()) lan = endpoints;
    }
    ordered_json msg;
    msg["type"] = "lan-advertise";
    msg["lan"] = lan;
    platform_.sendRelayText(msg.dump());
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
    ordered_json msg;
    msg["type"] = "lan-ticket-ready";
    msg["ticketId"] = ticketId;
    platform_.sendRelayText(msg.dump());
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
    std::lock_guard<std::mutex> lock(channelMutex_);
    for (auto& entry : channelControllers_) {
        if (entry.second == controllerId) entry.first->Shutdown();
    }
}

void Host::OnLanChannelOpened(SecureChannel* channel) {
    {
        std::lock_guard<std::mutex> lock(channelMutex_);
        channels_.push_back(channel);
    }
    OnControllerJoined("");
    RunDetached([this, channel] { ReceiveLanFrames(channel); });
}

void Host::ReceiveLanFrames(SecureChannel* channel) {
    try {
        std::vector<uint8_t> payload;
        bool binary = false;
        while (channel->ReceiveFrame(payload, binary)) {
            if (binary) continue;
            std::string text(payload.begin(), payload.end());
            // A password-mode peer is not the relay: the messages only the relay may send
            // (one forged "error" would end the relay loop for good) are dropped.
            json msg = json::parse(text, nullptr, false);
            if (msg.is_discarded() || !msg.is_object()) continue;
            auto type = msg.find("type");
            if (type != msg.end() && type->is_string() && IsRelayOnlyType(type->get<std::string>())) continue;
            DispatchMessage(text);
        }
    } catch (const std::exception&) {
    }
    OnLanPeerClosed(channel);
}

void Host::OnLanChannelMessage(SecureChannel* channel, const std::string& controllerId,
                               const std::string& peerAddress) {
    bool joined;
    {
        std::lock_guard<std::mutex> lock(controllerMutex_);
        joined = controllerIds_.count(controllerId) != 0;
    }
    if (!joined) {
        WriteAuditLine("lan-ticket-orphan", controllerId + " from " + peerAddress, "");
        channel->Close();
        delete channel;
        return;
    }
    {
        std::lock_guard<std::mutex> lock(channelMutex_);
        channels_.push_back(channel);
        channelControllers_[channel] = controllerId;
    }
    // The controller may have left between the check and the registration above; its
    // "peer-left" then found no channel to shut down, so do it here.
    {
        std::lock_guard<std::mutex> lock(controllerMutex_);
        joined = controllerIds_.count(controllerId) != 0;
    }
    if (!joined) channel->Shutdown();
    UpdateLanPathState();
    WriteAuditLine("lan-path", "on " + controllerId + " from " + peerAddress, "");
    SendLanPath(controllerId, true, peerAddress);
    keyframeRequest_.store(true);
    {
        auto size = GetScreenSize();
        std::string text = ResolutionMessage(size.first, size.second);
        std::lock_guard<std::mutex> lock(channelMutex_);
        try {
            channel->SendFrame(std::vector<uint8_t>(text.begin(), text.end()), 0);
        } catch (...) {
        }
    }
    RunDetached([this, channel, controllerId] { ReceiveLanMessages(channel, controllerId); });
}

void Host::ReceiveLanMessages(SecureChannel* channel, const std::string& controllerId) {
    try {
        std::vector<uint8_t> payload;
        bool binary = false;
        while (channel->ReceiveFrame(payload, binary)) {
            if (binary) continue;
            json msg = json::parse(payload.begin(), payload.end(), nullptr, false);
            if (msg.is_discarded() || !msg.is_object()) continue;
            auto type = msg.find("type");
            if (type != msg.end() && type->is_string() && IsRelayOnlyType(type->get<std::string>())) continue;
            msg["from"] = controllerId;
            DispatchMessage(msg.dump(-1, ' ', false, json::error_handler_t::replace));
        }
    } catch (const std::exception&) {
    }
    OnLanPeerClosed(channel);
}

void Host::OnLanPeerClosed(SecureChannel* channel) {
    bool found = false;
    std::string controllerId;
    bool bound = false;
    {
        std::lock_guard<std::mutex> lock(channelMutex_);
        for (auto it = channels_.begin(); it != channels_.end(); ++it) {
            if (*it == channel) {
                channels_.erase(it);
                found = true;
                break;
            }
        }
        auto bind = channelControllers_.find(channel);
        if (bind != channelControllers_.end()) {
            controllerId = bind->second;
            bound = true;
            channelControllers_.erase(bind);
        }
    }
    if (!found) return;
    channel->Close();
    delete channel;
    if (!bound) {
        OnPeerLeft("");
        return;
    }
    WriteAuditLine("lan-path", "off " + controllerId, "");
    UpdateLanPathState();
    SendLanPath(controllerId, false, "");
    keyframeRequest_.store(true);
}

void Host::UpdateLanPathState() {
    std::vector<std::string> lanIds;
    {
        std::lock_guard<std::mutex> lock(channelMutex_);
        for (auto& entry : channelControllers_) lanIds.push_back(entry.second);
    }
    bool all;
    {
        std::lock_guard<std::mutex> lock(controllerMutex_);
        all = AllControllersOnLan(controllerIds_, controllerCount_, lanIds);
    }
    allOnLan_.exchange(all);
}

void Host::SendLanPath(const std::string& controllerId, bool active, const std::string& peerAddress) {
    ordered_json msg;
    msg["type"] = "lan-path";
    msg["controllerId"] = controllerId;
    msg["active"] = active;
    if (active) msg["ip"] = peerAddress;
    platform_.sendRelayText(msg.dump());
}

}  // namespace sv
