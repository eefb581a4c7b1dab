#pragma once
// The one object of a running host: identity, relay link, controllers, streaming,
// input, transfers, LAN direct and the training hook-up. Each member group with state of
// its own is a class with its own lock (ControllerSet, StreamController, Transfers,
// LanDirect, MediaLink, RemoteInput, RemoteToolRunner); the Host binds each incoming
// message type to the group that owns the work (MessageRoutes, fixed at construction),
// hands each group what it sends through, and keeps for itself only registration, the
// relay's errors, controllers joining and leaving and the relay pass. No group calls back
// into the Host otherwise. The training agent is seen through TrainingAgentLink only.
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
//   locks, Transfers', LanTicketTable's, LanDirect's watch lock, RemoteInput's InputState
//   job lock, RemoteToolRunner's ToolSlots count, the WorkerGroup's) is a leaf held across
//   no I/O; Transfers' lock is also the idle sweeper's wait. InputState's job lock is let
//   go while the block thread calls BlockInput, and taken again only to hand back the
//   result. MessageRoutes and SendPaths have no lock: both are fixed at construction.
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
#include "session/input/remote_input.h"
#include "session/lan/lan_direct.h"
#include "session/relay/media_link.h"
#include "session/relay/message_routes.h"
#include "session/relay/relay_failure_reports.h"
#include "session/screen/screen_capture.h"
#include "session/screen/stream_controller.h"
#include "session/send_paths.h"
#include "session/tools/remote_tool_runner.h"
#include "session/tools/transfers.h"
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

    // Ends the run, from any thread, without waiting: the enrolment is cancelled, a live
    // training session ends ("host shutting down") while the relay still carries it, the
    // relay connection closes with a close frame (1000) and the relay loop returns.
    void Stop();

    // The run entries: each returns when the host stops or the relay rejects the device.
    int RunClassic();
    int RunEnrolled(int32_t deviceId, const std::string& deviceSecret);
    // False when the new password could not be stored: the old one stays and is kept.
    bool RotatePassword();

    // Read by the host window.
    std::string HostId();  // copied under the password mutex: the run thread sets it
    std::string Password();
    bool IsRegistered() const { return registered_.load(); }
    uint32_t ConnectedControllers() const { return connectedControllers_.load(); }
    // Why the relay turned this device away for good ("device-revoked",
    // "device-auth-failed"); empty while it has not.
    std::string DeviceRejection() const;

    // The enrolment request that runs before the host does; Stop cancels it, so an exit
    // never waits for a support API that does not answer.
    HttpCancel& EnrolmentCancel() { return enrolCancel_; }

private:
    friend class HostTestAccess;  // the tests' hand-over of a LAN channel (see there)

    static constexpr uint32_t kConnectTimeoutMs = 60000;
    // A stop's close frame, and how long the relay has to answer it before the socket is
    // cut: the whole stop must fit the seconds Windows gives a closing console or session.
    static constexpr uint16_t kNormalClosure = 1000;
    static constexpr int64_t kCloseAnswerWaitMs = 1000;

    // Every incoming type bound to the member that owns its work, in the order compared.
    std::vector<MessageRoute> Routes();
    // The Host's own messages.
    void OnRegistered(const IncomingMessage& m);
    void OnRelayError(const IncomingMessage& m);
    void OnControllerJoined(const IncomingMessage& m);
    void OnPeerLeft(const IncomingMessage& m);

    int RunRelayLoop(bool enrolled);
    // Stop's second half, on a worker: the training session's end, then the close frame.
    void CloseRelayConnection();
    bool RegisterHost();
    bool RegisterDevice();
    void AfterMembershipChange();
    // A controller joined (through the relay or as a password-mode LAN peer).
    void AfterJoin();
    // A password-mode peer's leave, counted only in the pass that counted its join.
    void OnLanPeerLeft(uint64_t pass);
    void TearDownRelayPass();
    // A failed relay attempt: one line on the console and in the audit log, unless the
    // same cause was reported less than a quiet minute ago.
    void ReportRelayFailure(ConnectFailure cause, int32_t waitSeconds);
    bool WaitSecondsUnlessStopped(int32_t seconds);

    // What each member group is handed.
    HostSeams RealWhereEmpty(HostSeams given);
    SendPaths::Seams SendSeams();
    StreamController::Seams StreamSeams();
    RemoteInput::Seams InputSeams();
    Transfers::Seams TransferSeams();
    RemoteToolRunner::Seams ToolSeams();
    LanDirect::Links LanLinks(const HostOptions& options);

    void InitTraining();
    // Shuts the agent's door into this Host and waits for the calls still inside.
    void CloseTrainingDoor();
    void EndSessionLocally();

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
    // Set once a stop has closed (or cut) the relay connection: no pass reads on after it.
    std::atomic<bool> relayClosed_{false};
    WebSocketClient relay_;
    RelayFailureReports relayReports_;  // the relay loop's thread only
    HttpCancel enrolCancel_;

    // 3. Media connection
    MediaLink media_{[this] { return stop_.load(); }};

    // The machine and the relay as the options gave them, the real ones where they gave
    // none; the input seams stay as given, for RemoteInput fills its own.
    const HostSeams seams_;

    // 4. Controllers (own mutex)
    ControllerSet controllers_;

    // The ways out: the relay, its media connection and the LAN channels.
    const SendPaths out_{SendSeams()};

    // 5. Streaming (own locks; sends through out_)
    StreamController stream_{controllers_, StreamSeams()};

    // 6. Input (the block's own thread and lock)
    RemoteInput input_{InputSeams(), serviceMode_};

    // 7. Training
    std::unique_ptr<training::ITrainingSurface> surface_;
    std::unique_ptr<training::IUiInspector> inspector_;
    TrainingAgentLink agent_;
    // What the agent calls in this Host (its sink, the input hooks, the local end) goes
    // through this door, which it shares: the Host closes it before it goes, so a training
    // thread that outlives the Host finds it closed rather than freed memory.
    std::shared_ptr<training::EntryGate> trainingDoor_;

    // 8. Clipboard, file transfers and remote tools (own locks; send through out_)
    Transfers transfers_{dataDir_, TransferSeams()};
    RemoteToolRunner tools_{ToolSeams(), &stop_};

    // 9. LAN direct: listener, tickets, channels, the LAN path and the address watcher
    LanDirect lan_;

    // Detached work (remote tools, tickets, media, LAN receive loops).
    WorkerGroup workers_;

    // Last, once every member it binds exists.
    const MessageRoutes routes_;
};

}  // namespace sv
