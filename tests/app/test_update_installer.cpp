#include "app/update_installer.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "app/update_command_line.h"
#include "app/update_journal.h"
#include "app/update_test_support.h"
#include "base/file_io.h"
#include "base/text_encoding.h"
#include "test_support.h"

namespace {

// The installer's system calls, recorded; nothing waits and nothing is started.
struct FakeSystem {
    std::vector<uint32_t> parents;
    int pauses = 0;
    std::function<void(int pause)> onPause;
    int serviceStarts = 0;
    std::vector<std::pair<std::wstring, std::string>> programs;
    std::vector<std::string> lines;
    bool restartWorks = true;

    sv::InstallerSystem Make() {
        sv::InstallerSystem s;
        s.waitForParent = [this](uint32_t pid) { parents.push_back(pid); };
        s.pause = [this](uint32_t) {
            ++pauses;
            if (onPause) onPause(pauses);
        };
        s.startService = [this] {
            ++serviceStarts;
            return restartWorks;
        };
        s.startProgram = [this](const std::wstring& line, const std::string& dir) {
            programs.push_back({line, dir});
            return restartWorks;
        };
        s.log = [this](const std::string& line) { lines.push_back(line); };
        return s;
    }
};

void Put(const std::string& path, const std::string& text) { ASSERT_TRUE(sv::WriteTextFile(path, text)); }

sv_test::TestSigner& Signer() {
    static sv_test::TestSigner signer;
    return signer;
}

// Stages `files` as the staging step leaves them: each file, the manifest listing them
// all and its signature.
void Stage(const std::string& staging, const std::vector<std::pair<std::string, std::string>>& files) {
    nlohmann::json manifest = nlohmann::json::object();
    for (const auto& f : files) {
        Put(staging + "\\" + f.first, f.second);
        std::string name = f.first;
        std::replace(name.begin(), name.end(), '\\', '/');
        manifest[name] = sv::Sha256Hex(f.second);
    }
    Put(staging + "\\_manifest.json", manifest.dump());
    Put(staging + "\\_manifest.sig", Signer().SignBase64(manifest.dump()));
}

struct Installation {
    sv_test::ScratchDir dir;
    std::string staging = dir.Path() + "\\staging";
    std::string install = dir.Path() + "\\app";
    std::string target = install + "\\host.exe";
    std::string key = Signer().PublicKeyBase64();

    Installation() {
        Put(target, "old program");
        Put(install + "\\keep.txt", "not in the package");
        Put(install + "\\lib\\data.bin", "old data");
        Stage(staging, {{"host.exe", "new program"}, {"lib\\data.bin", "new data"}, {"fresh\\added.txt", "added"}});
    }
    std::vector<std::string> Words(std::vector<std::string> hostArgs) const {
        std::vector<std::string> words = {"321", staging, target};
        words.insert(words.end(), hostArgs.begin(), hostArgs.end());
        return words;
    }
    int Apply(FakeSystem& fake, std::vector<std::string> hostArgs = {}) const {
        return sv::ApplyStagedUpdate(Words(hostArgs), fake.Make(), key);
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
    EXPECT_EQ(inst.Apply(fake, {"--tray", "--enroll", "tok", "pc", "--data-dir", "D:\\a b"}), sv::kApplyOk);
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
    EXPECT_EQ(fake.lines, (std::vector<std::string>{"[update] installer copied 3 files into " + inst.install,
                                                    "[update] installer exit code 0"}));
}

// Held without sharing, as a program still running from it would.
HANDLE HoldWithoutSharing(const std::string& path) {
    return CreateFileW(sv::Utf8ToUtf16(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
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
        const HANDLE lock = c.lockFile ? HoldWithoutSharing(inst.install + "\\lib\\data.bin") : INVALID_HANDLE_VALUE;
        ASSERT_EQ(lock != INVALID_HANDLE_VALUE, c.lockFile) << c.name;
        EXPECT_EQ(inst.Apply(fake, c.args), c.code) << c.name;
        if (lock != INVALID_HANDLE_VALUE) CloseHandle(lock);
        const bool service = sv::RestartsAsService(c.args);
        EXPECT_EQ(fake.serviceStarts, service ? 1 : 0) << c.name;
        EXPECT_EQ(fake.programs.size(), service ? 0u : 1u) << c.name;
        if (c.lockFile) {
            // All or nothing: the files moved before the busy one are put back.
            EXPECT_TRUE(inst.Unchanged()) << c.name;
            EXPECT_EQ(fake.pauses, sv::kInstallAttempts - 1) << c.name;
            EXPECT_EQ(fake.lines.at(0), "[update] installer rolled back: " + inst.install + "\\lib\\data.bin stayed locked")
                << c.name;
        } else {
            EXPECT_EQ(sv_test::ReadFile(inst.target), "new program") << c.name;
        }
    }
}

void RestoredAtTheNextStart(const Installation& inst, HANDLE program);

// The new host.exe turns busy at the last wait for the busy lib\data.bin, just as it is
// to be put back. Free again after one more wait, it is put back and the installation
// ends whole and old; held through every attempt, the installation is new and old at
// once, and says so.
TEST(UpdateInstaller, APutBackIsRetriedAndOneThatStaysBusyIsReportedAsMixed) {
    for (const bool staysBusy : {false, true}) {
        Installation inst;
        FakeSystem fake;
        HANDLE data = HoldWithoutSharing(inst.install + "\\lib\\data.bin");
        ASSERT_NE(data, INVALID_HANDLE_VALUE);
        HANDLE program = INVALID_HANDLE_VALUE;
        fake.onPause = [&](int pause) {
            if (pause == sv::kInstallAttempts - 1) program = HoldWithoutSharing(inst.target);
            if (pause == sv::kInstallAttempts + 1 && !staysBusy) CloseHandle(program);
        };
        const int code = inst.Apply(fake);
        CloseHandle(data);
        ASSERT_NE(program, INVALID_HANDLE_VALUE);
        if (!staysBusy) {
            EXPECT_EQ(code, sv::kApplyIncomplete);
            EXPECT_EQ(fake.pauses, sv::kInstallAttempts + 1);
            EXPECT_TRUE(inst.Unchanged());
            continue;
        }
        EXPECT_EQ(code, sv::kApplyLeftMixed);
        EXPECT_EQ(fake.lines.at(0), "[update] installer left mixed: " + inst.target + " (" + inst.install +
                                        "\\lib\\data.bin stayed locked)");
        EXPECT_EQ(fake.lines.at(1), "[update] installer exit code 5");
        EXPECT_EQ(fake.programs.size(), 1u);  // the restart is what brings the restore
        RestoredAtTheNextStart(inst, program);
    }
}

// What follows a mixed installation whose new host.exe is still held by `program`.
void RestoredAtTheNextStart(const Installation& inst, HANDLE program) {
    const std::string journal = inst.install + "\\" + sv::kUpdateJournalName;
    EXPECT_EQ(sv_test::ReadFile(inst.target + ".sv-update-old"), "old program");
    EXPECT_EQ(sv_test::ReadFile(inst.install + "\\lib\\data.bin"), "old data");
    EXPECT_FALSE(sv::PathExists(inst.install + "\\fresh\\added.txt"));  // that one was put back
    ASSERT_TRUE(sv::PathExists(journal));

    // A start while the file is still held keeps the old copy and the journal, and so
    // does another installation, which refuses to begin over them.
    sv::TidyInterruptedInstall(inst.install);
    EXPECT_EQ(sv_test::ReadFile(inst.target + ".sv-update-old"), "old program");
    EXPECT_TRUE(sv::PathExists(journal));
    FakeSystem again;
    EXPECT_EQ(inst.Apply(again), sv::kApplyIncomplete);
    EXPECT_EQ(again.lines.at(0), "[update] installer copied nothing: an earlier installation is not put back yet: " +
                                     inst.target);
    EXPECT_EQ(sv_test::ReadFile(inst.target + ".sv-update-old"), "old program");

    // The next start once it is free: the old side, whole.
    CloseHandle(program);
    EXPECT_EQ(sv_test::ReadFile(inst.target), "new program");
    sv::TidyInterruptedInstall(inst.install);
    EXPECT_TRUE(inst.Unchanged());
    EXPECT_FALSE(sv::PathExists(journal));
}

// What a start does with a journal that an installation left.
TEST(UpdateInstaller, AStartRestoresTheOldSideOnlyFromAReadableJournal) {
    struct Case {
        const char* name;
        std::string journal;
        bool restored;
    };
    const Case cases[] = {
        {"cut off before the swaps ended", sv::FormatUpdateJournal({{"added.txt", false}, {"host.exe", true},
                                                                    {"lib/a.dll", true}}),
         true},
        {"cut off mid-write", "sorvane-update-journal 1\nold host.exe\n", false},
        {"a name outside the folder", "sorvane-update-journal 1\nold ../host.exe\nend\n", false},
    };
    for (const Case& c : cases) {
        sv_test::ScratchDir dir;
        const std::string d = dir.Path();
        Put(d + "\\host.exe", "new");
        Put(d + "\\host.exe.sv-update-old", "old");
        Put(d + "\\added.txt", "added");
        Put(d + "\\lib\\a.dll", "old a");  // never swapped: no old copy, left alone
        Put(d + "\\" + sv::kUpdateJournalName, c.journal);
        sv::TidyInterruptedInstall(d);
        if (c.restored) {
            std::vector<std::string> left = sv_test::ListFiles(d);
            std::sort(left.begin(), left.end());
            EXPECT_EQ(left, (std::vector<std::string>{"host.exe", "lib"})) << c.name;
            EXPECT_EQ(sv_test::ReadFile(d + "\\host.exe"), "old") << c.name;
        } else {
            // Which copy is which is not known: all of it stays for a person to judge.
            EXPECT_EQ(sv_test::ReadFile(d + "\\host.exe"), "new") << c.name;
            EXPECT_EQ(sv_test::ReadFile(d + "\\host.exe.sv-update-old"), "old") << c.name;
            EXPECT_TRUE(sv::PathExists(d + "\\added.txt")) << c.name;
            EXPECT_TRUE(sv::PathExists(d + "\\" + sv::kUpdateJournalName)) << c.name;
        }
        EXPECT_EQ(sv_test::ReadFile(d + "\\lib\\a.dll"), "old a") << c.name;
    }
}

TEST(UpdateInstaller, MissingArgumentsOrStagingDoNothing) {
    FakeSystem fake;
    EXPECT_EQ(sv::ApplyStagedUpdate({"1", "x"}, fake.Make(), ""), sv::kApplyMissingArguments);
    EXPECT_TRUE(fake.parents.empty());
    EXPECT_TRUE(fake.programs.empty());

    Installation inst;
    sv_test::ScratchDir::RemoveTree(inst.staging);
    EXPECT_EQ(inst.Apply(fake), sv::kApplyIncomplete);
    EXPECT_TRUE(inst.Unchanged());
    EXPECT_EQ(fake.programs.size(), 1u);
    EXPECT_EQ(fake.lines, (std::vector<std::string>{"[update] installer copied nothing: no staged manifest",
                                                    "[update] installer exit code 4"}));
}

// Only what the signed manifest names, as it was signed, is installed; a staging folder
// changed after its check installs nothing at all.
TEST(UpdateInstaller, TheCopySetIsTheSignedManifest) {
    struct Case {
        const char* name;
        std::function<void(const Installation&)> change;
        const char* refusal;  // nullptr: installed
    };
    const Case cases[] = {
        {"a file added after the check is left out",
         [](const Installation& i) { Put(i.staging + "\\version.dll", "planted"); }, nullptr},
        {"a listed file changed", [](const Installation& i) { Put(i.staging + "\\lib\\data.bin", "changed"); },
         "staged file changed: lib/data.bin"},
        {"a listed file gone", [](const Installation& i) { DeleteFileW(sv::Utf8ToUtf16(i.staging + "\\host.exe").c_str()); },
         "cannot read staged host.exe"},
        {"the manifest changed", [](const Installation& i) { Put(i.staging + "\\_manifest.json", "{}"); }, "bad signature"},
        {"restaged under another key",
         [](const Installation& i) {
             sv_test::TestSigner other;
             nlohmann::json m = {{"host.exe", sv::Sha256Hex("planted")}};
             Put(i.staging + "\\host.exe", "planted");
             Put(i.staging + "\\_manifest.json", m.dump());
             Put(i.staging + "\\_manifest.sig", other.SignBase64(m.dump()));
         },
         "bad signature"},
    };
    for (const Case& c : cases) {
        Installation inst;
        c.change(inst);
        FakeSystem fake;
        const int code = inst.Apply(fake);
        EXPECT_FALSE(sv::PathExists(inst.install + "\\version.dll")) << c.name;
        EXPECT_FALSE(sv::PathExists(inst.install + "\\_manifest.json")) << c.name;
        if (c.refusal == nullptr) {
            EXPECT_EQ(code, sv::kApplyOk) << c.name;
            EXPECT_EQ(sv_test::ReadFile(inst.target), "new program") << c.name;
        } else {
            EXPECT_EQ(code, sv::kApplyIncomplete) << c.name;
            EXPECT_TRUE(inst.Unchanged()) << c.name;
            EXPECT_EQ(fake.lines.at(0), std::string("[update] installer copied nothing: ") + c.refusal) << c.name;
        }
    }
}

TEST(UpdateInstaller, AFolderIsWritableOnlyWhenAFileCanBeMadeAndRemovedThere) {
    sv_test::ScratchDir dir;
    EXPECT_TRUE(sv::FolderAcceptsNewFiles(dir.Path()));
    EXPECT_TRUE(sv_test::ListFiles(dir.Path()).empty());  // the probe is gone again
    Put(dir.Path() + "\\file", "x");
    EXPECT_FALSE(sv::FolderAcceptsNewFiles(dir.Path() + "\\missing"));
    EXPECT_FALSE(sv::FolderAcceptsNewFiles(dir.Path() + "\\file"));
}

TEST(UpdateInstaller, WhatAnInterruptedInstallLeftIsPutRightAtTheNextStart) {
    sv_test::ScratchDir dir;
    const std::string d = dir.Path();
    Put(d + "\\host.exe", "new");
    Put(d + "\\host.exe.sv-update-old", "old");              // swapped: the old copy goes
    Put(d + "\\lib\\a.dll.sv-update-old", "old a");         // moved aside only: it comes back
    Put(d + "\\lib\\b.dll.sv-update-new", "half placed");   // never moved in: it goes
    Put(d + "\\notes.txt", "untouched");
    sv::TidyInterruptedInstall(d);
    EXPECT_EQ(sv_test::ListFiles(d).size(), 3u);  // host.exe, lib, notes.txt
    EXPECT_EQ(sv_test::ReadFile(d + "\\host.exe"), "new");
    EXPECT_EQ(sv_test::ListFiles(d + "\\lib"), std::vector<std::string>{"a.dll"});
    EXPECT_EQ(sv_test::ReadFile(d + "\\lib\\a.dll"), "old a");
}

}  // namespace
