#pragma once
// The machine's sound for the surface: MCI command strings, the SAPI speech voice, the
// installed voices from their registry tokens, a steady clock that pumps thread messages
// while it waits, and the worker thread's COM apartment.
#include "training/win32/surface_audio.h"

namespace sv {
namespace training {

AudioDevices MakeSystemAudioDevices();

}  // namespace training
}  // namespace sv
