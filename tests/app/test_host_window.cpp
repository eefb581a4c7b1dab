#include "app/host_window.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include "app/process_entry.h"
#include "session/host.h"
#include "test_support.h"

TEST(HostWindow, UpdateShutdownStopsTheHostAndEndsTheWindowFromAnotherThread) {
    sv_test::ScratchDir dir;
    sv::HostOptions options;
    options.dataDir = dir.Path();
    options.trainingEnabled = 0;
    sv::Host host(options);
    sv::PostExitCommand();  // no window yet: nothing to post to, nothing breaks

    std::packaged_task<int()> loop([&host] { return sv::RunHostWindow(host); });
    std::future<int> ended = loop.get_future();
    std::thread windowThread(std::move(loop));
    sv::SetUpdateHost(&host);
    // The exit is posted to a window that exists: repeated until the window has been made.
    bool done = false;
    for (int i = 0; i < 400 && !done; ++i) {
        sv::ShutdownForUpdate();
        done = ended.wait_for(std::chrono::milliseconds(50)) == std::future_status::ready;
    }
    sv::SetUpdateHost(nullptr);
    windowThread.join();
    ASSERT_TRUE(done);
    EXPECT_EQ(ended.get(), 0);
    EXPECT_TRUE(host.IsStopping());
    EXPECT_EQ(FindWindowW(L"SorvaneHostWin7", nullptr), nullptr);
}
