#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

#include "training/win32/focus_relay.h"

namespace {

using sv::training::FocusRelay;
using sv::training::UiElement;

UiElement Element(uint32_t pid, const std::string& name = "OK") {
    UiElement e;
    e.name = name;
    e.processId = pid;
    return e;
}

TEST(FocusRelay, PassesOnOtherProgramsOnly) {
    std::vector<std::string> seen;
    FocusRelay relay([&](const UiElement& e) {
        if (e.name == "boom") throw std::runtime_error("receiver failed");
        seen.push_back(e.name);
    }, 10);
    relay.Deliver(Element(11, "a"));
    relay.Deliver(Element(10, "own"));
    relay.Deliver(std::nullopt);
    relay.Deliver(Element(11, "boom"));
    relay.Deliver(Element(12, "b"));
    relay.Close();
    relay.Deliver(Element(11, "late"));
    EXPECT_EQ(seen, (std::vector<std::string>{"a", "b"}));
}

TEST(FocusRelay, OneCallAtATimeAndNoneAfterClose) {
    std::atomic<int> inside{0}, most{0}, calls{0};
    FocusRelay relay([&](const UiElement&) {
        int now = ++inside;
        int seen = most.load();
        while (now > seen && !most.compare_exchange_weak(seen, now)) {
        }
        ++calls;
        std::this_thread::yield();
        --inside;
    }, 10);
    std::atomic<bool> go{false};
    std::vector<std::thread> delivery;
    for (int t = 0; t < 4; ++t) {
        delivery.emplace_back([&] {
            while (!go.load()) std::this_thread::yield();
            for (int i = 0; i < 500; ++i) relay.Deliver(Element(11));
        });
    }
    go.store(true);
    while (calls.load() < 100) std::this_thread::yield();
    relay.Close();
    const int atClose = calls.load();
    EXPECT_EQ(inside.load(), 0);
    for (std::thread& t : delivery) t.join();
    EXPECT_EQ(calls.load(), atClose);
    EXPECT_EQ(most.load(), 1);
}

}  // namespace
