#pragma once
// The Windows training surface: a UI thread that owns every training window, with each
// window-touching call handed to it and waited for, and the click-through overlay
// windows (one per monitor) on which the trainer's shapes are drawn.
//
// Every wait has a bound. A call handed to the UI thread owns its arguments and results,
// so a caller that stops waiting leaves nothing of its own stack behind; the work still
// runs, in order, when the UI thread gets to it. Teardown waits a bounded time for the UI
// thread, the trainee's stop thread and the audio worker, and lets go what does not come:
// each keeps alive the state it uses. OnStopRequested runs on a thread kept ready for it,
// never on the UI thread, so it may end the session inline.
#include <cstdint>
#include <memory>
#include <string>

#include "training/training_interfaces.h"
#include "training/win32/surface_audio.h"

namespace sv {
namespace training {

// How long each wait of the surface may last, in milliseconds.
struct SurfaceLimits {
    uint32_t uiCallMs = 5000;    // a call handed to the UI thread
    uint32_t uiJoinMs = 5000;    // teardown, for the UI thread to leave
    uint32_t stopJoinMs = 2000;  // teardown, for a trainee's stop still being handled
    AudioLimits audio;
};

// A started surface; `dataDir` (UTF-8) holds the host's settings file.
std::unique_ptr<ITrainingSurface> MakeWin32Surface(const std::string& dataDir);
// The same over other sound devices and bounds.
std::unique_ptr<ITrainingSurface> MakeWin32Surface(const std::string& dataDir, AudioDevices devices,
                                                   const SurfaceLimits& limits);

}  // namespace training
}  // namespace sv
