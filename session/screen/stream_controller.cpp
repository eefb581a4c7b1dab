#include "session/screen/stream_controller.h"

#include <chrono>
#include <map>
#include <optional>
#include <utility>

#include "session/controller_set.h"
#include "session/relay/relay_messages.h"
#include "session/screen/stream_rules.h"
#include "session/screen/whole_frame_encoder.h"

namespace sv {
namespace {

int64_t ProcessSteadyNowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

constexpr int64_t kRetryWaitNs = 20 * kNsPerMs;

// A capture the stream can use: its buffer holds every pixel its size promises.
bool FrameIsUsable(const ScreenFrame& frame) {
    return frame.width > 0 && frame.height > 0 &&
           frame.pixels.size() >= static_cast<size_t>(frame.width) * static_cast<size_t>(frame.height) * 4;
}

}  // namespace

StreamController::StreamController(ControllerSet& controllers, Seams seams)
    : controllers_(controllers), seams_(std::move(seams)) {
    // The tile encoder goes through the same seams as whole frames.
    TileJpegCodec codec;
    codec.frame = [this](const uint8_t* p, int32_t w, int32_t h, int32_t q) {
        return seams_.encodeJpegFrame(p, w, h, static_cast<uint32_t>(q));
    };
    codec.rect = [this](const uint8_t* p, int32_t fw, int32_t fh, int32_t x, int32_t y, int32_t w, int32_t h,
                        int32_t q) { return seams_.encodeJpegRect(p, fw, fh, x, y, w, h, static_cast<uint32_t>(q)); };
    tileEncoder_.SetCodec(std::move(codec));
}

StreamController::~StreamController() { stream_.Shutdown(); }

bool StreamController::Sleep(int64_t ns) { return stream_.Sleep(ns) && !seams_.stopping(); }

void StreamController::Start() {
    stream_.Start([this] { RunLoop(); }, !seams_.stopping());
}

void StreamController::Stop() { stream_.Stop(); }

void StreamController::RequestStop() { stream_.ClearRunning(); }

void StreamController::Reconcile() {
    // Decided under the stream thread's lock from the set as it is now: a join and a
    // leave that race each other leave the stream as the later state asks.
    stream_.Reconcile([this] { return !seams_.stopping() && controllers_.Watching() > 0; }, [this] { RunLoop(); });
}

int64_t StreamController::NowNs() const { return seams_.steadyNowNs ? seams_.steadyNowNs() : ProcessSteadyNowNs(); }

void StreamController::RunLoop() {
    SendResolution();
    WholeFrameEncoder wholeFrame;
    std::vector<uint8_t> lastSent;
    int64_t lastSentNs = NowNs() - 10000 * kNsPerMs;
    // The capture surface and the encoder's buffers live as long as the stream.
    struct Release {
        ScreenFrame& frame;
        WholeFrameEncoder& encoder;
        ~Release() {
            ReleaseCaptureSurface(frame);
            encoder.Release();
        }
    } release{streamFrame_, wholeFrame};
    if (!stream_.Running()) return;
    for (;;) {
        if (seams_.stopping()) break;
        const int64_t t0 = NowNs();
        bool pace = true;
        if (tilesMode_.load()) {
            StreamTileFrame();
        } else {
            bool captured = false;
            {
                MutexLock lock(frameMutex_);
                captured = seams_.captureScreen(streamFrame_) && FrameIsUsable(streamFrame_);
            }
            static const std::vector<uint8_t> kNone;
            const std::vector<uint8_t>& jpeg =
                captured ? wholeFrame.Encode(seams_.encodeJpegFrame, streamFrame_.pixels.data(), streamFrame_.width,
                                             streamFrame_.height, settings_.MaxWidth(),
                                             static_cast<uint32_t>(settings_.Quality()))
                         : kNone;
            if (jpeg.empty()) {
                Sleep(kRetryWaitNs);
                pace = false;
            } else {
                const int64_t now = NowNs();
                // Taken, not read: a request made while this frame is on its way is kept.
                const bool keyframe = TakeKeyframeRequest(false);
                if (ShouldSendWholeFrame(jpeg, lastSent, now, lastSentNs, keyframe)) {
                    lastSent.assign(jpeg.begin(), jpeg.end());
                    lastSentNs = now;
                    if (!seams_.sendBinary(jpeg.data(), jpeg.size()) && keyframe) keyframeRequest_.store(true);
                }
            }
        }
        if (pace) Sleep(PacingSleepNs(settings_.Fps(), NowNs() - t0));
        if (!stream_.Running()) break;
    }
}

bool StreamController::TakeKeyframeRequest(bool tiles) {
    const bool wanted = keyframeRequest_.exchange(false);
    // The mode changed while this frame was on its way: the request (made by that change,
    // or by a viewer it served) is owed to the first frame of the new mode as well. Tiles
    // mode is stored before its request is made, so a request missed here is still set.
    if (wanted && tilesMode_.load() != tiles) keyframeRequest_.store(true);
    return wanted;
}

void StreamController::StreamTileFrame() {
    {
        const std::map<std::string, uint32_t> acks = controllers_.Acks();
        MutexLock lock(sequenceMutex_);
        if (HoldTileFrame(acks, lastFrameSeq_, NowNs(), lastSendTimeNs_)) return;
    }
    {
        MutexLock lock(frameMutex_);
        if (!seams_.captureScreen(streamFrame_) || !FrameIsUsable(streamFrame_)) return;
    }
    // Taken, not read: a request made while this frame is on its way is kept for the next.
    const bool keyframe = TakeKeyframeRequest(true);
    uint32_t seq;
    {
        MutexLock lock(sequenceMutex_);
        seq = lastFrameSeq_ + 1;
    }
    EncodeTileFrame(tileEncoder_, tileFrameOut_, streamFrame_.pixels.data(), streamFrame_.width,
                    streamFrame_.height, settings_.MaxWidth(), seq, keyframe);
    if (tileFrameOut_.empty() || !seams_.sendBinary(tileFrameOut_.data(), tileFrameOut_.size())) {
        // Unsent tiles stay marked in the encoder; a keyframe that did not go out is still owed.
        if (keyframe) keyframeRequest_.store(true);
        return;
    }
    tileEncoder_.Commit();
    MutexLock lock(sequenceMutex_);
    lastFrameSeq_ = seq;
    lastSendTimeNs_ = NowNs();
}

void StreamController::SendSingleFrame() {
    SendResolution();
    // On the stream thread, between the stream's own frames: the stream's frame serves.
    // With no stream to keep it, its surface goes again once the frame is out.
    struct Release {
        StreamController& owner;
        ~Release() {
            if (!owner.stream_.Running()) ReleaseCaptureSurface(owner.streamFrame_);
        }
    } release{*this};
    {
        MutexLock lock(frameMutex_);
        if (!seams_.captureScreen(streamFrame_) || !FrameIsUsable(streamFrame_)) return;
    }
    std::vector<uint8_t> jpeg = seams_.encodeJpegFrame(streamFrame_.pixels.data(), streamFrame_.width,
                                                       streamFrame_.height, static_cast<uint32_t>(settings_.Quality()));
    if (!jpeg.empty()) seams_.sendBinary(jpeg.data(), jpeg.size());
}

void StreamController::RequestSingleFrame() {
    // At most one request waits on the stream thread; those that arrive before it is
    // taken fold into it, those that arrive while it works make one more.
    if (singleFramePending_.exchange(true)) return;
    const bool posted = stream_.Post([this] {
        singleFramePending_.store(false);
        if (!seams_.stopping()) SendSingleFrame();
    });
    if (!posted) singleFramePending_.store(false);
}

void StreamController::ApplyControl(const nlohmann::json& msg) {
    const StreamControlRequest r = ReadStreamControl(msg);
    if (settings_.Apply(r)) tileEncoder_.SetQuality(r.quality);
    if (r.applySwitch) ApplySwitch(r.on);
}

void StreamController::ApplySwitch(bool on) {
    controllers_.SwitchStream(on);
    AnnounceMode();
    Reconcile();
}

void StreamController::ApplyPrefs(const std::string& from, const nlohmann::json& msg) {
    int32_t maxWidth = 0;
    if (ReadPrefsMaxWidth(msg, maxWidth)) settings_.SetMaxWidth(maxWidth);
    // Only a controller in the set has a preference to keep.
    if (!controllers_.SetTiles(ControllerKey(from), msg.value("tiles", false))) return;
    AnnounceMode();
}

void StreamController::ApplyFrameAck(const std::string& from, const nlohmann::json& msg) {
    // "lost" takes effect before "seq" is read: an unreadable "seq" must not cost the keyframe.
    if (msg.value("lost", false)) keyframeRequest_.exchange(true);
    if (!tilesMode_.load()) return;
    const std::optional<uint32_t> seq = ReadAckSeq(msg);
    if (!seq) return;
    controllers_.RecordAck(ControllerKey(from), *seq);
}

void StreamController::AnnounceMode() {
    MutexLock lock(announceMutex_);
    const bool tiles = controllers_.WantTiles();
    if (tiles == tilesMode_.load()) return;
    tilesMode_.exchange(tiles);
    if (tiles) {
        keyframeRequest_.exchange(true);
        controllers_.ClearAcks();
    }
    seams_.sendText(StreamModeMessage(tiles));
}

void StreamController::SendResolution() {
    const std::pair<int32_t, int32_t> size = seams_.screenSize();
    seams_.sendText(ResolutionMessage(size.first, size.second));
}

}  // namespace sv
