#pragma once
// The Windows activity source: low-level mouse and keyboard hooks and window-event hooks on
// a hook thread of its own, callbacks on a COM worker thread.
#include <memory>

#include "training/training_interfaces.h"
#include "training/win32/activity_monitor_core.h"

namespace sv {
namespace training {

// A new, stopped monitor whose input goes through `interpreter`.
std::unique_ptr<IActivitySource> MakeActivityMonitor(ActivityInterpreter interpreter);
// The same with a fresh interpreter from DefaultActivityInterpreter.
std::unique_ptr<IActivitySource> MakeActivityMonitor();

}  // namespace training
}  // namespace sv
