#include "app/update_command_line.h"

#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include "base/text_encoding.h"

namespace {

// The words a started program gets back from its command line.
std::vector<std::string> Split(const std::wstring& line) {
    int count = 0;
    LPWSTR* words = CommandLineToArgvW(line.c_str(), &count);
    std::vector<std::string> out;
    for (int i = 0; i < count; ++i) out.push_back(sv::Utf16ToUtf8(words[i]));
    LocalFree(words);
    return out;
}

TEST(UpdateCommandLine, QuotedArgumentsComeBackExactly) {
    const std::vector<std::string> args = {
        "--tray", "", " ", "two words", "say \"hi\"", "C:\\Program Files\\", "ends\\\\", "back\\\"slash",
        "\\\\server\\share\\x", "tab\there", "\"", "trailing\\", "Gr\xC3\xBC\xC3\x9F" "e \xE4\xB8\xAD", "a\\\\\"b",
    };
    const std::wstring line = sv::BuildRestartCommandLine("C:\\Sorvane Host\\sorvane-host-win7.exe", args);
    std::vector<std::string> expected = {"C:\\Sorvane Host\\sorvane-host-win7.exe"};
    expected.insert(expected.end(), args.begin(), args.end());
    EXPECT_EQ(Split(line), expected);
}

TEST(UpdateCommandLine, QuotingLeavesPlainWordsAlone) {
    const std::pair<const char*, const wchar_t*> cases[] = {
        {"--tray", L"--tray"},
        {"", L"\"\""},
        {"a\"b", L"\"a\\\"b\""},
        {"dir with space\\", L"\"dir with space\\\\\""},
    };
    for (const auto& c : cases) EXPECT_EQ(sv::QuoteCommandLineArg(c.first), c.second) << c.first;
}

TEST(UpdateCommandLine, InstallerLineCarriesPidFoldersAndHostArguments) {
    const std::wstring line = sv::BuildUpdaterCommandLine("C:\\data dir\\update-staging\\host.exe", 4242,
                                                          "C:\\data dir\\update-staging", "C:\\app\\host.exe",
                                                          {"--data-dir", "C:\\data dir"});
    EXPECT_EQ(line,
              L"\"C:\\data dir\\update-staging\\host.exe\" --apply-update 4242 \"C:\\data dir\\update-staging\" "
              L"C:\\app\\host.exe --data-dir \"C:\\data dir\"");
    sv::ApplyRequest request;
    std::vector<std::string> words = Split(line);
    ASSERT_TRUE(sv::ParseApplyArguments(std::vector<std::string>(words.begin() + 2, words.end()), request));
    EXPECT_EQ(request.parentPid, 4242u);
    EXPECT_EQ(request.stagingDir, "C:\\data dir\\update-staging");
    EXPECT_EQ(request.targetExe, "C:\\app\\host.exe");
    EXPECT_EQ(request.hostArgs, (std::vector<std::string>{"--data-dir", "C:\\data dir"}));
}

TEST(UpdateCommandLine, ApplyArgumentsNeedThreeWords) {
    sv::ApplyRequest request;
    EXPECT_FALSE(sv::ParseApplyArguments({"1", "staging"}, request));
    const std::pair<const char*, uint32_t> pids[] = {{"17", 17}, {"17abc", 17}, {"x", 0}, {"99999999999", 4294967295u}};
    for (const auto& p : pids) {
        ASSERT_TRUE(sv::ParseApplyArguments({p.first, "s", "t"}, request));
        EXPECT_EQ(request.parentPid, p.second) << p.first;
        EXPECT_TRUE(request.hostArgs.empty());
    }
}

TEST(UpdateCommandLine, EnrolmentIsNotHandedOn) {
    using Words = std::vector<std::string>;
    const std::pair<Words, Words> cases[] = {
        {{"--enroll", "tok", "Reception PC", "--tray"}, {"--tray"}},
        {{"--tray", "--enroll", "tok"}, {"--tray"}},
        {{"--enroll"}, {}},
        // A value that only looks like the option stays, with its option.
        {{"--data-dir", "--enroll", "--tray"}, {"--data-dir", "--enroll", "--tray"}},
        {{"--relay", "wss://r/", "--enroll", "t", "n", "--data-dir", "D:\\x"},
         {"--relay", "wss://r/", "--data-dir", "D:\\x"}},
        {{"--fetch", "--enroll", "x", "--tray"}, {"--fetch", "--enroll", "x", "--tray"}},
        {{"--fetch", "--enroll", "x"}, {"--fetch", "--enroll", "x"}},
        {{"--fetch", "--enroll"}, {"--fetch"}},
    };
    for (const auto& c : cases) EXPECT_EQ(sv::ArgumentsToHandOn(c.first), c.second);
}

TEST(UpdateCommandLine, InstallFolderAndExitCodes) {
    EXPECT_EQ(sv::InstallDirectoryOf("C:\\Program Files\\Sorvane\\host.exe"), "C:\\Program Files\\Sorvane");
    EXPECT_EQ(sv::InstallDirectoryOf("C:\\host.exe"), "C:\\");
    EXPECT_EQ(sv::InstallDirectoryOf("host.exe"), ".");
    EXPECT_EQ(sv::ApplyExitCode(true, true), 0);
    EXPECT_EQ(sv::ApplyExitCode(true, false), 4);
    EXPECT_EQ(sv::ApplyExitCode(false, true), 2);
    EXPECT_EQ(sv::ApplyExitCode(false, false), 2);
    EXPECT_TRUE(sv::RestartsAsService({"--data-dir", "x", "--service"}));
    EXPECT_FALSE(sv::RestartsAsService({"--services"}));
}

}  // namespace
