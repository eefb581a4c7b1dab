#include "session/host.h"

#include <windows.h>

#include <chrono>
#include <exception>

#include "base/audit_log.h"
#include "base/text_encoding.h"
#include "base/ui_theme.h"
#include "net/lan_server.h"
#include "net/secure_channel.h"
#include "resources/version.h"
#include "session/tools/clipboard.h"
#include "session/screen/screen_capture.h"
#include "training/training_agent.h"
#include "training/training_interfaces.h"

namespace sv {
namespace {

std::atomic<bool> g_serviceMode{false};

std::mutex g_factoriesMutex;
TrainingFactories g_factories;

TrainingFactories CurrentTrainingFactories() {
    std::lock_guard<std::mutex> lock(g_factoriesMutex);
    return g_factories;
}

std::mutex g_usageMutex;
UsageHooks g_usage;

UsageHooks CurrentUsageHooks() {
    std::lock_guard<std::mutex> lock(g_usageMutex);
    return g_usage;
}

}  // namespace

void SetTrainingFactories(TrainingFactories factories) {
    std::lock_guard<std::mutex> lock(g_factoriesMutex);
    g_factories = std::move(factories);
}

void SetUsageHooks(UsageHooks hooks) {
    std::lock_guard<std::mutex> lock(g_usageMutex);
    g_usage = std::move(hooks);
}

void TrackUsageAction(const std::string& action) {
    UsageHooks usage = CurrentUsageHooks();
    if (usage.trackAction) usage.trackAction(action);
}

void SetServiceMode(bool on) { g_serviceMode.store(on); }
bool IsServiceMode() { return g_serviceMode.load(); }

Host::Host(HostOptions options)
    : relayUrl_(std::move(options.relayUrl)),
      apiBase_(std::move(options.apiBase)),
      dataDir_(std::move(options.dataDir)),
      caBundlePath_(std::move(options.caBundlePath)),
      lanPort_(options.lanPort),
      trainingEnabled_(options.trainingEnabled) {
    platform_.injectPointer = [this](const std::string& kind, double x, double y, const std::string& button) {
        auto size = GetScreenSize();
        return InjectPointer(inputState_, kind, x, y, button, size.first, size.second);
    };
    platform_.injectText = [this](const std::string& text) { return InjectText(inputState_, text); };
    platform_.injectKey = [this](const std::string& key, const std::vector<std::string>& modifiers) {
        return InjectKey(inputState_, key, modifiers);
    };
    platform_.sendSecureAttention = [] { return SendSecureAttention(); };
    platform_.setInputBlocked = [this](bool on) { return SetInputBlockedOn(inputState_, on); };
    platform_.sendRelayBinary = [this](const uint8_t* p, size_t n) { return relay_.SendBinary(p, n); };
    platform_.sendMediaBinary = [this](const uint8_t* p, size_t n) { return media_.SendBinary(p, n); };
    platform_.sendRelayText = [this](const std::string& text) { return relay_.SendText(text); };
    platform_.privateAddresses = [] { return ListPrivateAddresses(); };
    platform_.captureScreen = [](ScreenFrame& frame) { return CaptureScreen(frame); };
    platform_.screenSize = [] { return GetScreenSize(); };
    platform_.encodeJpegFrame = [](const uint8_t* p, int32_t w, int32_t h, uint32_t q) {
        return EncodeJpegFrame(p, w, h, q);
    };
    platform_.encodeJpegRect = [](const uint8_t* p, int32_t fw, int32_t fh, int32_t x, int32_t y, int32_t w,
                                  int32_t h, uint32_t q) { return EncodeJpegRect(p, fw, fh, x, y, w, h, q); };
    // The tile encoder goes through the same seams as whole frames.
    TileJpegCodec codec;
    codec.frame = [this](const uint8_t* p, int32_t w, int32_t h, int32_t q) {
        return platform_.encodeJpegFrame(p, w, h, static_cast<uint32_t>(q));
    };
    codec.rect = [this](const uint8_t* p, int32_t fw, int32_t fh, int32_t x, int32_t y, int32_t w, int32_t h,
                        int32_t q) { return platform_.encodeJpegRect(p, fw, fh, x, y, w, h, static_cast<uint32_t>(q)); };
    tileEncoder_.SetCodec(std::move(codec));
    platform_.setClipboardText = [](const std::string& text) { return SetClipboardFromUtf8(text); };

    SetAuditDirectory(dataDir_);
    LoadUiFonts();
    InitTraining();
}

void Host::InitTraining() {
    TrainingFactories factories = CurrentTrainingFactories();
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

    training::TrainingHostHooks hooks;
    hooks.surface = surface_.get();
    hooks.inspector = inspector_.get();
    hooks.makeActivitySource = factories.makeActivitySource;
    hooks.pointerInput = [this](const std::string& kind, double x, double y, const std::string& button) {
        return platform_.injectPointer(kind, x, y, button);
    };
    hooks.typeText = [this](const std::string& text) { return platform_.injectText(text); };
    hooks.pressKey = [this](const std::string& key, const std::vector<std::string>& modifiers) {
        return platform_.injectKey(key, modifiers);
    };
    hooks.screenSize = [] { return GetScreenSize(); };
    hooks.screenOrigin = [] {
        return std::make_pair(GetSystemMetrics(SM_XVIRTUALSCREEN), GetSystemMetrics(SM_YVIRTUALSCREEN));
    };
    std::wstring transcriptDir = Utf8ToUtf16(dataDir_) + L"\\training";
    hooks.transcriptDirectory = Utf16ToUtf8(transcriptDir);
    hooks.clock = [] { return NowMilliseconds(); };
    hooks.quietMs = 2500;
    hooks.previewMs = 700;
    hooks.restartHoldOffMs = 600000;
    hooks.hostVersion = SV_VERSION_STRING;
    hooks.quietWatch = true;
    UsageHooks usage = CurrentUsageHooks();
    hooks.trackAction = usage.trackAction;
    hooks.trackScreenView = usage.trackScreenView;

    if (agent_) {
        agent_->Shutdown();
        agent_.reset();
    }
    agent_ = std::make_unique<training::TrainingAgent>([this](const std::string& text) { SendText(text); }, hooks);
    agent_->SetEndLocallyHook([this] { EndSessionLocally(); });
}

void Host::Stop() {
    stop_.exchange(true);
    streamRunning_.store(false);
    WakeStream();
    relay_.AbortSocket();
    media_.AbortSocket();
}

void Host::EndSessionLocally() {
    WriteAuditLine("session-ended-locally", "the person at the machine ended the session", "");
    {
        // Shut down only: each channel's receive loop closes and frees its own channel.
        std::lock_guard<std::mutex> lock(channelMutex_);
        for (SecureChannel* channel : channels_) {
            try {
                channel->Shutdown();
            } catch (...) {
            }
        }
    }
    relay_.AbortSocket();
}

std::string Host::HostId() {
    std::lock_guard<std::mutex> lock(passwordMutex_);
    return hostId_;
}

std::string Host::Password() {
    std::lock_guard<std::mutex> lock(passwordMutex_);
    return password_;
}

void Host::RunDetached(std::function<void()> work) {
    {
        std::lock_guard<std::mutex> lock(detachedMutex_);
        ++detachedCount_;
    }
    auto finish = [this] {
        std::lock_guard<std::mutex> lock(detachedMutex_);
        --detachedCount_;
        detachedDone_.notify_all();
    };
    try {
        std::thread([work = std::move(work), finish]() mutable {
            try {
                work();
            } catch (...) {
            }
            finish();
        }).detach();
    } catch (...) {
        finish();
    }
}

void Host::WaitForDetachedWork(std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> lock(detachedMutex_);
    detachedDone_.wait_for(lock, limit, [this] { return detachedCount_ == 0; });
}

Host::~Host() {
    // Everything that still runs on detached threads is woken first and waited for before
    // the training agent goes: the LAN receive loops hand messages to it.
    stop_.store(true);
    {
        std::lock_guard<std::mutex> lock(transferMutex_);
        transferWake_.notify_all();
    }
    {
        std::lock_guard<std::mutex> lock(lanServerMutex_);
        if (lanServer_) lanServer_->Stop();
    }
    {
        std::lock_guard<std::mutex> lock(channelMutex_);
        for (SecureChannel* channel : channels_) channel->Shutdown();
    }
    relay_.AbortSocket();
    media_.AbortSocket();
    WaitForDetachedWork(std::chrono::seconds(5));

    std::unique_ptr<training::TrainingAgent> agent = std::move(agent_);
    if (agent) {
        agent->Shutdown();
        agent.reset();
    }
    if (addressWatcher_.joinable()) addressWatcher_.join();
    StopStreaming();
    ReleaseInputBlock(inputState_);
    // Frame requests started by the last stream steps.
    WaitForDetachedWork(std::chrono::seconds(5));
    // The surface and the inspector hold windows, fonts and GDI+ objects of their own:
    // they go while GDI+ still runs.
    surface_.reset();
    inspector_.reset();
    StopGdiplus();
    // The TLS thread locks stay installed: the update thread is never joined and may
    // still be inside Mbed TLS; the process end releases them.
}

}  // namespace sv
