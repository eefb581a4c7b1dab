// The classic and enrolled run entries, the relay connection loop, the media
// connection and controllers joining and leaving.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <set>
#include <thread>

#include <nlohmann/json.hpp>

#include "base/audit_log.h"
#include "net/lan_server.h"
#include "net/secure_channel.h"
#include "session/host.h"
#include "session/host_identity.h"
#include "base/file_io.h"
#include "session/identity_files.h"
#include "session/relay/reconnect_policy.h"
#include "training/training_agent.h"

namespace sv {
namespace {

using ordered_json = nlohmann::ordered_json;

constexpr uint32_t kConnectTimeoutMs = 60000;

std::string Compact(const ordered_json& value) {
    return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace

// ---------------------------------------------------------------- identity

std::string Host::LoadPassword(const std::string& dataDir) {
    std::string path = JoinDataPath(dataDir, "host-ui.json");
    bool exists = IsRegularFile(path);
    std::string text;
    bool readable = exists && ReadWholeFile(path, text);
    if (readable) {
        std::string candidate = PasswordFromSettingsText(text);
        if (!candidate.empty()) return candidate;
    }
    std::string password = GeneratePassword();
    // A settings file that exists but cannot be read right now (held open by
    // someone else) is not ours to overwrite: this run uses the new password alone.
    if (exists && !readable) return password;
    try {
        EnsureDirectory(dataDir);
        WriteFileAtomically(path, SettingsTextWithNewPassword(text, readable, password, SV_DEFAULT_RELAY_URL,
                                                              SV_DEFAULT_API_BASE));
    } catch (const std::exception&) {
    }
    return password;
}

void Host::RotatePassword() {
    std::string fresh = GeneratePassword();
    try {
        std::string path = JoinDataPath(dataDir_, "host-ui.json");
        bool exists = IsRegularFile(path);
        std::string text;
        bool readable = exists && ReadWholeFile(path, text);
        // As in LoadPassword: an unreadable file keeps its other settings untouched.
        if (readable || !exists) {
            EnsureDirectory(dataDir_);
            WriteFileAtomically(path, SettingsTextWithRotatedPassword(text, fresh));
        }
    } catch (const std::exception&) {
    }
    {
        std::lock_guard<std::mutex> lock(passwordMutex_);
        password_ = fresh;
    }

    // The relay thread reads the listener while registering; it is taken out under
    // its mutex and stopped outside it, so a registration never sees a dying one.
    std::unique_ptr<LanServer> old;
    int32_t port = 0;
    {
        std::lock_guard<std::mutex> lock(lanServerMutex_);
        old = std::move(lanServer_);
        port = lanListenPort_;
        if (old && port <= 0) port = static_cast<int32_t>(old->Port());
    }
    if (old) {
        old->Stop();
        old.reset();
        StartLanWithPassword(port, fresh);
    }

    if (registered_.load()) {
        ordered_json msg;
        msg["type"] = "update-password";
        msg["passwordHash"] = HashPassword(fresh);
        platform_.sendRelayText(Compact(msg));
    }
    WriteAuditLine("password", "rotated", "");
}

int Host::RunClassic() {
    const std::string hostId = LoadOrCreateHostId(dataDir_);
    std::string password = LoadPassword(dataDir_);
    {
        std::lock_guard<std::mutex> lock(passwordMutex_);
        hostId_ = hostId;
        password_ = password;
    }
    int32_t port = ReadLanPort();
    if (port > 0) StartLanWithPassword(port, password);
    std::printf("Sorvane host (Win7)\n  Host ID : %s\n  Password: %s\n", hostId_.c_str(), password.c_str());
    std::fflush(stdout);
    return RunRelayLoop(false);
}

int Host::RunEnrolled(int32_t deviceId, const std::string& deviceSecret) {
    deviceId_ = deviceId;
    deviceSecret_ = deviceSecret;
    int32_t port = ReadLanPort();
    if (port > 0) StartLanWithTickets(port);
    return RunRelayLoop(true);
}

// ---------------------------------------------------------------- registration

bool Host::RegisterHost() {
    if (!relay_.Connect(relayUrl_, caBundlePath_.c_str(), kConnectTimeoutMs)) return false;
    ordered_json msg;
    msg["type"] = "host-register";
    msg["hostId"] = hostId_;
    msg["passwordHash"] = HashPassword(Password());
    bool listening = false;
    uint32_t port = 0;
    {
        std::lock_guard<std::mutex> lock(lanServerMutex_);
        if (lanServer_ && lanServer_->IsListening()) {
            listening = true;
            port = lanServer_->Port();
        }
    }
    if (listening) {
        ordered_json lan;
        lan["port"] = port;
        lan["addrs"] = ListLocalAddresses();
        msg["lan"] = lan;
    }
    if (!relay_.SendText(Compact(msg))) {
        relay_.Disconnect();
        return false;
    }
    return true;
}

bool Host::RegisterDevice() {
    if (!relay_.Connect(relayUrl_, caBundlePath_.c_str(), kConnectTimeoutMs)) return false;
    ordered_json msg;
    msg["type"] = "device-register";
    msg["deviceId"] = deviceId_;
    msg["deviceSecret"] = deviceSecret_;
    bool listening = false;
    {
        std::lock_guard<std::mutex> lock(lanServerMutex_);
        listening = lanServer_ && lanServer_->IsListening();
    }
    if (listening) {
        ordered_json lan = ordered_json::parse(BuildLanEndpoints(), nullptr, false);
        if (!lan.is_discarded() && lan.is_object()) msg["lan"] = lan;
    }
    if (!relay_.SendText(Compact(msg))) {
        relay_.Disconnect();
        return false;
    }
    return true;
}

// ---------------------------------------------------------------- the loop

bool Host::WaitSecondsUnlessStopped(int32_t seconds) {
    for (int32_t i = 0; i < seconds; ++i) {
        if (stop_.load()) return false;
        std::this_thread::sleep_until(std::chrono::steady_clock::now() + std::chrono::seconds(1));
    }
    return !stop_.load();
}

int Host::RunRelayLoop(bool enrolled) {
    if (stop_.load()) return 0;
    int32_t backoff = kRelayBackoffStartSeconds;
    for (;;) {
        bool sent = enrolled ? RegisterDevice() : RegisterHost();
        if (sent) {
            backoff = kRelayBackoffStartSeconds;
            reconnect_.store(false);
            while (!stop_.load()) {
                // A refusal or rejection ends the pass before anything else is read.
                if (reconnect_.load() || deviceRejected_.load()) break;
                WebSocketMessage msg;
                if (relay_.ReceiveMessage(msg) != 0) break;
                if (msg.opcode == 1) RouteIncomingText(msg.text);
            }
            TearDownRelayPass();
            if (deviceRejected_.load()) return 0;
        }
        if (stop_.load()) return 0;
        RelayWait wait = NextRelayWait(backoff, refusalCount_.load(), sent);
        backoff = wait.nextBackoff;
        if (!WaitSecondsUnlessStopped(wait.waitSeconds)) return 0;
    }
}

void Host::TearDownRelayPass() {
    StopStreaming();
    registered_.store(false);
    tickets_.Clear();
    allOnLan_.store(false);
    {
        // Every LAN channel goes, password-mode peers included: the controller
        // counts are cleared below, and a channel left open would be a peer that
        // still sees the screen but no longer counts.
        std::lock_guard<std::mutex> lock(channelMutex_);
        std::set<SecureChannel*> all(channels_.begin(), channels_.end());
        for (const auto& entry : channelControllers_) all.insert(entry.first);
        for (SecureChannel* channel : all) {
            try {
                channel->Shutdown();
            } catch (...) {
            }
        }
    }
    {
        std::lock_guard<std::mutex> lock(controllerMutex_);
        controllerIds_.clear();
        controllerCount_ = 0;
        streamOffCount_ = 0;
        tileAcceptors_.clear();
        connectedControllers_.store(0);
    }
    {
        std::lock_guard<std::mutex> lock(streamStateMutex_);
        frameAcks_.clear();
    }
    ReleaseInputBlock(inputState_);
    relay_.Disconnect();
    if (agent_) agent_->OnControllersGone(0);
}

// ---------------------------------------------------------------- media connection

void Host::RunMediaChannel(const std::string& token, uint32_t generation) {
    if (stop_.load()) return;
    int32_t delay = 1;
    while (!stop_.load()) {
        if (mediaGeneration_.load() != generation) return;
        {
            // An older media thread may still sit in a receive on the shared
            // connection: knock it out, then wait until it has let go.
            {
                std::lock_guard<std::mutex> lock(mediaStateMutex_);
                if (mediaOwner_ != 0) media_.AbortSocket();
            }
            std::unique_lock<std::mutex> own(mediaOwnerMutex_);
            {
                std::lock_guard<std::mutex> lock(mediaStateMutex_);
                if (mediaGeneration_.load() != generation || stop_.load()) return;
                mediaOwner_ = generation;
            }
            if (media_.Connect(relayUrl_, caBundlePath_.c_str(), kConnectTimeoutMs)) {
                ordered_json attach;
                attach["type"] = "media-attach";
                attach["token"] = token;
                media_.SendText(Compact(attach));
                if (!stop_.load()) {
                    while (mediaGeneration_.load() == generation) {
                        WebSocketMessage msg;
                        if (media_.ReceiveMessage(msg) != 0) break;
                        if (msg.opcode == 1 && msg.text.find("media-attached") != std::string::npos) {
                            mediaAttached_.store(true);
                        }
                        if (stop_.load()) break;
                    }
                }
            }
            {
                std::lock_guard<std::mutex> lock(mediaStateMutex_);
                mediaOwner_ = 0;
                mediaAttached_.store(false);
                media_.Disconnect();
            }
        }
        if (stop_.load() || mediaGeneration_.load() != generation) return;
        for (int32_t i = 0; i < delay; ++i) {
            if (stop_.load() || mediaGeneration_.load() != generation) return;
            std::this_thread::sleep_until(std::chrono::steady_clock::now() + std::chrono::seconds(1));
        }
        delay = NextMediaRetryDelay(delay);
    }
}

// ---------------------------------------------------------------- controllers

void Host::OnControllerJoined(const std::string& controllerId) {
    {
        std::lock_guard<std::mutex> lock(controllerMutex_);
        if (!controllerId.empty() && !controllerIds_.insert(controllerId).second) return;
        ++controllerCount_;
        connectedControllers_.store(static_cast<uint32_t>(controllerCount_));
        AnnounceStreamMode();
        if (controllerCount_ == 1) TrackUsageAction("session_start");
    }
    UpdateLanPathState();
    keyframeRequest_.store(true);
    if (!streamRunning_.load()) StartStreaming();
    SendResolution();
}

void Host::OnPeerLeft(const std::string& controllerId) {
    int32_t remaining = 0;
    int32_t active = 0;
    {
        std::unique_lock<std::mutex> lock(controllerMutex_);
        if (!controllerId.empty() && controllerIds_.erase(controllerId) == 0) {
            lock.unlock();
            WriteAuditLine("peer-left-unknown", controllerId, "");
            return;
        }
        if (controllerCount_ == 0) return;
        --controllerCount_;
        streamOffCount_ = std::min(streamOffCount_, controllerCount_);
        connectedControllers_.store(static_cast<uint32_t>(controllerCount_));
        // A LAN peer without an id is kept under "lan" everywhere per-controller
        // state is keyed, so it is removed under that key too.
        const std::string key = controllerId.empty() ? std::string("lan") : controllerId;
        auto it = std::find(tileAcceptors_.begin(), tileAcceptors_.end(), key);
        if (it != tileAcceptors_.end()) tileAcceptors_.erase(it);
        {
            std::lock_guard<std::mutex> streamLock(streamStateMutex_);
            frameAcks_.erase(key);
        }
        AnnounceStreamMode();
        active = controllerCount_ - streamOffCount_;
        remaining = controllerCount_;
    }
    UpdateLanPathState();
    if (active <= 0) StopStreaming();
    if (remaining == 0) {
        ReleaseInputBlock(inputState_);
        TrackUsageAction("session_end");
    }
    if (agent_) agent_->OnControllersGone(remaining);
}

}  // namespace sv
