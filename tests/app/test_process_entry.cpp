#include "app/process_entry.h"

#include <gtest/gtest.h>

#include "base/file_io.h"
#include "session/host_options.h"
#include "session/host.h"
#include "test_support.h"

TEST(UpdateShutdown, StopsTheAttachedHostOnly) {
    sv_test::ScratchDir dir;
    sv::HostOptions options;
    options.dataDir = dir.Path();
    options.relayUrl = "ws://127.0.0.1:9/";
    sv::UpdateShutdown shutdown;
    {
        sv::Host host(options);
        // Nothing attached: the callback has nothing to stop and must not fail.
        shutdown();
        EXPECT_FALSE(host.IsStopping());

        shutdown.AttachHost(&host);
        shutdown();
        EXPECT_TRUE(host.IsStopping());
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
