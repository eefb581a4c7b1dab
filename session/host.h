#pragma once
// The one object of a running host: identity, relay link, controllers, streaming,
// input, transfers, LAN direct and the training hook-up. Each member group with state of
// its own is a class with its own lock (ControllerSet, StreamController, Transfers,
// LanChannelSet, MediaLink, LanTicketTable, InputState) that sends through what the Host
// hands it and never calls back into the Host otherwise.
//
// Locks. A leaf takes no other lock while held. "I/O": may be held across a network
// send, or across the join of a thread that sends. A lock may be held while taking
// those in its "then" column (and what they in turn may take), never the other way.
//
//   lock                                  leaf  I/O  then
//   stream thread (StreamController's     no    yes  controller set
//     StreamThread; held while starting,
//     stopping and joining the thread)
//   stream announcement                   no    yes  controller set, then the send
//     (StreamController; decides tiles               path: relay connection's send
//     mode and sends "stream-mode")                  lock, LAN channel set
//   stream frame (around each capture)    yes   no   -
//   stream sequence (last tile frame)     yes   no   -
//   stream sleep (StreamThread's wake)    yes   no   -
//   transfers (Transfers; also the idle   yes   no   -
//     sweeper's wait)
//   controller set (ControllerSet)        yes   no   -
// The stream thread itself takes the frame, sequence, sleep and controller set locks
// one at a time and sends with none of them held; so does a single-frame worker.
//
// windows.h is taken in first so that its DispatchMessage macro can be retired for good:
// the member below keeps its own name in every translation unit.
#include <winsock2.h>
#include <windows.h>
#undef DispatchMessage

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "base/wall_clock.h"
#include "base/worker_group.h"
#include "net/websocket_client.h"
#include "session/controller_set.h"
#include "session/host_options.h"
#include "session/input/input_injection.h"
#include "session/lan/lan_channels.h"
#include "session/lan/lan_tickets.h"
#include "session/relay/media_link.h"
#include "session/relay/message_table.h"
#include "session/screen/screen_capture.h"
#include "session/screen/stream_controller.h"
#include "session/tools/transfers.h"
#include "session/tools/tool_slots.h"
#include "training/training_records.h"

namespace sv {

class LanLockout;
class LanServer;
class SecureChannel;
struct LanTicket;

namespace training {
class TrainingAgent;
}  // namespace training

class Host {
public:
    explicit Host(HostOptions options);
    ~Host();
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    void Stop();
    void EndSessionLocally();

    // Identity and the relay loop.
    std::string LoadPassword(const std::string& dataDir);
    void RotatePassword();
    int RunClassic();
    int RunEnrolled(int32_t deviceId, const std::string& deviceSecret);
    int RunRelayLoop(bool enrolled);
    bool RegisterHost();
    bool RegisterDevice();
    void RunMediaChannel(const std::string& token, uint32_t generation);
    void OnControllerJoined(const std::string& controllerId);
    void OnPeerLeft(const std::string& controllerId);

    // Dispatch and the two ways out. Relay text enters through RouteIncomingText (or
    // DispatchMessage, the same table); a LAN channel's text through DispatchLanText.
    void RouteIncomingText(const std::string& text);
    void DispatchMessage(const std::string& text);
    void DispatchLanText(const std::string& text, MessageSource source, const std::string& controllerId);
    void SendText(const std::string& text);
    bool SendBinary(const uint8_t* data, size_t length);

    // Input.
    bool SetInputBlocked(bool on);

    // LAN direct.
    int32_t ReadLanPort();
    void StartLanWithPassword(int32_t port, const std::string& password);
    void StartLanWithTickets(int32_t port);
    void WatchLanAddresses();
    std::string BuildLanEndpoints();
    void AdvertiseLan();
    void PrepareLanTicket(const std::string& ticketId, const std::string& secret, const std::string& controllerId);
    bool FindLanTicket(const std::string& ticketId, LanTicket& out);
    void RevokeLanTickets(const std::string& controllerId);
    void OnLanChannelOpened(std::unique_ptr<SecureChannel> channel);
    void OnLanChannelMessage(std::unique_ptr<SecureChannel> channel, const std::string& controllerId,
                             const std::string& peerAddress);
    void ReceiveLanFrames(SecureChannel* channel);
    void ReceiveLanMessages(SecureChannel* channel, const std::string& controllerId);
    void UpdateLanPathState();
    void SendLanPath(const std::string& controllerId, bool active, const std::string& peerAddress);
    void OnLanPeerClosed(SecureChannel* channel);

    // Read by the host window.
    std::string HostId();  // copied under the password mutex: the run thread sets it
    std::string Password();
    int32_t DeviceId() const { return deviceId_; }
    bool IsRegistered() const { return registered_.load(); }
    uint32_t ConnectedControllers() const { return connectedControllers_.load(); }
    bool IsStopping() const { return stop_.load(); }

    // Runs `work` on a detached thread that the destructor waits for; nothing runs once
    // the Host is being destroyed.
    void RunDetached(std::function<void()> work);
    size_t LanChannelCount() const { return channels_.Size(); }

    // The seams the dispatcher acts through; tests replace them.
    struct Platform {
        std::function<bool(const std::string& kind, double x, double y, const std::string& button)> injectPointer;
        std::function<bool(const std::string& text)> injectText;
        std::function<bool(const std::string& key, const std::vector<std::string>& modifiers)> injectKey;
        std::function<bool()> sendSecureAttention;
        std::function<bool(bool on)> setInputBlocked;
        std::function<bool(const uint8_t*, size_t)> sendRelayBinary;
        std::function<bool(const uint8_t*, size_t)> sendMediaBinary;
        std::function<bool(const std::string&)> sendRelayText;
        // The screen and its encoder, so the stream logic runs on synthetic frames.
        std::function<bool(ScreenFrame&)> captureScreen;
        std::function<std::pair<int32_t, int32_t>()> screenSize;
        std::function<std::vector<uint8_t>(const uint8_t*, int32_t, int32_t, uint32_t)> encodeJpegFrame;
        std::function<std::vector<uint8_t>(const uint8_t*, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t,
                                           uint32_t)>
            encodeJpegRect;
        // The private addresses LAN direct advertises and watches, and how often it looks.
        std::function<std::vector<std::string>()> privateAddresses;
        int32_t lanWatchPeriodSeconds = 15;
    };
    Platform& PlatformSeams() { return platform_; }
    training::TrainingAgent* Agent() { return agent_.get(); }
    training::ITrainingSurface* Surface() { return surface_.get(); }
    training::IUiInspector* Inspector() { return inspector_.get(); }

private:
    // The message table: one entry per incoming type, in the order they are compared.
    using Handler = void (Host::*)(const IncomingMessage&);
    struct Route {
        const char* type;
        bool relayOnly;  // only the relay may send it; a LAN peer's copy is dropped
        Handler handler;
    };
    static const Route kRoutes[];
    void Dispatch(const IncomingMessage& msg);
    void OnRegistered(const IncomingMessage& m);
    void OnRelayError(const IncomingMessage& m);
    void OnJoinedMessage(const IncomingMessage& m);
    void OnPeerLeftMessage(const IncomingMessage& m);
    void OnLanTicketMessage(const IncomingMessage& m);
    void OnLanRevokeMessage(const IncomingMessage& m);
    void OnInput(const IncomingMessage& m);
    void OnKeyInput(const IncomingMessage& m);
    void OnInputBlockRequest(const IncomingMessage& m);
    void OnClipboard(const IncomingMessage& m);
    void OnFileBegin(const IncomingMessage& m);
    void OnFileChunk(const IncomingMessage& m);
    void OnFileEnd(const IncomingMessage& m);
    void OnStreamControl(const IncomingMessage& m);
    void OnStreamPrefs(const IncomingMessage& m);
    void OnFrameAck(const IncomingMessage& m);
    void OnFrameRequest(const IncomingMessage& m);
    void OnTrainingRequest(const IncomingMessage& m);
    void OnRemoteTool(const IncomingMessage& m);
    void AfterMembershipChange();
    // A password-mode peer's leave, counted only in the pass that counted its join.
    void OnLanPeerLeft(uint64_t pass);
    std::optional<struct LanEndpoints> ListeningEndpoints(bool allLocalAddresses);

    void InitTraining();
    StreamController::Seams StreamSeams();
    Transfers::Seams TransferSeams();
    void HandleRemoteTool(const std::string& type, const nlohmann::json& msg, const std::string& from);
    void TearDownRelayPass();
    bool WaitSecondsUnlessStopped(int32_t seconds);
    void InstallLanServer(std::unique_ptr<LanServer> server, bool passwordMode);
    bool LanListening();
    // Makes sure of the firewall rule and writes the "lan" line for a listener just started.
    void AuditLanStart(int32_t port, const char* mode);

    // 1. Options and identity
    std::string relayUrl_;
    std::string apiBase_;
    std::string dataDir_;
    std::string caBundlePath_;
    int32_t lanPort_ = 0;
    int32_t trainingEnabled_ = 1;
    bool serviceMode_ = false;
    TrainingFactories trainingFactories_;
    UsageHooks usage_;
    HiddenCommandRunner commandRunner_;
    std::shared_ptr<LanLockout> lanLockout_;
    std::string hostId_;
    std::string password_;
    std::mutex passwordMutex_;
    int32_t deviceId_ = 0;
    std::string deviceSecret_;

    // 2. Relay-loop state
    std::atomic<bool> stop_{false};
    std::atomic<bool> deviceRejected_{false};
    std::atomic<int32_t> refusalCount_{0};
    std::atomic<bool> reconnect_{false};
    std::atomic<bool> registered_{false};
    std::atomic<uint32_t> connectedControllers_{0};
    WebSocketClient relay_;

    // 3. Media connection
    MediaLink media_{[this] { return stop_.load(); }};

    // 4. Controllers (own mutex)
    ControllerSet controllers_;

    // 5. Streaming (own locks; sends through this Host)
    StreamController stream_{controllers_, StreamSeams()};

    // 6. Input
    InputState inputState_;

    // 7. Training
    std::unique_ptr<training::ITrainingSurface> surface_;
    std::unique_ptr<training::IUiInspector> inspector_;
    std::unique_ptr<training::TrainingAgent> agent_;

    // 8. Clipboard and file transfers (own lock; sends through this Host)
    Transfers transfers_{dataDir_, TransferSeams()};
    ToolSlots toolSlots_;  // remote-tool requests running at once

    // 9. LAN direct
    std::unique_ptr<LanServer> lanServer_;
    std::mutex lanServerMutex_;  // guards the listener pointer that password rotation replaces
    bool lanPasswordMode_ = false;  // under lanServerMutex_: the listener admits by password
    std::atomic<int32_t> lanListenPort_{0};
    LanChannelSet channels_;
    LanTicketTable tickets_;  // guarded by its own mutex
    std::atomic<bool> allOnLan_{false};
    std::thread addressWatcher_;
    std::mutex watchMutex_;  // with watchWake_: the destructor ends the watcher's wait at once
    std::condition_variable watchWake_;

    // Detached work (frame requests, remote tools, tickets, media, LAN receive loops).
    WorkerGroup workers_;

    Platform platform_;
};

}  // namespace sv
