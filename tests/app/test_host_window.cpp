#include "app/host_window.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "app/host_run_task.h"
#include "app/process_entry.h"
#include "base/worker_group.h"
#include "session/host.h"
#include "test_support.h"

namespace {

using TrayOp = sv::HostWindowSeams::TrayOp;

// The window on a thread of its own, as tray mode runs it, with what each paint laid out.
struct WindowRun {
    sv_test::ScratchDir dir;
    std::unique_ptr<sv::Host> host;
    sv::HostRunState state;
    sv::WorkerGroup work;  // after the Host: waited for before the Host goes
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<sv::HostButton> buttons;
    bool painted = false;
    std::unique_ptr<sv::HostWindow> window;
    std::future<int> ended;  // what Run returned
    std::thread thread;

    WindowRun() {
        sv::HostOptions options;
        options.dataDir = dir.Path();
        options.trainingEnabled = 0;
        host = std::make_unique<sv::Host>(options);
        state.Set(sv::HostRunState::Phase::Classic);
    }
    ~WindowRun() {
        if (thread.joinable()) Finish();
    }

    void Start(sv::HostWindowSeams seams) {
        seams.painted = [this](const std::vector<sv::HostButton>& laidOut) {
            std::lock_guard<std::mutex> lock(mutex);
            buttons = laidOut;
            painted = true;
            changed.notify_all();
        };
        window = std::make_unique<sv::HostWindow>(*host, state, work, sv::UsageHooks{}, seams);
        std::packaged_task<int()> loop([this] { return window->Run(); });
        ended = loop.get_future();
        thread = std::thread(std::move(loop));
    }

    // Waits (bounded) for a paint whose buttons satisfy `pred`.
    bool WaitPaint(const std::function<bool(const std::vector<sv::HostButton>&)>& pred) {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(30), [&] { return painted && pred(buttons); });
    }

    HWND Window() { return FindWindowW(L"SorvaneHostWin7", nullptr); }

    LPARAM CentreOf(int id) {
        std::lock_guard<std::mutex> lock(mutex);
        for (const sv::HostButton& b : buttons) {
            if (b.id == id) return MAKELPARAM(static_cast<int>(b.rect.x + b.rect.w / 2), static_cast<int>(b.rect.y + b.rect.h / 2));
        }
        return MAKELPARAM(-1, -1);
    }

    void Finish() {
        window->PostExit();
        thread.join();
    }
};

bool Enabled(const std::vector<sv::HostButton>& buttons, int id) {
    for (const sv::HostButton& b : buttons) {
        if (b.id == id) return b.enabled;
    }
    return false;
}

}  // namespace

TEST(HostWindow, UpdateShutdownStopsTheHostAndEndsTheWindowFromAnotherThread) {
    WindowRun run;
    {
        sv::HostWindow notRun(*run.host, run.state, run.work, sv::UsageHooks{});
        notRun.PostExit();  // no window yet: nothing to post to, nothing breaks
    }

    run.Start({});
    // The exit is posted to a window that exists: one that has painted.
    ASSERT_TRUE(run.WaitPaint([](const std::vector<sv::HostButton>&) { return true; }));
    sv::UpdateShutdown shutdown;
    shutdown.AttachHost(run.host.get());
    shutdown.AttachWindow(run.window.get());
    std::thread updateThread([&shutdown] { shutdown(); });
    updateThread.join();
    const bool done = run.ended.wait_for(std::chrono::seconds(30)) == std::future_status::ready;
    shutdown.AttachWindow(nullptr);
    shutdown.AttachHost(nullptr);
    ASSERT_TRUE(done);
    run.thread.join();
    EXPECT_EQ(run.ended.get(), 0);
    // Stopped, the Host's run returns at once instead of trying its relay again and again.
    auto rerun = std::async(std::launch::async, [&run] { return run.host->RunClassic(); });
    const bool stopped = rerun.wait_for(std::chrono::seconds(30)) == std::future_status::ready;
    if (!stopped) run.host->Stop();
    EXPECT_TRUE(stopped);
    EXPECT_EQ(run.Window(), nullptr);
}

TEST(HostWindow, ASlowRotationLeavesTheWindowAnswering) {
    WindowRun run;
    std::promise<void> entered;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<int> rotations{0};
    sv::HostWindowSeams seams;
    seams.rotatePassword = [&, released] {
        if (rotations.fetch_add(1) == 0) entered.set_value();
        released.wait();  // as a relay send held by a frame for its whole write time-out
    };
    run.Start(seams);
    ASSERT_TRUE(run.WaitPaint([](const std::vector<sv::HostButton>& b) { return Enabled(b, 2); }));
    HWND hwnd = run.Window();
    ASSERT_NE(hwnd, nullptr);

    SendMessageW(hwnd, WM_LBUTTONUP, 0, run.CentreOf(2));  // "Password baru"
    ASSERT_EQ(entered.get_future().wait_for(std::chrono::seconds(30)), std::future_status::ready);
    DWORD_PTR result = 0;
    EXPECT_NE(SendMessageTimeoutW(hwnd, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &result), 0);
    // The button is disabled while the rotation runs: a second press starts none.
    ASSERT_TRUE(run.WaitPaint([](const std::vector<sv::HostButton>& b) { return !Enabled(b, 2); }));
    SendMessageW(hwnd, WM_LBUTTONUP, 0, run.CentreOf(2));
    EXPECT_EQ(rotations.load(), 1);

    release.set_value();
    EXPECT_TRUE(run.WaitPaint([](const std::vector<sv::HostButton>& b) { return Enabled(b, 2); }));
    run.Finish();
    run.work.Stop();
    run.work.Wait();
    EXPECT_EQ(rotations.load(), 1);
}

TEST(HostWindow, TrayIconIsAddedAgainWhenRefusedAndWhenTheTaskbarReturns) {
    WindowRun run;
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<TrayOp> ops;
    sv::HostWindowSeams seams;
    seams.notifyIcon = [&](TrayOp op) {
        std::lock_guard<std::mutex> lock(mutex);
        ops.push_back(op);
        changed.notify_all();
        return ops.size() > 2;  // the tray is not there at first (Explorer still starting)
    };
    auto waitOps = [&](size_t n) {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(30), [&] { return ops.size() >= n; });
    };
    run.Start(seams);
    ASSERT_TRUE(waitOps(3));  // add refused, no icon to update, the retry adds it
    ASSERT_TRUE(run.WaitPaint([](const std::vector<sv::HostButton>&) { return true; }));
    HWND hwnd = run.Window();
    ASSERT_NE(hwnd, nullptr);
    SendMessageW(hwnd, RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);  // Explorer restarted
    run.Finish();
    std::lock_guard<std::mutex> lock(mutex);
    EXPECT_EQ(ops, (std::vector<TrayOp>{TrayOp::Add, TrayOp::Modify, TrayOp::Add, TrayOp::Add, TrayOp::Delete}));
}

// The relay's rejection decides the card over the phase it ended in.
TEST(HostWindow, CardFollowsTheRunAndARejection) {
    using Phase = sv::HostRunState::Phase;
    using sv::DeviceRejection;
    using sv::HostCard;
    const struct {
        Phase phase;
        DeviceRejection rejection;
        HostCard card;
    } cases[] = {
        {Phase::Starting, DeviceRejection::None, HostCard::Classic},
        {Phase::Classic, DeviceRejection::None, HostCard::Classic},
        {Phase::Enrolling, DeviceRejection::None, HostCard::Enrolling},
        {Phase::Enrolled, DeviceRejection::None, HostCard::Enrolled},
        {Phase::EnrolFailed, DeviceRejection::None, HostCard::EnrolFailed},
        {Phase::Enrolled, DeviceRejection::Revoked, HostCard::Revoked},
        {Phase::Enrolled, DeviceRejection::AuthFailed, HostCard::AuthFailed},
    };
    for (const auto& c : cases) {
        sv::HostRunState::Snapshot run;
        run.phase = c.phase;
        run.rejection = c.rejection;
        run.ended = c.rejection != DeviceRejection::None;
        EXPECT_EQ(sv::CardFor(run), c.card) << static_cast<int>(c.phase) << "/" << static_cast<int>(c.rejection);
    }
}
