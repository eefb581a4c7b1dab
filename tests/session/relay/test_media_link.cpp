#include <gtest/gtest.h>

#include <chrono>

#include "session/relay/media_link.h"

namespace {

// Nothing listens on port 1 of the loopback: a connect attempt would fail at once, but a
// thread that must not run at all never gets that far.
TEST(MediaLink, AStoppedOrSupersededThreadLeavesAtOnce) {
    const struct {
        bool stopping;
        uint32_t generation;  // 0 is current until a new generation starts
    } cases[] = {{true, 0}, {false, 7}};
    for (const auto& c : cases) {
        sv::MediaLink link([&c] { return c.stopping; });
        auto started = std::chrono::steady_clock::now();
        link.Run("ws://127.0.0.1:1/", "", "token", c.generation, 60000);
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5)) << c.generation;
        EXPECT_FALSE(link.Attached());
    }
}

}  // namespace
