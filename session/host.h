#pragma once
// The one object of a running host: identity, relay link, controllers, streaming,
// input, transfers, LAN direct and the training hook-up. Each member group with state of
// its own is a class with its own lock (ControllerSet, StreamController, Transfers,
// LanDirect, MediaLink, InputState, ToolSlots); the Host keeps the entry points and hands
// each group what it sends through, and no group calls back into the Host otherwise.
// The training agent is seen through TrainingAgentLink only.
//
// Locks. What each lock guards and the order between locks of one class are annotated
// where they are declared (SV_GUARDED_BY, SV_ACQUIRED_AFTER) and checked by clang's
// thread-safety analysis in `make test`. This table states what the analysis cannot:
// the order between locks of different objects, and which locks are held across network
// I/O or the join of a thread, and why. A lock is only taken while holding locks above it
// in the table; a leaf takes no other lock while it is held.
//
//   lock                                 held across                    why
//   LanDirect's listener lock            a listener's start, stop or    rotation, address watch and stop must not
//                                        restart: the LAN server's      interleave; connection threads' callbacks
//                                        lock and its threads' joins    take the locks below, never this one
//   MediaLink's owner lock               the media connect (up to its   two generations never use the one connection
//                                        time-out) and the whole        at once; a newer one knocks the holder out
//                                        receive loop                   by aborting the socket, not by this lock
//     MediaLink's state lock (under it)  the WebSocket close            so an abort never hits a closed connection
//   StreamThread's start/stop lock       a wait for the stream body     a start and a stop that race leave the body
//                                        to return (the body sends      as the latest state asks
//                                        with no lock held)
//   StreamController's announcement      "stream-mode" going out        announcements leave in the order decided
//     lock                               (relay send, LAN channels)
//   relay WebSocketClient's send lock    one relay send: the TLS        a frame is written whole; TLS's own lock is
//     (and the media link's)             stream's write lock beneath    taken beneath it, never the other way
//   LanChannelSet's lock                 a frame to every LAN channel:  a channel is not freed while a send is on it
//                                        each SecureChannel's send lock
//   settings-file lock (base)            reading or writing host-ui.json, nothing else
//   every other lock (ControllerSet's, the password lock, the stream's frame and sequence
//   locks, Transfers', LanTicketTable's, LanDirect's watch lock, InputState's, ToolSlots',
//   the WorkerGroup's) is a leaf held across no I/O; Transfers' lock is also the idle
//   sweeper's wait.
//
// Nothing holds a Host lock while calling the training agent's link, and the agent
// holds none of its own while it sends (SendText) or calls the Host's hooks.

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "base/annotated_mutex.h"

#include "base/wall_clock.h"
#include "base/worker_group.h"
#include "net/https_client.h"
#include "net/websocket_client.h"
#include "session/controller_set.h"
#include "session/host_options.h"
#include "session/input/input_injection.h"
#include "session/lan/lan_direct.h"
#include "session/relay/media_link.h"
#include "session/relay/message_table.h"
#include "session/relay/relay_failure_reports.h"
#include "session/screen/screen_capture.h"
#include "session/screen/stream_controller.h"
#include "session/tools/transfers.h"
#include "session/tools/tool_slots.h"
#include "session/training_agent_link.h"
#include "training/entry_gate.h"
#include "training/training_records.h"

namespace sv {

class Host {
public:
    explicit Host(HostOptions options);
    ~Host();
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    void Stop();

    // Identity and the relay loop.
    std::string LoadPassword(const std::string& dataDir);
    // False when the new password could not be stored: the old one stays and is kept.
    bool RotatePassword();
    int RunClassic();
    int RunEnrolled(int32_t deviceId, const std::string& deviceSecret);
    int RunRelayLoop(bool enrolled);

    // Dispatch and the two ways out. Relay text enters here; a LAN channel's text comes
    // in through LanDirect, into the same table.
    void RouteIncomingText(const std::string& text);
    void SendText(const std::string& text);
    bool SendBinary(const uint8_t* data, size_t length);


    // Read by the host window.
    std::string HostId();  // copied under the password mutex: the run thread sets it
    std::string Password();
    bool IsRegistered() const { return registered_.load(); }
    uint32_t ConnectedControllers() const { return connectedControllers_.load(); }
    bool IsStopping() const { return stop_.load(); }
    // Why the relay turned this device away for good ("device-revoked",
    // "device-auth-failed"); empty while it has not.
    std::string DeviceRejection() const;

    // The enrolment request that runs before the host does; Stop cancels it, so an exit
    // never waits for a support API that does not answer.
    HttpCancel& EnrolmentCancel() { return enrolCancel_; }

    // Runs `work` on a detached thread that the destructor waits for; nothing runs once
    // the Host is being destroyed.
    void RunDetached(std::function<void()> work);

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
    };
    Platform& PlatformSeams() { return platform_; }
    LanDirect& Lan() { return lan_; }
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
    void DispatchLanText(const std::string& text, MessageSource source, const std::string& controllerId);
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
    bool RegisterHost();
    bool RegisterDevice();
    void RunMediaChannel(const std::string& token, uint32_t generation);
    void OnControllerJoined(const std::string& controllerId);
    void OnPeerLeft(const std::string& controllerId);
    void AfterMembershipChange();
    // A controller joined (through the relay or as a password-mode LAN peer).
    void AfterJoin();
    // A password-mode peer's leave, counted only in the pass that counted its join.
    void OnLanPeerLeft(uint64_t pass);
    LanDirect::Links LanLinks(const HostOptions& options);
    bool SetInputBlocked(bool on);

    void InitTraining();
    // Shuts the agent's door into this Host and waits for the calls still inside.
    void CloseTrainingDoor();
    StreamController::Seams StreamSeams();
    Transfers::Seams TransferSeams();
    void EndSessionLocally();
    void HandleRemoteTool(const std::string& type, const nlohmann::json& msg, const std::string& from);
    void TearDownRelayPass();
    // A failed relay attempt: one line on the console and in the audit log, unless the
    // same cause was reported less than a quiet minute ago.
    void ReportRelayFailure(ConnectFailure cause, int32_t waitSeconds);
    bool WaitSecondsUnlessStopped(int32_t seconds);

    // 1. Options and identity
    std::string relayUrl_;
    std::string dataDir_;
    std::string caBundlePath_;
    int32_t lanPort_ = 0;
    int32_t trainingEnabled_ = 1;
    bool serviceMode_ = false;
    TrainingFactories trainingFactories_;
    UsageHooks usage_;
    std::string hostId_ SV_GUARDED_BY(passwordMutex_);
    std::string password_ SV_GUARDED_BY(passwordMutex_);
    Mutex passwordMutex_;
    int32_t deviceId_ = 0;
    std::string deviceSecret_;

    // 2. Relay-loop state
    std::atomic<bool> stop_{false};
    std::atomic<bool> deviceRejected_{false};
    std::atomic<const char*> rejection_{nullptr};  // a string literal, set before deviceRejected_
    std::atomic<int32_t> refusalCount_{0};
    std::atomic<bool> reconnect_{false};
    std::atomic<bool> registered_{false};
    std::atomic<uint32_t> connectedControllers_{0};
    WebSocketClient relay_;
    RelayFailureReports relayReports_;  // the relay loop's thread only
    HttpCancel enrolCancel_;

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
    TrainingAgentLink agent_;
    // What the agent calls in this Host (its sink, the input hooks, the local end) goes
    // through this door, which it shares: the Host closes it before it goes, so a training
    // thread that outlives the Host finds it closed rather than freed memory.
    std::shared_ptr<training::EntryGate> trainingDoor_;

    // 8. Clipboard and file transfers (own lock; sends through this Host)
    Transfers transfers_{dataDir_, TransferSeams()};
    ToolSlots toolSlots_;  // remote-tool requests running at once

    // 9. LAN direct: listener, tickets, channels, the LAN path and the address watcher
    LanDirect lan_;

    // Detached work (remote tools, tickets, media, LAN receive loops).
    WorkerGroup workers_;

    Platform platform_;
};

}  // namespace sv
