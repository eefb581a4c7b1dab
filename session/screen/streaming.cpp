// The stream thread and the controllers' stream messages: whole JPEG frames or SVT1
// tile frames, paced to the requested rate, with acknowledgement flow control.
#include <winsock2.h>
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <utility>

#include "session/screen/frame_scaling.h"
#include "session/host.h"
#include "session/screen/stream_rules.h"
#include "session/screen/tile_encoder.h"
#include "session/screen/whole_frame_encoder.h"

namespace sv {
namespace {

int64_t SteadyNowNs() {
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

bool Host::StreamSleep(int64_t ns) { return stream_.Sleep(ns) && !stop_.load(); }

void Host::StartStreaming() {
    stream_.Start([this] { RunStreamLoop(); }, !stop_.load());
}

void Host::StopStreaming() { stream_.Stop(); }

void Host::ReconcileStream() {
    // Decided under the stream thread's lock from the set as it is now: a join and a
    // leave that race each other leave the stream as the later state asks.
    stream_.Reconcile([this] { return !stop_.load() && controllers_.Watching() > 0; }, [this] { RunStreamLoop(); });
}

void Host::RunStreamLoop() {
    SendResolution();
    WholeFrameEncoder wholeFrame;
    std::vector<uint8_t> lastSent;
    int64_t lastSentNs = SteadyNowNs() - 10000 * kNsPerMs;
    // The capture surface and the encoder's buffers live as long as the stream.
    struct Release {
        Host* host;
        WholeFrameEncoder& encoder;
        ~Release() {
            ReleaseCaptureSurface(host->streamFrame_);
            encoder.Release();
        }
    } release{this, wholeFrame};
    if (!stream_.Running()) return;
    for (;;) {
        if (stop_.load()) break;
        const int64_t t0 = SteadyNowNs();
        bool pace = true;
        if (tilesMode_.load()) {
            StreamTileFrame();
        } else {
            bool captured = false;
            {
                std::lock_guard<std::mutex> lock(frameMutex_);
                captured = platform_.captureScreen(streamFrame_) && FrameIsUsable(streamFrame_);
            }
            static const std::vector<uint8_t> kNone;
            const std::vector<uint8_t>& jpeg =
                captured ? wholeFrame.Encode(platform_.encodeJpegFrame, streamFrame_.pixels.data(),
                                             streamFrame_.width, streamFrame_.height, settings_.MaxWidth(),
                                             static_cast<uint32_t>(settings_.Quality()))
                         : kNone;
            if (jpeg.empty()) {
                StreamSleep(kRetryWaitNs);
                pace = false;
            } else {
                const int64_t now = SteadyNowNs();
                // Taken, not read: a request made while this frame is on its way is kept.
                const bool keyframe = keyframeRequest_.exchange(false);
                if (ShouldSendWholeFrame(jpeg, lastSent, now, lastSentNs, keyframe)) {
                    lastSent.assign(jpeg.begin(), jpeg.end());
                    lastSentNs = now;
                    if (!SendBinary(jpeg.data(), jpeg.size()) && keyframe) keyframeRequest_.store(true);
                }
            }
        }
        if (pace) StreamSleep(PacingSleepNs(settings_.Fps(), SteadyNowNs() - t0));
        if (!stream_.Running()) break;
    }
}

void Host::StreamTileFrame() {
    {
        const std::map<std::string, uint32_t> acks = controllers_.Acks();
        std::lock_guard<std::mutex> lock(streamStateMutex_);
        if (HoldTileFrame(acks, lastFrameSeq_, SteadyNowNs(), lastSendTimeNs_)) return;
    }
    {
        std::lock_guard<std::mutex> lock(frameMutex_);
        if (!platform_.captureScreen(streamFrame_) || !FrameIsUsable(streamFrame_)) return;
    }
    // Taken, not read: a request made while this frame is on its way is kept for the next.
    const bool keyframe = keyframeRequest_.exchange(false);
    uint32_t seq;
    {
        std::lock_guard<std::mutex> lock(streamStateMutex_);
        seq = lastFrameSeq_ + 1;
    }
    EncodeTileFrame(tileEncoder_, tileFrameOut_, streamFrame_.pixels.data(), streamFrame_.width,
                    streamFrame_.height, settings_.MaxWidth(), seq, keyframe);
    if (tileFrameOut_.empty() || !SendBinary(tileFrameOut_.data(), tileFrameOut_.size())) {
        // Unsent tiles stay marked in the encoder; a keyframe that did not go out is still owed.
        if (keyframe) keyframeRequest_.store(true);
        return;
    }
    tileEncoder_.Commit();
    std::lock_guard<std::mutex> lock(streamStateMutex_);
    lastFrameSeq_ = seq;
    lastSendTimeNs_ = SteadyNowNs();
}

void Host::SendSingleFrame() {
    SendResolution();
    ScreenFrame frame;
    {
        std::lock_guard<std::mutex> lock(frameMutex_);
        if (!platform_.captureScreen(frame) || !FrameIsUsable(frame)) return;
    }
    std::vector<uint8_t> jpeg =
        platform_.encodeJpegFrame(frame.pixels.data(), frame.width, frame.height, static_cast<uint32_t>(settings_.Quality()));
    if (!jpeg.empty()) SendBinary(jpeg.data(), jpeg.size());
}

void Host::RequestSingleFrame() {
    // One worker at a time, each holding one whole frame; requests that arrive while it
    // works fold into a single further frame.
    singleFramePending_.store(true);
    if (singleFrameBusy_.exchange(true)) return;
    RunDetached([this] {
        for (;;) {
            while (singleFramePending_.exchange(false)) {
                if (stop_.load()) break;
                SendSingleFrame();
            }
            singleFrameBusy_.store(false);
            if (stop_.load() || !singleFramePending_.load() || singleFrameBusy_.exchange(true)) return;
        }
    });
}

void Host::ApplyStreamControl(const nlohmann::json& msg) {
    const StreamControlRequest r = ReadStreamControl(msg);
    if (settings_.Apply(r)) tileEncoder_.SetQuality(r.quality);
    if (r.applySwitch) ApplyStreamSwitch(r.on);
}

void Host::ApplyStreamSwitch(bool on) {
    controllers_.SwitchStream(on);
    AnnounceStreamMode();
    ReconcileStream();
}

void Host::ApplyStreamPrefs(const std::string& from, bool tiles) {
    // Only a controller in the set has a preference to keep.
    if (!controllers_.SetTiles(ControllerKey(from), tiles)) return;
    AnnounceStreamMode();
}

void Host::ApplyFrameAck(const std::string& from, const nlohmann::json& msg) {
    // "lost" takes effect before "seq" is read: an unreadable "seq" must not cost the keyframe.
    if (msg.value("lost", false)) keyframeRequest_.exchange(true);
    if (!tilesMode_.load()) return;
    const std::optional<uint32_t> seq = ReadAckSeq(msg);
    if (!seq) return;
    controllers_.RecordAck(ControllerKey(from), *seq);
}

void Host::AnnounceStreamMode() {
    std::lock_guard<std::mutex> lock(announceMutex_);
    const bool tiles = controllers_.WantTiles();
    if (tiles == tilesMode_.load()) return;
    tilesMode_.exchange(tiles);
    if (tiles) {
        keyframeRequest_.exchange(true);
        controllers_.ClearAcks();
    }
    SendStreamMode();
}

void Host::SendStreamMode() { SendText(StreamModeMessage(tilesMode_.load())); }

void Host::SendResolution() {
    const std::pair<int32_t, int32_t> size = platform_.screenSize();
    SendText(ResolutionMessage(size.first, size.second));
}

}  // namespace sv
