// The classic and enrolled run entries, the relay connection loop, the media
// connection and controllers joining and leaving.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <set>
#include <thread>

#include <nlohmann/json.hpp>

#include "base/audit_log.h"
#include "base/console_output.h"
#include "base/json_fields.h"
#include "base/wall_clock.h"
#include "session/host.h"
#include "session/host_identity.h"
#include "base/settings_file.h"
#include "session/identity_files.h"
#include "session/relay/reconnect_policy.h"
#include "session/relay/relay_messages.h"

namespace sv {

// ---------------------------------------------------------------- identity

bool Host::RotatePassword() {
    std::string fresh = GeneratePassword();
    const SettingsFile settings = SettingsFile::InDataDir(dataDir_);
    bool stored = false;
    try {
        stored = settings.Update([&](const SettingsText& file) -> std::optional<std::string> {
            // As in LoadOrCreatePassword: an unreadable file keeps its other settings untouched.
            if (!file.readable && file.exists) return std::nullopt;
            return SettingsTextWithRotatedPassword(file.text, fresh);
        });
    } catch (const std::exception&) {
    }
    if (!stored) {
        // A password that is not on disk would be gone at the next start while the
        // person has already read it out: the old one stays in force.
        const std::string why = "password not changed: cannot write " + settings.Path() +
                                "; the current password stays valid (make the data folder writable and try again)";
        WriteAuditLine("password", why, "");
        PrintText(stderr, why + "\n");
        return false;
    }
    {
        MutexLock lock(passwordMutex_);
        password_ = fresh;
        unstored_.password = false;  // this one is on disk
    }

    lan_.RenewPassword(fresh);

    if (registered_.load()) seams_.sendRelayText(UpdatePasswordMessage(HashPassword(fresh)));
    WriteAuditLine("password", "rotated", "");
    return true;
}

int32_t Host::ReadLanPortSaying() {
    std::string warning;
    const int32_t port = ReadLanPort(lanPort_, dataDir_, &warning);
    if (!warning.empty()) {
        PrintText(stderr, warning + "\n");
        WriteAuditLine("lan", warning, "");
    }
    return port;
}

int Host::RunClassic() {
    std::string hostIdProblem;
    std::string passwordProblem;
    const std::string hostId = LoadOrCreateHostId(dataDir_, &hostIdProblem);
    std::string password = LoadOrCreatePassword(dataDir_, &passwordProblem);
    {
        MutexLock lock(passwordMutex_);
        hostId_ = hostId;
        password_ = password;
        unstored_.hostId = !hostIdProblem.empty();
        unstored_.password = !passwordProblem.empty();
    }
    int32_t port = ReadLanPortSaying();
    if (port > 0) lan_.StartLanWithPassword(port, password);
    PrintText(stdout, "Sorvane host (Win7)\n  Host ID : " + hostId + "\n  Password: " + password + "\n");
    if (!hostIdProblem.empty() || !passwordProblem.empty()) {
        // Read out and then lost at the next start: the person must know before the
        // technician writes it down.
        const std::string line = IdentityNotStoredLine(hostIdProblem, passwordProblem);
        PrintText(stderr, line + "\n");
        WriteAuditLine("identity", line, "");
    }
    return RunRelayLoop(false);
}

int Host::RunEnrolled(int32_t deviceId, const std::string& deviceSecret) {
    deviceId_ = deviceId;
    deviceSecret_ = deviceSecret;
    int32_t port = ReadLanPortSaying();
    if (port > 0) lan_.StartLanWithTickets(port);
    return RunRelayLoop(true);
}

// ---------------------------------------------------------------- registration

bool Host::RegisterHost() {
    if (!relay_.Connect(relayUrl_, caBundlePath_.c_str(), kConnectTimeoutMs)) return false;
    if (!relay_.SendText(HostRegisterMessage(HostId(), HashPassword(Password()), lan_.ListeningEndpoints(true)))) {
        relay_.Disconnect();
        return false;
    }
    return true;
}

bool Host::RegisterDevice() {
    if (!relay_.Connect(relayUrl_, caBundlePath_.c_str(), kConnectTimeoutMs)) return false;
    if (!relay_.SendText(DeviceRegisterMessage(deviceId_, deviceSecret_, lan_.ListeningEndpoints(false)))) {
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
        endedHere_.store(false);
        bool sent = enrolled ? RegisterDevice() : RegisterHost();
        // Connected without a send: the relay closed the connection under it.
        ConnectFailure failure = sent ? ConnectFailure::None : relay_.LastConnectFailure();
        if (!sent && failure == ConnectFailure::None) failure = ConnectFailure::ClosedByPeer;
        bool reached = false;
        if (sent) {
            backoff = kRelayBackoffStartSeconds;
            reconnect_.store(false);
            int received = 0;
            // A stop ends the pass through the connection's own end (the relay's answer to
            // the close frame that Stop has sent, or the cut after its wait): until then
            // the pass reads on but acts on nothing more.
            while (!relayClosed_.load()) {
                // A refusal or rejection ends the pass before anything else is read.
                if (reconnect_.load() || deviceRejected_.load()) break;
                WebSocketMessage msg;
                received = relay_.ReceiveMessage(msg);
                if (received != 0) break;
                if (msg.opcode == 1 && !stop_.load()) routes_.DispatchText(msg.text, MessageSource::kRelay);
            }
            reached = registered_.load();
            TearDownRelayPass();
            if (deviceRejected_.load()) return 0;
            if (!reconnect_.load() && received != 0 && !endedHere_.load()) {
                // Taken and then dropped, before "registered" or after it: the relay went away.
                failure = received == 1 ? ConnectFailure::ClosedByPeer : ConnectFailure::ConnectionLost;
            }
        }
        if (stop_.load()) return 0;
        RelayWait wait = NextRelayWait(backoff, refusalCount_.load(), sent);
        backoff = wait.nextBackoff;
        if (failure != ConnectFailure::None && failure != ConnectFailure::Aborted) {
            ReportRelayFailure(failure, reached, wait.waitSeconds);
        }
        if (!WaitSecondsUnlessStopped(wait.waitSeconds)) return 0;
    }
}

void Host::ReportRelayFailure(ConnectFailure cause, bool wasRegistered, int32_t waitSeconds) {
    const std::time_t nextTry = std::time(nullptr) + waitSeconds;
    {
        // Every attempt moves the window's next try on, reported or not.
        MutexLock lock(outageMutex_);
        outage_.cause = cause;
        outage_.nextTry = static_cast<int64_t>(nextTry);
    }
    if (!relayReports_.ShouldReport(cause)) return;
    const std::string line =
        FormatRelayFailure(relayUrl_, caBundlePath_, cause, wasRegistered, waitSeconds, LocalClockAt(nextTry));
    PrintText(stdout, line + "\n");
    WriteAuditLine("relay", line, "");
}

RelayOutage Host::RelayDown() const {
    MutexLock lock(outageMutex_);
    return outage_;
}

void Host::RelayReached() {
    {
        MutexLock lock(outageMutex_);
        outage_ = RelayOutage();
    }
    // Whoever read that the relay was down reads that it is back.
    if (relayReports_.Reset()) {
        const std::string who = deviceId_ != 0 ? "device " + std::to_string(deviceId_) : "host " + HostId();
        PrintText(stdout, FormatRelayBack(relayUrl_, who) + "\n");
    }
}

void Host::TearDownRelayPass() {
    stream_.Stop();
    registered_.store(false);
    lan_.EndRelayPass();
    controllers_.Clear();
    // A peer admitted while the channels went down was counted in the ended pass.
    lan_.ShutdownPeersOutside(controllers_.Pass());
    connectedControllers_.store(0);
    stream_.Reconcile();  // a peer that joined during the tear-down no longer counts
    input_.ReleaseBlock();
    relay_.Disconnect();
    if (agent_.controllersGone) agent_.controllersGone(0);
}

// ---------------------------------------------------------------- controllers

void Host::OnControllerJoined(const IncomingMessage& m) {
    const std::string controllerId = JsonStringOrEmpty(m.body, "controllerId");
    // An empty id is a password-mode LAN peer: counted, but not in the set of ids.
    if (controllerId.empty()) {
        controllers_.JoinLanPeer();
    } else if (!controllers_.Join(controllerId)) {
        return;  // a repeated join changes nothing
    }
    AfterJoin();
}

void Host::AfterJoin() {
    // The new viewer starts on a whole frame and learns the screen size.
    stream_.RequestKeyframe();
    AfterMembershipChange();
    stream_.SendResolution();
}

void Host::OnPeerLeft(const IncomingMessage& m) {
    // Its LAN tickets and channels go first, so it cannot come back through them.
    const std::string controllerId = JsonStringOrEmpty(m.body, "id");
    lan_.RevokeLanTickets(controllerId);
    if (controllerId.empty()) {
        OnLanPeerLeft(controllers_.Pass());
        return;
    }
    if (!controllers_.Leave(controllerId)) {
        WriteAuditLine("peer-left-unknown", controllerId, "");
        return;
    }
    AfterMembershipChange();
}

void Host::OnLanPeerLeft(uint64_t pass) {
    if (!controllers_.LeaveLanPeer(pass)) return;
    AfterMembershipChange();
}

void Host::AfterMembershipChange() {
    const int32_t remaining = controllers_.Count();
    const uint32_t before = connectedControllers_.exchange(static_cast<uint32_t>(remaining));
    // A session of help begins with the first controller and ends with the last one.
    if (usage_.trackAction && before == 0 && remaining > 0) usage_.trackAction("session_start");
    if (usage_.trackAction && before > 0 && remaining == 0) usage_.trackAction("session_end");
    stream_.AnnounceMode();
    lan_.UpdateLanPathState();
    stream_.Reconcile();
    if (remaining == 0) input_.ReleaseBlock();
    if (agent_.controllersGone) agent_.controllersGone(remaining);
}

}  // namespace sv
