#pragma once
// The stream: while somebody watches, one thread sends the screen as whole JPEG frames
// (identical ones held back up to 3 s) or, when every watcher accepts them, as SVT1
// tile frames with sequence numbers and acknowledgement flow control. The controllers
// steer it with "stream-control", "stream-prefs", "frame-ack" and "frame-request"; it
// tells them the screen size ("resolution") and the kind of frame ("stream-mode").
//
// Who watches is the ControllerSet's: the owner changes the set and then calls
// AnnounceMode and Reconcile. Everything leaves through the seams handed in; nothing
// here calls back into its owner otherwise.
//
// Threads: the stream thread, which also captures the single frames (StreamThread: one
// thread for the controller's life, so every capture's memory stays with one thread);
// and the threads that deliver the controllers' messages, which call the rest.
// Settings, tiles mode and the keyframe request are atomics.
//
// Locks, outermost first (none is taken while holding a later one):
// - the stream thread's lock (StreamThread): held while starting and stopping the
//   stream, and while asking the ControllerSet whether anybody watches. A stop waits
//   for the stream's current iteration (and a single frame it may be sending): this
//   lock is in effect held across network I/O.
// - the announcement lock: held while deciding tiles mode from the ControllerSet
//   (taking its lock) and while sending "stream-mode" (taking the send path's locks:
//   the relay connection's and the LAN channels'), so announcements go out one at a
//   time and in the order of the decisions. Held across network I/O.
// - the frame lock (around every capture) and the sequence lock (last tile frame's
//   sequence and send time) are leaves.
// Sends happen with no lock of this class held, except the announcement lock above.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "base/annotated_mutex.h"

#include "session/screen/screen_capture.h"
#include "session/screen/stream_settings.h"
#include "session/screen/stream_thread.h"
#include "session/screen/tile_encoder.h"

namespace sv {

class ControllerSet;

class StreamController {
public:
    struct Seams {
        std::function<void(const std::string& text)> sendText;
        // True when the frame reached the controllers (see Host::SendBinary).
        std::function<bool(const uint8_t* data, size_t length)> sendBinary;
        std::function<bool(ScreenFrame& frame)> captureScreen;
        std::function<std::pair<int32_t, int32_t>()> screenSize;
        std::function<std::vector<uint8_t>(const uint8_t* pixels, int32_t width, int32_t height, uint32_t quality)>
            encodeJpegFrame;
        std::function<std::vector<uint8_t>(const uint8_t* pixels, int32_t frameWidth, int32_t frameHeight, int32_t x,
                                           int32_t y, int32_t w, int32_t h, uint32_t quality)>
            encodeJpegRect;
        // The owner is shutting down: no stream starts and a running one ends.
        std::function<bool()> stopping;
        // The steady clock in nanoseconds for the repeat, hold and pacing times; the
        // process's own when empty.
        std::function<int64_t()> steadyNowNs;
    };

    StreamController(ControllerSet& controllers, Seams seams);
    ~StreamController();  // Shutdown
    StreamController(const StreamController&) = delete;
    StreamController& operator=(const StreamController&) = delete;

    // The controllers' messages; `from` is the sender ("" for a password-mode LAN peer).
    // A member that cannot be read as the type asked for throws (the dispatcher drops
    // the message).
    void ApplyControl(const nlohmann::json& msg);                           // "stream-control"
    void ApplyPrefs(const std::string& from, const nlohmann::json& msg);    // "stream-prefs"
    void ApplyFrameAck(const std::string& from, const nlohmann::json& msg); // "frame-ack"
    // "frame-request": one full-size frame from the stream thread; requests that arrive
    // while one waits or works fold into one more.
    void RequestSingleFrame();

    // After the ControllerSet changed: tiles mode follows the watchers (announced when
    // it changes), and the thread runs exactly while somebody watches.
    void AnnounceMode();
    void Reconcile();
    // The next frame goes out whole (a viewer arrived, or lost a frame).
    void RequestKeyframe() { keyframeRequest_.store(true); }
    void SendResolution();

    void Start();
    void Stop();         // clears the running flag and waits for the stream to end
    // The owner is going: the stream ends, and so does the thread with any single frame
    // it is sending; nothing of this controller runs after it.
    void Shutdown() { stream_.Shutdown(); }
    void RequestStop();  // clears the running flag without a join (any thread)
    bool Running() const { return stream_.Running(); }
    bool TilesMode() const { return tilesMode_.load(); }

private:
    int64_t NowNs() const;
    void RunLoop();
    void StreamTileFrame();
    void SendSingleFrame();
    void ApplySwitch(bool on);
    // Takes the keyframe request for a frame of the given kind (true: a tile frame).
    bool TakeKeyframeRequest(bool tiles);
    // Sleeps up to `ns` unless the stream is stopped first; false when it was.
    bool Sleep(int64_t ns);

    ControllerSet& controllers_;
    Seams seams_;

    StreamSettings settings_;
    std::atomic<bool> tilesMode_{false};
    std::atomic<bool> keyframeRequest_{false};
    Mutex announceMutex_;
    Mutex sequenceMutex_;  // the last tile frame's sequence and time
    uint32_t lastFrameSeq_ SV_GUARDED_BY(sequenceMutex_) = 0;
    int64_t lastSendTimeNs_ SV_GUARDED_BY(sequenceMutex_) = 0;
    Mutex frameMutex_;  // one capture at a time
    TileEncoder tileEncoder_;
    ScreenFrame streamFrame_;            // stream thread only: reused capture buffer
    std::vector<uint8_t> tileFrameOut_;  // stream thread only: reused SVT1 buffer
    std::atomic<bool> singleFramePending_{false};
    StreamThread stream_;  // last: its thread uses everything above and is ended first
};

}  // namespace sv
