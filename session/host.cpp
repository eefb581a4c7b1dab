#include "session/host.h"

#include <windows.h>

#include <chrono>
#include <exception>

#include "base/audit_log.h"
#include "base/console_output.h"
#include "base/elapsed_time.h"
#include "base/text_encoding.h"
#include "base/ui_theme.h"
#include "net/lan_server.h"
#include "resources/version.h"
#include "session/input/input_records.h"
#include "session/tools/clipboard.h"
#include "session/screen/screen_capture.h"
#include "training/training_host_hooks.h"
#include "training/training_interfaces.h"

namespace sv {

Host::Host(HostOptions options)
    : relayUrl_(std::move(options.relayUrl)),
      dataDir_(std::move(options.dataDir)),
      caBundlePath_(std::move(options.caBundlePath)),
      lanPort_(options.lanPort),
      trainingEnabled_(options.trainingEnabled),
      serviceMode_(options.serviceMode),
      trainingFactories_(std::move(options.trainingFactories)),
      usage_(std::move(options.usage)),
      seams_(RealWhereEmpty(std::move(options.seams))),
      lan_(LanLinks(options)),
      routes_(Routes(), [](const std::string& kind, const std::string& detail, const std::string& actor) {
          WriteAuditLine(kind, detail, actor);
      }) {
    LoadUiFonts();
    InitTraining();
}

HostSeams Host::RealWhereEmpty(HostSeams given) {
    HostSeams s = std::move(given);
    if (!s.sendRelayBinary) s.sendRelayBinary = [this](const uint8_t* p, size_t n) { return relay_.SendBinary(p, n); };
    if (!s.sendMediaBinary) s.sendMediaBinary = [this](const uint8_t* p, size_t n) { return media_.SendBinary(p, n); };
    if (!s.sendRelayText) s.sendRelayText = [this](const std::string& text) { return relay_.SendText(text); };
    if (!s.captureScreen) s.captureScreen = [this](ScreenFrame& frame) { return CaptureScreen(frame, serviceMode_); };
    if (!s.screenSize) s.screenSize = [] { return GetScreenSize(); };
    if (!s.encodeJpegFrame) {
        s.encodeJpegFrame = [](const uint8_t* p, int32_t w, int32_t h, uint32_t q) { return EncodeJpegFrame(p, w, h, q); };
    }
    if (!s.encodeJpegRect) {
        s.encodeJpegRect = [](const uint8_t* p, int32_t fw, int32_t fh, int32_t x, int32_t y, int32_t w, int32_t h,
                              uint32_t q) { return EncodeJpegRect(p, fw, fh, x, y, w, h, q); };
    }
    return s;
}

SendPaths::Seams Host::SendSeams() {
    SendPaths::Seams seams;
    seams.sendRelayText = seams_.sendRelayText;
    seams.sendRelayBinary = seams_.sendRelayBinary;
    seams.sendMediaBinary = seams_.sendMediaBinary;
    seams.mediaAttached = [this] { return media_.Attached(); };
    seams.relayControllers = [this] { return controllers_.HasRelayControllers(); };
    seams.allOnLan = [this] { return lan_.AllOnLan(); };
    seams.lanChannels = [this] { return lan_.ChannelCount(); };
    seams.sendToLan = [this](const std::vector<uint8_t>& bytes, uint8_t frameType) {
        return lan_.SendToChannels(bytes, frameType);
    };
    return seams;
}

StreamController::Seams Host::StreamSeams() {
    StreamController::Seams seams;
    seams.sendText = [this](const std::string& text) { out_.SendText(text); };
    seams.sendBinary = [this](const uint8_t* p, size_t n) { return out_.SendBinary(p, n); };
    seams.captureScreen = seams_.captureScreen;
    seams.screenSize = seams_.screenSize;
    seams.encodeJpegFrame = seams_.encodeJpegFrame;
    seams.encodeJpegRect = seams_.encodeJpegRect;
    seams.stopping = [this] { return stop_.load(); };
    return seams;
}

RemoteInput::Seams Host::InputSeams() {
    RemoteInput::Seams seams;
    seams.inject = seams_.input;
    seams.sendText = [this](const std::string& text) { out_.SendText(text); };
    // The agent is made after the input; it is in place before any message comes in.
    seams.gateInput = [this](const std::string& from, const std::string& what) {
        return !agent_.gateInput || agent_.gateInput(from, what);
    };
    return seams;
}

Transfers::Seams Host::TransferSeams() {
    Transfers::Seams seams;
    seams.sendText = [this](const std::string& text) { out_.SendText(text); };
    seams.audit = [](const std::string& kind, const std::string& detail, const std::string& actor) {
        WriteAuditLine(kind, detail, actor);
    };
    seams.setClipboardText = [](const std::string& text) { return SetClipboardFromUtf8(text); };
    seams.steadyMs = [] { return static_cast<uint64_t>(SteadyMilliseconds()); };
    seams.stopping = [this] { return stop_.load(); };
    seams.runDetached = [this](std::function<void()> work) { return workers_.Start(std::move(work)); };
    return seams;
}

RemoteToolRunner::Seams Host::ToolSeams() {
    RemoteToolRunner::Seams seams;
    seams.sendText = [this](const std::string& text) { out_.SendText(text); };
    seams.runDetached = [this](std::function<void()> work) { return workers_.Start(std::move(work)); };
    return seams;
}

LanDirect::Links Host::LanLinks(const HostOptions& options) {
    LanDirect::Links links;
    links.sendRelayText = [this](const std::string& text) { return seams_.sendRelayText(text); };
    links.audit = [](const std::string& kind, const std::string& detail) { WriteAuditLine(kind, detail, ""); };
    links.warn = [](const std::string& line) { PrintText(stderr, line + "\n"); };
    links.dispatch = [this](const std::string& text, MessageSource source, const std::string& controllerId) {
        routes_.DispatchText(text, source, controllerId);
    };
    links.joinPasswordPeer = [this] { return controllers_.JoinLanPeer(); };
    links.passwordPeerJoined = [this] { AfterJoin(); };
    links.passwordPeerLeft = [this](uint64_t pass) { OnLanPeerLeft(pass); };
    links.isRelayController = [this](const std::string& id) { return controllers_.HasRelayController(id); };
    links.allControllersOnLan = [this](const std::vector<std::string>& ids) { return controllers_.AllOnLan(ids); };
    links.requestKeyframe = [this] { stream_.RequestKeyframe(); };
    links.screenSize = [this] { return seams_.screenSize(); };
    links.privateAddresses = [] { return ListPrivateAddresses(); };
    links.localAddresses = [] { return ListLocalAddresses(); };
    links.runDetached = [this](std::function<void()> work) { return workers_.Start(std::move(work)); };
    links.stopping = [this] { return stop_.load(); };
    links.commandRunner = options.commandRunner;
    links.lockout = options.lanLockout;
    return links;
}

void Host::InitTraining() {
    const TrainingFactories& factories = trainingFactories_;
    if (trainingEnabled_ != 0) {
        try {
            surface_.reset();
            inspector_.reset();
            if (factories.makeSurface) surface_ = factories.makeSurface(dataDir_);
            if (factories.makeInspector) inspector_ = factories.makeInspector();
        } catch (const std::exception& e) {
            WriteAuditLine("training", std::string("surface unavailable: ") + e.what(), "");
            surface_.reset();
            inspector_.reset();
        }
    }

    if (agent_.shutdown) agent_.shutdown();
    agent_ = TrainingAgentLink();
    CloseTrainingDoor();
    trainingDoor_ = std::make_shared<training::EntryGate>();
    std::shared_ptr<training::EntryGate> door = trainingDoor_;
    // Runs call in this Host only while the door is open; fallback otherwise.
    auto through = [door](auto fallback, auto call) {
        return [door, fallback, call](const auto&... args) {
            training::EntryGate::Pass pass(*door);
            if (!pass.Entered()) return fallback;
            return call(args...);
        };
    };

    training::TrainingHostHooks hooks;
    hooks.surface = surface_.get();
    hooks.inspector = inspector_.get();
    hooks.makeActivitySource = factories.makeActivitySource;
    hooks.pointerInput = through(false, [this](const std::string& kind, double x, double y, const std::string& button) {
        return input_.InjectPointer(kind, x, y, button);
    });
    hooks.typeText = through(false, [this](const std::string& text) { return input_.InjectText(text); });
    hooks.typedTextCapBytes = kTypedTextCapBytes;
    hooks.pressKey = through(false, [this](const std::string& key, const std::vector<std::string>& modifiers) {
        return input_.InjectKey(key, modifiers);
    });
    hooks.screenSize = [] { return GetScreenSize(); };
    hooks.screenOrigin = [] {
        return std::make_pair(GetSystemMetrics(SM_XVIRTUALSCREEN), GetSystemMetrics(SM_YVIRTUALSCREEN));
    };
    hooks.foregroundWindow = factories.foregroundWindow;
    hooks.trackAction = usage_.trackAction;
    hooks.trackScreenView = usage_.trackScreenView;
    std::wstring transcriptDir = Utf8ToUtf16(dataDir_) + L"\\training";
    hooks.transcriptDirectory = Utf16ToUtf8(transcriptDir);
    hooks.clock = [] { return NowMilliseconds(); };
    hooks.quietMs = 2500;
    hooks.previewMs = 700;
    hooks.restartHoldOffMs = 600000;
    hooks.hostVersion = SV_VERSION_STRING;
    hooks.quietWatch = true;

    if (factories.makeAgent) {
        auto sink = [door, this](const std::string& text) {
            training::EntryGate::Pass pass(*door);
            if (pass.Entered()) out_.SendText(text);
        };
        auto endLocally = [door, this] {
            training::EntryGate::Pass pass(*door);
            if (pass.Entered()) EndSessionLocally();
        };
        agent_ = factories.makeAgent(sink, hooks, endLocally);
    }
}

void Host::CloseTrainingDoor() {
    if (!trainingDoor_) return;
    // Calls inside are the Host's own sends and injections, each bounded on its own (see
    // the lock table in host.h); one that lingers is reported while we wait.
    if (trainingDoor_->Close(std::chrono::seconds(5)) == 0) return;
    WriteAuditLine("training", "waiting for training calls still inside the host", "");
    while (trainingDoor_->Close(std::chrono::seconds(1)) != 0) {
    }
}

void Host::Stop() {
    const bool first = !stop_.exchange(true);
    stream_.RequestStop();
    media_.Abort();
    enrolCancel_.Cancel();
    if (!first) return;
    // The relay connection ends as agreed, not cut: first the training session, whose
    // controllers still hear that the host is going, then a close frame. Off the caller's
    // thread, which may be a window's or the service manager's.
    if (!workers_.Start([this] { CloseRelayConnection(); })) {
        relayClosed_.store(true);
        relay_.AbortForGood();
    }
}

void Host::CloseRelayConnection() {
    if (agent_.hostStopping) agent_.hostStopping();
    // The pass reads on until the relay's answer to the close frame (or the cut after its
    // wait): set before the close, the flag could end the pass first and leave the answer
    // unread, and the close waiting for it to the end of its wait.
    relay_.Close(kNormalClosure, std::chrono::milliseconds(kCloseAnswerWaitMs));
    relayClosed_.store(true);
    // A connect that the loop began before the stop is cut too, and one that would start
    // after this cut fails at once rather than run its bound.
    relay_.AbortForGood();
}

std::string Host::DeviceRejection() const {
    const char* reason = rejection_.load();
    return reason != nullptr ? std::string(reason) : std::string();
}

void Host::EndSessionLocally() {
    WriteAuditLine("session-ended-locally", "the person at the machine ended the session", "");
    // Shut down only: each channel's receive loop removes and frees its own channel.
    lan_.ShutdownChannels();
    endedHere_.store(true);
    relay_.AbortSocket();
}

std::string Host::HostId() {
    MutexLock lock(passwordMutex_);
    return hostId_;
}

std::string Host::Password() {
    MutexLock lock(passwordMutex_);
    return password_;
}

UnstoredIdentity Host::IdentityNotStored() {
    MutexLock lock(passwordMutex_);
    return unstored_;
}

Host::~Host() {
    // Work that captured this Host is woken, then waited for to the last piece before
    // anything it uses goes: sockets are aborted, channels shut down, waits notified.
    stop_.store(true);
    workers_.Stop();
    transfers_.Shutdown();
    lan_.Shutdown();  // the listener's callbacks hand channels to this Host: none after this
    relay_.AbortForGood();
    media_.Abort();
    stream_.Shutdown();
    workers_.Wait();

    TrainingAgentLink agent = std::move(agent_);
    if (agent.shutdown && !agent.shutdown()) {
        // A training thread outlived the final bound: it may still use the agent, the
        // surface or the inspector, so they stay for the rest of the process.
        WriteAuditLine("training", "agent kept for threads still running at exit", "");
        agent.owner.release();
        surface_.release();
        inspector_.release();
    }
    agent.owner.reset();
    // From here on a training call into this Host finds the door closed.
    CloseTrainingDoor();
    input_.ReleaseBlock();
    // The surface and the inspector hold windows, fonts and GDI+ objects of their own:
    // they go while GDI+ still runs (the entry's GDI+ owner outlives the Host).
    surface_.reset();
    inspector_.reset();
    // The TLS thread locks stay installed: the update thread is never joined and may
    // still be inside Mbed TLS; the process end releases them.
}

}  // namespace sv
