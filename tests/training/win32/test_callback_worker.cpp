#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <future>
#include <memory>
#include <stdexcept>
#include <thread>

#include "training/win32/callback_worker.h"

namespace {

using sv::training::CallbackWorker;

// Runs `task` on the worker and waits until it has run (tasks run in order, so every task
// posted before has run too).
bool RunThrough(CallbackWorker& worker, std::function<void()> task = [] {}) {
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> future = done->get_future();
    if (!worker.Post([task, done] {
            task();
            done->set_value();
        })) {
        return false;
    }
    return future.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
}

TEST(CallbackWorker, HoldsAtMostOneMoreThanTheCapWhileBusy) {
    CallbackWorker worker(1000);
    worker.Start(nullptr, nullptr);
    std::promise<void> entered, release;
    std::shared_future<void> released = release.get_future().share();
    ASSERT_TRUE(worker.Post([&entered, released] {
        entered.set_value();
        released.wait();
    }));
    entered.get_future().wait();
    int accepted = 0;
    for (int i = 0; i < 1100; ++i) accepted += worker.Post([] {}) ? 1 : 0;
    EXPECT_EQ(accepted, 1001);
    release.set_value();
    worker.Stop();
}

TEST(CallbackWorker, FailingAndEmptyTasksDoNotStopIt) {
    CallbackWorker worker(10);
    worker.Start(nullptr, nullptr);
    ASSERT_TRUE(worker.Post([] { throw std::runtime_error("callback failed"); }));
    ASSERT_TRUE(worker.Post(CallbackWorker::Task()));
    std::atomic<int> ran{0};
    EXPECT_TRUE(RunThrough(worker, [&] { ++ran; }));
    EXPECT_EQ(ran.load(), 1);
}

TEST(CallbackWorker, StoppedOrNeverStartedDropsAndRestarts) {
    CallbackWorker worker(10);
    EXPECT_FALSE(worker.Post([] {}));
    worker.Stop();  // not started: nothing to do
    std::atomic<int> begun{0}, ended{0};
    worker.Start([&] { ++begun; }, [&] { ++ended; });
    worker.Start([&] { ++begun; }, [&] { ++ended; });  // already running
    EXPECT_TRUE(RunThrough(worker));
    worker.Stop();
    EXPECT_EQ(begun.load(), 1);
    EXPECT_EQ(ended.load(), 1);
    EXPECT_FALSE(worker.Post([] {}));
    worker.Start(nullptr, nullptr);
    EXPECT_TRUE(RunThrough(worker));
}

// The owner goes from inside its own callback, as a session ended by a callback does:
// the thread is let go rather than joined by itself, a bound an hour away is not waited
// out, and the thread still leaves.
TEST(CallbackWorker, StopFromItsOwnTaskLetsTheThreadGo) {
    struct Case {
        const char* name;
        bool destroys;                               // the task deletes its worker
        std::function<bool(CallbackWorker*)> stop;  // false: the thread was not joined
    };
    const Case cases[] = {
        {"destroyed", true, [](CallbackWorker* w) { delete w; return false; }},
        {"bounded stop", false, [](CallbackWorker* w) { return w->StopWithin(std::chrono::hours(1)); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto worker = std::make_unique<CallbackWorker>(10);
        std::promise<void> ended;
        worker->Start(nullptr, [&ended] { ended.set_value(); });
        std::promise<bool> joined;
        CallbackWorker* raw = worker.get();
        ASSERT_TRUE(worker->Post([&] {
            try {
                joined.set_value(c.stop(raw));
            } catch (...) {
                joined.set_value(true);
            }
        }));
        if (c.destroys) worker.release();
        std::future<bool> result = joined.get_future();
        if (result.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
            ADD_FAILURE() << "the stop waited for its own thread";
            worker.release();  // its thread is stuck inside it
            return;
        }
        EXPECT_FALSE(result.get());
        EXPECT_EQ(ended.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);
        if (!c.destroys) {
            EXPECT_FALSE(worker->Post([] {}));
        }
    }
}

TEST(CallbackWorker, ABoundedStopLetsAHungTaskFinishAlone) {
    auto worker = std::make_unique<CallbackWorker>(10);
    std::promise<void> entered, release, ended;
    std::shared_future<void> released = release.get_future().share();
    worker->Start(nullptr, [&ended] { ended.set_value(); });
    ASSERT_TRUE(worker->Post([&entered, released] {
        entered.set_value();
        released.wait();
    }));
    entered.get_future().wait();
    EXPECT_FALSE(worker->StopWithin(std::chrono::milliseconds(1)));
    worker.reset();  // the owner is gone while its task still runs
    release.set_value();
    EXPECT_EQ(ended.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);
}

}  // namespace
