#pragma once
// Holds a fake inside one named call until the test lets it go; a call never let go is a
// hung one. Every other call, and every call after the release, passes.
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>

namespace sv_test {

struct CallHold {
    std::mutex mutex;
    std::condition_variable cv;
    std::string at;
    bool reached = false;
    bool released = false;

    void Pass(const std::string& point) {
        std::unique_lock<std::mutex> lock(mutex);
        if (point != at || released) return;
        reached = true;
        cv.notify_all();
        cv.wait(lock, [this] { return released; });
    }
    bool WaitReached() {
        std::unique_lock<std::mutex> lock(mutex);
        return cv.wait_for(lock, std::chrono::seconds(10), [this] { return reached; });
    }
    void Release() {
        std::lock_guard<std::mutex> lock(mutex);
        released = true;
        cv.notify_all();
    }
};

}  // namespace sv_test
