#include "app/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using sv::CommandLine;
using sv::OneShot;

namespace {

CommandLine Defaults() {
    CommandLine line;
    line.options.relayUrl = "wss://default.relay/";
    line.options.apiBase = "https://default.api";
    line.options.dataDir = "C:\\Users\\x\\AppData\\Roaming\\Sorvane";
    line.options.caBundlePath = "C:\\app\\cacert.pem";
    return line;
}

CommandLine Read(std::vector<std::string> words) {
    words.insert(words.begin(), "sorvane-host-win7.exe");
    CommandLine line = Defaults();
    sv::ReadCommandLine(words, line);
    return line;
}

std::vector<std::string> Args(std::vector<std::string> words) {
    words.insert(words.begin(), "sorvane-host-win7.exe");
    return words;
}

OneShot Select(std::vector<std::string> words) {
    auto args = Args(words);
    CommandLine line = Defaults();
    sv::ReadCommandLine(args, line);
    return sv::SelectOneShot(line, args);
}

}  // namespace

TEST(CommandLine, NoWordsKeepEveryDefault) {
    CommandLine line = Read({});
    EXPECT_EQ(line.options.relayUrl, "wss://default.relay/");
    EXPECT_EQ(line.options.apiBase, "https://default.api");
    EXPECT_EQ(line.options.caBundlePath, "C:\\app\\cacert.pem");
    EXPECT_EQ(line.options.lanPort, 0);
    EXPECT_EQ(line.options.trainingEnabled, 1);
    EXPECT_FALSE(line.tray || line.service || line.enroll || line.enrollOnly || line.help || line.noUpdate);
    EXPECT_EQ(sv::SelectOneShot(line, Args({})), OneShot::None);
}

TEST(CommandLine, ValueWordsSetTheirFields) {
    CommandLine line = Read({"--relay", "ws://127.0.0.1:9/", "--api", "https://localhost:1", "--cacert", "ca.pem",
                             "--data-dir", "D:\\data", "--lan", "47811"});
    EXPECT_EQ(line.options.relayUrl, "ws://127.0.0.1:9/");
    EXPECT_EQ(line.options.apiBase, "https://localhost:1");
    EXPECT_EQ(line.options.caBundlePath, "ca.pem");
    EXPECT_EQ(line.options.dataDir, "D:\\data");
    EXPECT_EQ(line.options.lanPort, 47811);
}

TEST(CommandLine, LaterWordsOverwrite) {
    CommandLine line = Read({"--relay", "a", "--relay", "b", "--lan", "5", "--lan", "-1"});
    EXPECT_EQ(line.options.relayUrl, "b");
    EXPECT_EQ(line.options.lanPort, -1);
}

TEST(CommandLine, AValueWordAtTheEndIsIgnored) {
    for (const char* word : {"--relay", "--api", "--cacert", "--data-dir", "--lan"}) {
        CommandLine line = Read({word});
        EXPECT_EQ(line.options.relayUrl, "wss://default.relay/") << word;
        EXPECT_EQ(line.options.apiBase, "https://default.api") << word;
        EXPECT_EQ(line.options.caBundlePath, "C:\\app\\cacert.pem") << word;
        EXPECT_EQ(line.options.dataDir, "C:\\Users\\x\\AppData\\Roaming\\Sorvane") << word;
        EXPECT_EQ(line.options.lanPort, 0) << word;
    }
}

TEST(CommandLine, AValueIsTakenEvenWhenItLooksLikeAnOption) {
    CommandLine line = Read({"--relay", "--tray"});
    EXPECT_EQ(line.options.relayUrl, "--tray");
    EXPECT_FALSE(line.tray);
}

TEST(CommandLine, WordsAreCaseSensitiveAndWhole) {
    CommandLine line = Read({"--Relay", "x", "--tray=1", "--TRAY", "--classic", "-tray", "tray"});
    EXPECT_EQ(line.options.relayUrl, "wss://default.relay/");
    EXPECT_FALSE(line.tray);
}

TEST(CommandLine, Flags) {
    CommandLine line = Read({"--tray", "--service", "--install-service", "--uninstall-service", "--check-update",
                             "--no-update", "--self-test-update", "--self-test-lan"});
    EXPECT_TRUE(line.tray);
    EXPECT_TRUE(line.service);
    EXPECT_TRUE(line.installService);
    EXPECT_TRUE(line.uninstallService);
    EXPECT_TRUE(line.checkUpdate);
    EXPECT_TRUE(line.noUpdate);
    EXPECT_TRUE(line.selfTestUpdate);
    EXPECT_TRUE(line.selfTestLan);
}

TEST(CommandLine, LanIsReadLikeAtoi) {
    EXPECT_EQ(Read({"--lan", "abc"}).options.lanPort, 0);
    EXPECT_EQ(Read({"--lan", "  12x"}).options.lanPort, 12);
    EXPECT_EQ(Read({"--lan", "+7"}).options.lanPort, 7);
    EXPECT_EQ(Read({"--lan", "-0"}).options.lanPort, 0);
    EXPECT_EQ(Read({"--lan", "99999999999999"}).options.lanPort, 2147483647);
    EXPECT_EQ(Read({"--lan", "-99999999999999"}).options.lanPort, -2147483647 - 1);
    EXPECT_EQ(Read({"--lan", "-2147483648"}).options.lanPort, -2147483647 - 1);
}

TEST(CommandLine, FetchNeedsTwoMoreWords) {
    CommandLine line = Read({"--fetch", "https://h/x", "out.bin"});
    EXPECT_EQ(line.fetchUrl, "https://h/x");
    EXPECT_EQ(line.fetchDestination, "out.bin");

    CommandLine one = Read({"--fetch", "https://h/x"});
    EXPECT_TRUE(one.fetchUrl.empty());
    EXPECT_TRUE(one.fetchDestination.empty());
    EXPECT_EQ(Select({"--fetch", "https://h/x"}), OneShot::None);
    // An empty URL is still a fetch (that fails), never a normal start.
    EXPECT_EQ(Select({"--fetch", "", "out.bin"}), OneShot::Fetch);

    // When ignored, the word after it is read as a word of its own.
    CommandLine tray = Read({"--fetch", "--tray"});
    EXPECT_TRUE(tray.tray);
    EXPECT_TRUE(tray.fetchUrl.empty());
}

TEST(CommandLine, EnrolmentTakesUpToTwoWords) {
    CommandLine both = Read({"--enroll-only", "tok", "name"});
    EXPECT_TRUE(both.enrollOnly);
    EXPECT_FALSE(both.enroll);
    EXPECT_EQ(both.enrollToken, "tok");
    EXPECT_EQ(both.enrollName, "name");

    CommandLine tokenOnly = Read({"--enroll-only", "tok"});
    EXPECT_TRUE(tokenOnly.enrollOnly);
    EXPECT_EQ(tokenOnly.enrollToken, "tok");
    EXPECT_EQ(tokenOnly.enrollName, "");

    CommandLine bare = Read({"--enroll"});
    EXPECT_TRUE(bare.enroll);
    EXPECT_EQ(bare.enrollToken, "");

    CommandLine run = Read({"--enroll", "t", "n", "--tray"});
    EXPECT_TRUE(run.enroll);
    EXPECT_TRUE(run.tray);
    EXPECT_EQ(run.enrollToken, "t");
    EXPECT_EQ(run.enrollName, "n");

    // The two words are taken whatever they look like.
    CommandLine swallowed = Read({"--enroll", "--tray", "--service"});
    EXPECT_FALSE(swallowed.tray);
    EXPECT_FALSE(swallowed.service);
    EXPECT_EQ(swallowed.enrollToken, "--tray");
    EXPECT_EQ(swallowed.enrollName, "--service");
}

TEST(CommandLine, HelpEndsTheReading) {
    CommandLine line = Read({"--relay", "x", "--help", "--relay", "y", "--tray"});
    EXPECT_TRUE(line.help);
    EXPECT_EQ(line.options.relayUrl, "x");
    EXPECT_FALSE(line.tray);
    EXPECT_TRUE(Read({"-h"}).help);
    EXPECT_TRUE(Read({"--fetch", "https://a/", "b", "-h"}).help);
    EXPECT_FALSE(Read({"--HELP"}).help);
    // As the value of another word it is only a value.
    CommandLine value = Read({"--data-dir", "--help"});
    EXPECT_FALSE(value.help);
    EXPECT_EQ(value.options.dataDir, "--help");
}

TEST(CommandLine, ApplyUpdateAndSrpVectorsCountOnlyFirst) {
    EXPECT_TRUE(sv::IsApplyUpdateRun(Args({"--apply-update", "123"})));
    EXPECT_FALSE(sv::IsApplyUpdateRun(Args({"--tray", "--apply-update"})));
    EXPECT_FALSE(sv::IsApplyUpdateRun(Args({})));
    EXPECT_TRUE(sv::WantsSrpVectors(Args({"--srp-vectors"})));
    EXPECT_FALSE(sv::WantsSrpVectors(Args({"--tray", "--srp-vectors"})));
    EXPECT_EQ(Select({"--srp-vectors"}), OneShot::SrpVectors);
    EXPECT_EQ(Select({"--no-update", "--srp-vectors"}), OneShot::None);
}

TEST(CommandLine, UiaCommandsNeedThreeWordsAndAValue) {
    EXPECT_EQ(sv::FindUiaCommand(Args({"--uia-tree"})).kind, sv::UiaCommand::Kind::None);
    EXPECT_EQ(sv::FindUiaCommand(Args({"--tray", "--uia-tree"})).kind, sv::UiaCommand::Kind::None);
    auto tree = sv::FindUiaCommand(Args({"--uia-tree", "Notepad"}));
    EXPECT_EQ(tree.kind, sv::UiaCommand::Kind::Tree);
    EXPECT_EQ(tree.value, "Notepad");
    auto first = sv::FindUiaCommand(Args({"--uia-focus", "3", "--uia-tree", "x"}));
    EXPECT_EQ(first.kind, sv::UiaCommand::Kind::Focus);
    EXPECT_EQ(first.value, "3");
    EXPECT_EQ(Select({"--uia-tree", "Calc"}), OneShot::UiaTree);
    EXPECT_EQ(Select({"--uia-focus", "2"}), OneShot::UiaFocus);
}

TEST(CommandLine, UiaFocusSecondsAreClamped) {
    EXPECT_EQ(sv::UiaFocusSeconds("5"), 5);
    EXPECT_EQ(sv::UiaFocusSeconds("abc"), 0);
    EXPECT_EQ(sv::UiaFocusSeconds("-3"), 0);
    EXPECT_EQ(sv::UiaFocusSeconds("99999999999"), sv::kMaxUiaFocusSeconds);
}

TEST(CommandLine, OneShotsAreTriedInOrder) {
    EXPECT_EQ(Select({"--check-update", "--self-test-lan", "--self-test-update", "--install-service",
                      "--enroll-only", "t", "n", "--fetch", "https://h/", "d"}),
              OneShot::Fetch);
    EXPECT_EQ(Select({"--check-update", "--self-test-lan", "--self-test-update", "--install-service",
                      "--enroll-only", "t", "n"}),
              OneShot::EnrollOnly);
    EXPECT_EQ(Select({"--enroll-only"}), OneShot::EnrollOnly);
    EXPECT_EQ(Select({"--check-update", "--self-test-lan", "--self-test-update", "--uninstall-service"}),
              OneShot::ServiceInstall);
    EXPECT_EQ(Select({"--check-update", "--self-test-lan", "--self-test-update"}), OneShot::SelfTestUpdate);
    EXPECT_EQ(Select({"--srp-vectors", "--self-test-lan"}), OneShot::SrpVectors);
    EXPECT_EQ(Select({"--check-update", "--uia-tree", "w", "--self-test-lan"}), OneShot::SelfTestLan);
    EXPECT_EQ(Select({"--check-update", "--uia-tree", "w"}), OneShot::UiaTree);
    EXPECT_EQ(Select({"--check-update"}), OneShot::CheckUpdate);
    // "--enroll" runs the host; it is no one-shot.
    EXPECT_EQ(Select({"--enroll", "t", "n"}), OneShot::None);
}

TEST(CommandLine, UsageHasTheFiveLines) {
    std::string usage = sv::UsageText();
    EXPECT_EQ(usage,
              "usage: sorvane-host-win7 [--relay <wss://...>] [--api <https://...>] [--cacert <path>]\n"
              "                         [--data-dir <dir>] [--classic] [--enroll <token> <name>]\n"
              "                         [--tray] [--no-update] [--fetch <https-url> <dest>]\n"
              "                         [--enroll-only <token> <name>] [--uia-tree <title>] [--uia-focus <s>]\n"
              "Runs classic unless device.json exists (enrolled) or --enroll is given.\n");
}

TEST(CommandLine, DataDirectories) {
    EXPECT_EQ(sv::DefaultDataDir("C:\\Users\\a\\AppData\\Roaming"), "C:\\Users\\a\\AppData\\Roaming\\Sorvane");
    EXPECT_EQ(sv::DefaultDataDir(""), "Sorvane");
    EXPECT_EQ(sv::DefaultDataDir(nullptr), "Sorvane");
    EXPECT_EQ(sv::ServiceDataDir("D:\\PD"), "D:\\PD\\Sorvane");
    EXPECT_EQ(sv::ServiceDataDir(""), "C:\\ProgramData\\Sorvane");
    EXPECT_EQ(sv::ServiceDataDir(nullptr), "C:\\ProgramData\\Sorvane");
}
