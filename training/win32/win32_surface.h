#pragma once
// The Windows training surface: a UI thread that owns every training window, with each
// window-touching call handed to it and waited for, and the click-through overlay
// windows (one per monitor) on which the trainer's shapes are drawn.
#include <memory>
#include <string>

#include "training/training_interfaces.h"

namespace sv {
namespace training {

// A started surface; `dataDir` (UTF-8) holds the host's settings file.
std::unique_ptr<ITrainingSurface> MakeWin32Surface(const std::string& dataDir);

}  // namespace training
}  // namespace sv
