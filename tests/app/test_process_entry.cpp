#include "app/process_entry.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <utility>
#include <vector>

#include "base/file_io.h"
#include "base/text_encoding.h"
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

// A start that ends before the host runs says why; in tray mode, which has no console,
// the same line is shown in a message box with the window's Indonesian title, and the
// exit code stays what it was. Other modes show no box.
TEST(ProcessEntry, ATrayStartThatCannotGoOnShowsItsLineInABox) {
    sv_test::ScratchDir dir;
    const std::string badRelay =
        "relay address \"wss://x:99999/\" cannot work: its port is not a number from 1 to 65535";
    const struct {
        std::vector<std::string> words;
        int rc;
        const char* shown;  // nullptr: no box
    } cases[] = {
        {{"--tray", "--relay", "wss://x:99999/"}, 2, badRelay.c_str()},
        {{"--relay", "wss://x:99999/"}, 2, nullptr},
        {{"--tray", "--service", "--relay", "wss://x:99999/"}, 2, nullptr},
        // The reading stops at the error, before "--tray": the box is still the tray's.
        {{"--enroll", "tok", "--tray"}, 2, "--enroll needs a token and a name (\"--tray\" is an option, not its value)"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {"sorvane-host-win7.exe", "--no-update", "--data-dir", dir.Path()};
        args.insert(args.end(), c.words.begin(), c.words.end());
        std::vector<std::pair<std::wstring, std::wstring>> boxes;
        sv::ProcessSeams seams;
        seams.showStartFailure = [&boxes](const std::wstring& title, const std::wstring& text) {
            boxes.emplace_back(title, text);
        };
        EXPECT_EQ(sv::RunHostProcess(args, seams), c.rc) << c.words[0];
        if (c.shown == nullptr) {
            EXPECT_TRUE(boxes.empty()) << c.words[0];
            continue;
        }
        ASSERT_EQ(boxes.size(), 1u) << c.words[0];
        EXPECT_EQ(boxes[0].first, L"Sorvane tidak dapat dimulai");
        EXPECT_EQ(sv::Utf16ToUtf8(boxes[0].second), c.shown);
    }
}
