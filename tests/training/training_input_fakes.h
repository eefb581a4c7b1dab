#pragma once
// Injection hooks that record and can fail, and a surface that lets a test act while the
// ghost pointer is up.
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "training_fakes.h"

namespace sv_test {

class FakeInjector {
public:
    int failPointerAt = -1;  // the pointer call (0-based) that fails; -1 = none
    int failPointerFrom = -1;  // every pointer call from this one on fails; -1 = none
    bool typeOk = true;
    // Holds the first injection (of any kind) inside until opened.
    Latch* holdFirst = nullptr;

    void Wire(sv::training::TrainingHostHooks& hooks) {
        hooks.pointerInput = [this](const std::string& action, double x, double y, const std::string& button) {
            char buf[96];
            std::snprintf(buf, sizeof buf, "%s %.4f,%.4f %s", action.c_str(), x, y, button.c_str());
            Add(buf);
            const int n = pointerCalls_++;
            return n != failPointerAt && (failPointerFrom < 0 || n < failPointerFrom);
        };
        hooks.typeText = [this](const std::string& text) {
            Add("type " + text);
            return typeOk;
        };
        hooks.pressKey = [this](const std::string& key, const std::vector<std::string>& modifiers) {
            std::string s = "key";
            for (const std::string& m : modifiers) s += " " + m;
            Add(s + " " + key);
            return true;
        };
    }
    // Every call so far, each followed by "|".
    std::string Calls() {
        std::lock_guard<std::mutex> lock(mutex_);
        return calls_;
    }

private:
    void Add(const std::string& call) {
        Latch* hold = nullptr;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!held_) hold = holdFirst;
            held_ = true;
        }
        if (hold) hold->Hold();
        std::lock_guard<std::mutex> lock(mutex_);
        calls_ += call + "|";
    }
    bool held_ = false;
    std::mutex mutex_;
    std::string calls_;
    int pointerCalls_ = 0;
};

// Keeps every shape and runs duringPreview when the ghost goes up, on the op's thread.
class PreviewSurface : public FakeSurface {
public:
    std::function<void()> duringPreview;

    void ShowOverlay(const sv::training::OverlayShape& shape) override {
        FakeSurface::ShowOverlay(shape);
        {
            std::lock_guard<std::mutex> lock(shapesMutex_);
            shapes_.push_back(shape);
        }
        if (duringPreview) duringPreview();
    }
    std::vector<sv::training::OverlayShape> Shapes() {
        std::lock_guard<std::mutex> lock(shapesMutex_);
        return shapes_;
    }

private:
    std::mutex shapesMutex_;
    std::vector<sv::training::OverlayShape> shapes_;
};

// An agent whose injection can be watched; the ghost preview kept to 1 ms.
struct InjectHarness {
    InjectHarness() {
        h.hooks.previewMs = 1;
        inject.Wire(h.hooks);
    }
    FakeInjector inject;
    AgentHarness h;
};

}  // namespace sv_test
