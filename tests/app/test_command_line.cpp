#include "app/command_line.h"

#include <gtest/gtest.h>

#include <functional>

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

// A "--lan" value that is no port turns LAN direct off, or is read as another number:
// the line names the word and what LAN direct does now. A usable number says nothing.
TEST(CommandLine, LanValuesThatAreNoPortAreNamed) {
    const struct {
        const char* word;
        const char* says;  // how the line begins; nullptr: no line
    } cases[] = {
        {"47811", nullptr},
        {"65535", nullptr},
        {"0", nullptr},
        {"-1", nullptr},
        {"+7", nullptr},
        {"65536", "--lan \"65536\": no port is above 65535, so LAN direct is off"},
        {"99999999999999", "--lan \"99999999999999\": no port is above 65535, so LAN direct is off"},
        {"abc", "--lan \"abc\": not a port number, read as 0: host-ui.json decides about LAN direct"},
        {"", "--lan \"\": not a port number, read as 0: host-ui.json decides about LAN direct"},
        {"12x", "--lan \"12x\": not a port number, read as 12: LAN direct listens on port 12"},
        {"-5x", "--lan \"-5x\": not a port number, read as -5: LAN direct is off"},
    };
    for (const auto& c : cases) {
        const CommandLine line = Read({"--lan", c.word});
        if (c.says == nullptr) {
            EXPECT_EQ(line.lanWarning, "") << c.word;
            EXPECT_TRUE(line.warnings.empty()) << c.word;
            continue;
        }
        EXPECT_EQ(line.lanWarning.rfind(c.says, 0), 0u) << line.lanWarning;
        EXPECT_NE(line.lanWarning.find("; give a port from 1 to 65535"), std::string::npos) << line.lanWarning;
        EXPECT_EQ(line.warnings, std::vector<std::string>{line.lanWarning}) << c.word;
    }
}

TEST(CommandLine, HelpEndsTheReading) {
    CommandLine line = Read({"--relay", "x", "--help", "--relay", "y", "--tray"});
    EXPECT_TRUE(line.help);
    EXPECT_EQ(line.options.relayUrl, "x");
    EXPECT_FALSE(line.tray);
    EXPECT_TRUE(Read({"-h"}).help);
    EXPECT_TRUE(Read({"--fetch", "https://a/", "b", "-h"}).help);
    EXPECT_FALSE(Read({"--HELP"}).help);
    // Never taken as another word's value.
    CommandLine value = Read({"--data-dir", "--help"});
    EXPECT_TRUE(value.help);
    EXPECT_EQ(value.options.dataDir, "C:\\Users\\x\\AppData\\Roaming\\Sorvane");
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

// What the reading makes of words that are missing, misplaced or unknown.
TEST(CommandLine, MissingValuesOptionWordsAndUnknownWords) {
    using Check = std::function<void(const CommandLine&)>;
    const Check nothing = [](const CommandLine&) {};
    const std::string defaultDir = "C:\\Users\\x\\AppData\\Roaming\\Sorvane";
    struct Case {
        std::vector<std::string> words;
        std::string error;  // the one line, or "" when the reading went on
        std::vector<std::string> warnings;
        Check check;
    };
    const Case cases[] = {
        // A forgotten token: the next option must never be sent to the server as one.
        {{"--enroll", "--data-dir", "X"},
         "--enroll needs a token and a name (\"--data-dir\" is an option, not its value)",
         {},
         [&](const CommandLine& l) {
             EXPECT_FALSE(l.enroll);
             EXPECT_EQ(l.enrollToken, "");
             EXPECT_EQ(l.options.dataDir, defaultDir);
         }},
        {{"--enroll", "tok", "--tray"},
         "--enroll needs a token and a name (\"--tray\" is an option, not its value)",
         {},
         [](const CommandLine& l) { EXPECT_FALSE(l.tray); }},
        {{"--enroll-only", "tok"}, "--enroll-only needs a token and a name (nothing follows it)", {}, nothing},
        {{"--fetch", "https://h/x"},
         "--fetch needs an https:// URL and a destination file (nothing follows it)",
         {},
         [](const CommandLine& l) { EXPECT_FALSE(l.fetch); }},
        {{"--uia-tree", "--tray"}, "--uia-tree needs a window title (\"--tray\" is an option, not its value)", {},
         nothing},
        {{"--tray", "--uia-focus"}, "--uia-focus needs a number of seconds (nothing follows it)", {}, nothing},
        // Other options are ignored with a line; the option word is read as itself.
        {{"--relay", "--tray"},
         "",
         {"ignoring --relay: it needs a wss:// URL (\"--tray\" is an option, not its value)"},
         [](const CommandLine& l) {
             EXPECT_TRUE(l.tray);
             EXPECT_EQ(l.options.relayUrl, "wss://default.relay/");
         }},
        {{"--data-dir"},
         "",
         {"ignoring --data-dir: it needs a folder (nothing follows it)"},
         [&](const CommandLine& l) { EXPECT_EQ(l.options.dataDir, defaultDir); }},
        {{"--lan", "--no-update", "--cacert"},
         "",
         {"ignoring --lan: it needs a port number (\"--no-update\" is an option, not its value)",
          "ignoring --cacert: it needs a file (nothing follows it)"},
         [](const CommandLine& l) {
             EXPECT_EQ(l.options.lanPort, 0);
             EXPECT_TRUE(l.noUpdate);
             EXPECT_EQ(l.options.caBundlePath, "C:\\app\\cacert.pem");
         }},
        // A single dash is a value: negative ports turn LAN direct off.
        {{"--lan", "-1"}, "", {}, [](const CommandLine& l) { EXPECT_EQ(l.options.lanPort, -1); }},
        // A typo is no longer silent; words are compared whole and case-sensitive.
        {{"--data-dri", "D:\\x", "--TRAY", "--tray=1", "--tray"},
         "",
         {"ignoring \"--data-dri\": not an option of this program (see --help)",
          "ignoring \"D:\\x\": not an option of this program (see --help)",
          "ignoring \"--TRAY\": not an option of this program (see --help)",
          "ignoring \"--tray=1\": not an option of this program (see --help)"},
         [&](const CommandLine& l) {
             EXPECT_EQ(l.options.dataDir, defaultDir);
             EXPECT_TRUE(l.tray);
         }},
        {{"--classic", "--srp-vectors"}, "", {"ignoring --srp-vectors: it counts only as the first word"}, nothing},
        {{"--srp-vectors", "--no-update"}, "", {}, nothing},
        {{"--enroll", "t", "Front desk", "--tray"},
         "",
         {},
         [](const CommandLine& l) {
             EXPECT_TRUE(l.enroll && l.tray);
             EXPECT_EQ(l.enrollToken, "t");
             EXPECT_EQ(l.enrollName, "Front desk");
         }},
        // Empty words are values (the enrolment then refuses them itself).
        {{"--fetch", "", "out.bin"}, "", {}, [](const CommandLine& l) { EXPECT_TRUE(l.fetch); }},
        {{"--uia-focus", "3", "--uia-tree", "x"},
         "",
         {},
         [](const CommandLine& l) {
             EXPECT_EQ(l.uia.kind, sv::UiaCommand::Kind::Focus);
             EXPECT_EQ(l.uia.value, "3");
         }},
    };
    for (const Case& c : cases) {
        std::string label;
        for (const std::string& w : c.words) label += w + " ";
        CommandLine line = Read(c.words);
        EXPECT_EQ(line.error, c.error) << label;
        EXPECT_EQ(line.warnings, c.warnings) << label;
        c.check(line);
    }
}

TEST(CommandLine, TheUsageNamesEveryWordTheReadingKnows) {
    const std::string usage = sv::UsageText();
    ASSERT_GE(sv::KnownOptions().size(), 20u);
    for (const sv::OptionSpec& option : sv::KnownOptions()) {
        const std::string word = option.word;
        bool listed = false;
        for (size_t at = usage.find(word); at != std::string::npos; at = usage.find(word, at + 1)) {
            const char before = at == 0 ? ' ' : usage[at - 1];
            const char after = at + word.size() < usage.size() ? usage[at + word.size()] : ' ';
            listed = listed || ((before == '[' || before == ' ') && (after == ']' || after == ' ' || after == '\n'));
        }
        EXPECT_TRUE(listed) << word;
    }
}

TEST(CommandLine, DataDirectories) {
    EXPECT_EQ(sv::DefaultDataDir("C:\\Users\\a\\AppData\\Roaming"), "C:\\Users\\a\\AppData\\Roaming\\Sorvane");
    EXPECT_EQ(sv::DefaultDataDir(""), "Sorvane");
    EXPECT_EQ(sv::DefaultDataDir(nullptr), "Sorvane");
    EXPECT_EQ(sv::ServiceDataDir("D:\\PD"), "D:\\PD\\Sorvane");
    EXPECT_EQ(sv::ServiceDataDir(""), "C:\\ProgramData\\Sorvane");
    EXPECT_EQ(sv::ServiceDataDir(nullptr), "C:\\ProgramData\\Sorvane");
}
