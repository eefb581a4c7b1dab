#pragma once
// The three seams through which the training agent drives the Windows side.
#include <functional>
#include <string>

#include "training/training_records.h"

namespace sv {
namespace training {

class ITrainingSurface {
public:
    virtual ~ITrainingSurface() = default;
    std::function<void(const std::string&)> OnTraineeChat;
    std::function<void()> OnStopRequested;
};

class IUiInspector {
public:
    virtual ~IUiInspector() = default;
};

class IActivitySource {
public:
    virtual ~IActivitySource() = default;
    virtual void Start() = 0;
    virtual void Stop() = 0;
    std::function<void()> OnTraineeActive;
    std::function<void(const WindowInfo&)> OnForeground;
    std::function<void(const WindowInfo&)> OnDialog;
};

}  // namespace training
}  // namespace sv
