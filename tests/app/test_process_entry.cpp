#include "app/process_entry.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>

#include "base/file_io.h"
#include "session/host_options.h"
#include "session/host.h"
#include "net/ws_test_server.h"
#include "test_support.h"

TEST(UpdateShutdown, StopsTheAttachedHostOnly) {
    sv_test::ScratchDir dir;
    std::promise<void> registered;
    sv_test::RawServer relay([&](sv_test::RawPeer& peer) {
        sv_test::RawPeer::Frame frame;
        if (peer.Handshake() && peer.ReadFrame(frame)) registered.set_value();
    });
    sv::HostOptions options;
    options.dataDir = dir.Path();
    options.relayUrl = relay.Url();
    sv::UpdateShutdown shutdown;
    {
        sv::Host host(options);
        // Nothing attached: the callback has nothing to stop and must not fail.
        shutdown();
        // Still running, the Host registers with its relay (and then retries it).
        auto run = std::async(std::launch::async, [&host] { return host.RunClassic(); });
        const bool reached = registered.get_future().wait_for(std::chrono::seconds(30)) == std::future_status::ready;
        EXPECT_TRUE(reached);

        shutdown.AttachHost(&host);
        shutdown();
        const bool stopped = run.wait_for(std::chrono::seconds(30)) == std::future_status::ready;
        if (!stopped) host.Stop();
        EXPECT_TRUE(stopped);
        shutdown.AttachHost(nullptr);
    }
    // The Host is gone; a late callback from an update thread that was let go finds nothing.
    shutdown();
}

TEST(ProcessEntry, ExecutableDirectoryHoldsThisProgram) {
    std::string dir = sv::GetExecutableDirectory();
    ASSERT_FALSE(dir.empty());
    EXPECT_TRUE(sv::IsRegularFile(dir + "\\test_app.exe"));
}

TEST(ProcessEntry, CaBundleIsBesideTheExecutable) {
    // The build puts cacert.pem next to every program in its output directory.
    EXPECT_EQ(sv::FindCaBundle(), sv::GetExecutableDirectory() + "\\cacert.pem");
}
