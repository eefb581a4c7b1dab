#include "app/update_installer.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "app/update_command_line.h"
#include "base/file_io.h"
#include "base/text_encoding.h"
#include "test_support.h"

namespace {

// The installer's system calls, recorded; nothing waits and nothing is started.
struct FakeSystem {
    std::vector<uint32_t> parents;
    int pauses = 0;
    int serviceStarts = 0;
    std::vector<std::pair<std::wstring, std::string>> programs;
    bool restartWorks = true;

    sv::InstallerSystem Make() {
        sv::InstallerSystem s;
        s.waitForParent = [this](uint32_t pid) { parents.push_back(pid); };
        s.pause = [this](uint32_t) { ++pauses; };
        s.startService = [this] {
            ++serviceStarts;
            return restartWorks;
        };
        s.startProgram = [this](const std::wstring& line, const std::string& dir) {
            programs.push_back({line, dir});
            return restartWorks;
        };
        return s;
    }
};

void Put(const std::string& path, const std::string& text) { ASSERT_TRUE(sv::WriteTextFile(path, text)); }

struct Installation {
    sv_test::ScratchDir dir;
    std::string staging = dir.Path() + "\\staging";
    std::string install = dir.Path() + "\\app";
    std::string target = install + "\\host.exe";

    Installation() {
        Put(target, "old program");
        Put(install + "\\keep.txt", "not in the package");
        Put(install + "\\lib\\data.bin", "old data");
        Put(staging + "\\host.exe", "new program");
        Put(staging + "\\lib\\data.bin", "new data");
        Put(staging + "\\fresh\\added.txt", "added");
        Put(staging + "\\_manifest.json", "{}");
    }
    std::vector<std::string> Words(std::vector<std::string> hostArgs) const {
        std::vector<std::string> words = {"321", staging, target};
        words.insert(words.end(), hostArgs.begin(), hostArgs.end());
        return words;
    }
    bool Unchanged() const {
        for (const std::string& folder : {install, install + "\\lib"}) {
            for (const std::string& name : sv_test::ListFiles(folder)) {
                if (name.find(".sv-update") != std::string::npos) return false;
            }
        }
        return sv_test::ReadFile(target) == "old program" && sv_test::ReadFile(install + "\\lib\\data.bin") == "old data" &&
               !sv::PathExists(install + "\\fresh\\added.txt");
    }
};

TEST(UpdateInstaller, StagedFilesReplaceTheInstallationAndTheProgramRestarts) {
    Installation inst;
    FakeSystem fake;
    EXPECT_EQ(sv::ApplyStagedUpdate(inst.Words({"--tray", "--enroll", "tok", "pc", "--data-dir", "D:\\a b"}), fake.Make()),
              sv::kApplyOk);
    EXPECT_EQ(fake.parents, std::vector<uint32_t>{321});
    EXPECT_EQ(sv_test::ReadFile(inst.target), "new program");
    EXPECT_EQ(sv_test::ReadFile(inst.install + "\\lib\\data.bin"), "new data");
    EXPECT_EQ(sv_test::ReadFile(inst.install + "\\fresh\\added.txt"), "added");
    EXPECT_EQ(sv_test::ReadFile(inst.install + "\\keep.txt"), "not in the package");
    EXPECT_FALSE(sv::PathExists(inst.install + "\\_manifest.json"));
    // Nothing of the swap is left beside the files.
    EXPECT_EQ(sv_test::ListFiles(inst.install).size(), 4u);
    EXPECT_EQ(sv_test::ListFiles(inst.install + "\\lib").size(), 1u);
    ASSERT_EQ(fake.programs.size(), 1u);
    EXPECT_EQ(fake.programs[0].first, sv::BuildRestartCommandLine(inst.target, {"--tray", "--data-dir", "D:\\a b"}));
    EXPECT_EQ(fake.programs[0].second, inst.install);
    EXPECT_EQ(fake.serviceStarts, 0);
}

TEST(UpdateInstaller, ExitCodesFollowTheRestartAndTheCopy) {
    struct Case {
        const char* name;
        std::vector<std::string> args;
        bool restartWorks;
        bool lockFile;
        int code;
    };
    const Case cases[] = {
        {"service restarted", {"--service"}, true, false, sv::kApplyOk},
        {"service not started", {"--service"}, false, false, sv::kApplyRestartFailed},
        {"program not started", {}, false, false, sv::kApplyRestartFailed},
        {"busy file", {}, true, true, sv::kApplyIncomplete},
        {"busy file and no restart", {"--service"}, false, true, sv::kApplyRestartFailed},
    };
    for (const Case& c : cases) {
        Installation inst;
        FakeSystem fake;
        fake.restartWorks = c.restartWorks;
        HANDLE lock = INVALID_HANDLE_VALUE;
        if (c.lockFile) {
            // Held without sharing, as a program still running from it would.
            lock = CreateFileW(sv::Utf8ToUtf16(inst.install + "\\lib\\data.bin").c_str(), GENERIC_READ, 0, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
            ASSERT_NE(lock, INVALID_HANDLE_VALUE);
        }
        EXPECT_EQ(sv::ApplyStagedUpdate(inst.Words(c.args), fake.Make()), c.code) << c.name;
        if (lock != INVALID_HANDLE_VALUE) CloseHandle(lock);
        const bool service = sv::RestartsAsService(c.args);
        EXPECT_EQ(fake.serviceStarts, service ? 1 : 0) << c.name;
        EXPECT_EQ(fake.programs.size(), service ? 0u : 1u) << c.name;
        if (c.lockFile) {
            // All or nothing: the files moved before the busy one are put back.
            EXPECT_TRUE(inst.Unchanged()) << c.name;
            EXPECT_EQ(fake.pauses, sv::kInstallAttempts - 1) << c.name;
        } else {
            EXPECT_EQ(sv_test::ReadFile(inst.target), "new program") << c.name;
        }
    }
}

TEST(UpdateInstaller, MissingArgumentsOrStagingDoNothing) {
    FakeSystem fake;
    EXPECT_EQ(sv::ApplyStagedUpdate({"1", "x"}, fake.Make()), sv::kApplyMissingArguments);
    EXPECT_TRUE(fake.parents.empty());
    EXPECT_TRUE(fake.programs.empty());

    Installation inst;
    sv_test::ScratchDir::RemoveTree(inst.staging);
    EXPECT_EQ(sv::ApplyStagedUpdate(inst.Words({}), fake.Make()), sv::kApplyIncomplete);
    EXPECT_TRUE(inst.Unchanged());
    EXPECT_EQ(fake.programs.size(), 1u);
}

}  // namespace
