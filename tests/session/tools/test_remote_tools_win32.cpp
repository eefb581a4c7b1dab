#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "base/audit_log.h"
#include "base/text_encoding.h"
#include "session/tools/file_transfer.h"
#include "session/tools/remote_tools.h"
#include "session/tools/system_programs.h"
#include "session/tools/exec_probe.h"
#include "test_support.h"

namespace {

using nlohmann::json;

using sv_test::ExecProbePath;

// ---------------------------------------------------------------- the workers

class ToolFixture : public ::testing::Test {
protected:
    void SetUp() override { sv::SetAuditDirectory(dir.Path()); }
    void TearDown() override { sv::SetAuditDirectory(""); }

    sv::ToolSend Sender() {
        return [this](const std::string& text) {
            std::lock_guard<std::mutex> lock(mutex);
            sent.push_back(json::parse(text));
        };
    }
    std::string Audit() { return sv_test::AuditText(dir.Path()); }
    void WriteBytes(const std::string& path, const std::string& bytes) {
        HANDLE h = CreateFileW(sv::Utf8ToUtf16(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        DWORD n = 0;
        if (!bytes.empty()) WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr);
        CloseHandle(h);
    }

    sv_test::ScratchDir dir;
    sv_test::ScratchDir work;
    std::mutex mutex;
    std::vector<json> sent;
};

TEST_F(ToolFixture, ExecRequestRepliesAndAudits) {
    sv::HandleExecRequest(Sender(), "e1", "echo hi", "ctl-1");
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0]["type"], "exec-result");
    EXPECT_EQ(sent[0]["id"], "e1");
    EXPECT_EQ(sent[0]["exitCode"], 0);
    EXPECT_EQ(sent[0]["stdout"], "hi\r\n");
    EXPECT_EQ(sent[0]["stderr"], "");
    std::string audit = Audit();
    EXPECT_NE(audit.find(" | exec | actor=ctl-1 | echo hi"), std::string::npos) << audit;
    EXPECT_NE(audit.find(" | exec-result | actor=ctl-1 | exit=0 cmd=echo hi"), std::string::npos) << audit;
}

TEST_F(ToolFixture, ExecOutputThatIsNotUtf8StillMakesAValidReply) {
    sv::HandleExecRequest(Sender(), "e2", ExecProbePath() + " bytes", "");
    ASSERT_EQ(sent.size(), 1u);
    std::string out = sent[0]["stdout"];
    EXPECT_TRUE(sv::IsValidUtf8(out));
    EXPECT_EQ(out.substr(0, 3), "caf");
    sent.clear();
    sv::HandleExecRequest(Sender(), "e3", ExecProbePath() + " utf8", "");
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0]["stdout"], "Gr\xC3\xBC\xC3\x9F" "e \xE4\xB8\xAD\r\n");
}

TEST_F(ToolFixture, FsListPutsDirectoriesFirstWithSizesAndTimes) {
    std::string root = work.Path();
    WriteBytes(root + "\\b.txt", "12345");
    WriteBytes(root + "\\Grüße.txt", "xy");
    CreateDirectoryW(sv::Utf8ToUtf16(root + "\\zdir").c_str(), nullptr);
    CreateDirectoryW(sv::Utf8ToUtf16(root + "\\中文").c_str(), nullptr);
    sv::HandleFsList(Sender(), "l1", root, "ctl");
    ASSERT_EQ(sent.size(), 1u);
    const json& r = sent[0];
    EXPECT_EQ(r["type"], "fs-list-result");
    EXPECT_EQ(r["id"], "l1");
    EXPECT_EQ(r["path"], root);
    EXPECT_FALSE(r.contains("error"));
    ASSERT_EQ(r["entries"].size(), 4u);
    EXPECT_TRUE(r["entries"][0]["isDir"].get<bool>());
    EXPECT_TRUE(r["entries"][1]["isDir"].get<bool>());
    EXPECT_FALSE(r["entries"][2]["isDir"].get<bool>());
    EXPECT_FALSE(r["entries"][3]["isDir"].get<bool>());
    std::map<std::string, json> byName;
    for (const auto& e : r["entries"]) byName[e["name"]] = e;
    ASSERT_TRUE(byName.count("b.txt"));
    ASSERT_TRUE(byName.count("Grüße.txt"));
    ASSERT_TRUE(byName.count("中文"));
    EXPECT_EQ(byName["b.txt"]["size"], 5);
    EXPECT_EQ(byName["zdir"]["size"], 0);
    std::string modified = byName["b.txt"]["modified"];
    ASSERT_EQ(modified.size(), 16u);
    EXPECT_EQ(modified[4], '-');
    EXPECT_EQ(modified[10], ' ');
    EXPECT_EQ(modified[13], ':');
    EXPECT_NE(Audit().find(" | fs-list | actor=ctl | " + root), std::string::npos);
}

TEST_F(ToolFixture, FsListOfAMissingDirectoryOrAFileIsAnError) {
    std::string missing = work.Path() + "\\nope";
    sv::HandleFsList(Sender(), "l2", missing, "");
    WriteBytes(work.Path() + "\\plain.txt", "x");
    sv::HandleFsList(Sender(), "l3", work.Path() + "\\plain.txt", "");
    sv::HandleFsList(Sender(), "l4", "", "");
    ASSERT_EQ(sent.size(), 3u);
    for (const auto& r : sent) {
        EXPECT_EQ(r["error"], "directory not found");
        EXPECT_TRUE(r["entries"].empty());
    }
    EXPECT_EQ(sent[0]["path"], missing);
}

TEST_F(ToolFixture, FsListOfAnEmptyDirectoryHasNoEntriesAndNoError) {
    sv::HandleFsList(Sender(), "l5", work.Path() + "\\", "");
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_TRUE(sent[0]["entries"].empty());
    EXPECT_FALSE(sent[0].contains("error"));
}

TEST_F(ToolFixture, FsListStopsAtFiveThousandDirectoriesBeforeFiles) {
    std::string root = work.Path() + "\\many";
    CreateDirectoryW(sv::Utf8ToUtf16(root).c_str(), nullptr);
    for (int i = 0; i < 5003; ++i) CreateDirectoryW(sv::Utf8ToUtf16(root + "\\d" + std::to_string(i)).c_str(), nullptr);
    for (int i = 0; i < 3; ++i) WriteBytes(root + "\\f" + std::to_string(i), "x");
    sv::HandleFsList(Sender(), "big", root, "");
    ASSERT_EQ(sent.size(), 1u);
    const json& entries = sent[0]["entries"];
    EXPECT_EQ(entries.size(), 5000u);
    for (const auto& e : entries) EXPECT_TRUE(e["isDir"].get<bool>());
}

TEST_F(ToolFixture, FsReadSendsChunksThatReassembleExactly) {
    std::string data(150000, '\0');
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>((i * 7919) >> 3);
    std::string path = work.Path() + "\\daten-ü.bin";
    WriteBytes(path, data);
    sv::HandleFsRead(Sender(), "r1", path, "ctl");
    ASSERT_EQ(sent.size(), 5u);
    EXPECT_EQ(sent[0]["type"], "file-begin");
    EXPECT_EQ(sent[0]["name"], "daten-ü.bin");
    EXPECT_EQ(sent[0]["size"], 150000);
    std::string id = sent[0]["id"];
    EXPECT_NE(id, "r1");
    std::string joined;
    size_t sizes[3] = {65536, 65536, 18928};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(sent[1 + i]["type"], "file-chunk");
        EXPECT_EQ(sent[1 + i]["id"], id);
        EXPECT_EQ(sent[1 + i]["seq"], i);
        auto bytes = sv::DecodeBase64(sent[1 + i]["data"].get<std::string>());
        EXPECT_EQ(bytes.size(), sizes[i]);
        joined.append(bytes.begin(), bytes.end());
    }
    EXPECT_EQ(sent[4], json({{"type", "file-end"}, {"id", id}}));
    EXPECT_EQ(joined, data);
    EXPECT_NE(Audit().find(" | fs-read-result | daten-ü.bin bytes=150000"), std::string::npos);
}

TEST_F(ToolFixture, FsReadOfAnEmptyFileSendsNoChunk) {
    WriteBytes(work.Path() + "\\empty", "");
    sv::HandleFsRead(Sender(), "r2", work.Path() + "\\empty", "");
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0]["size"], 0);
    EXPECT_EQ(sent[1]["type"], "file-end");
}

TEST_F(ToolFixture, FsReadErrors) {
    sv::HandleFsRead(Sender(), "d", work.Path(), "");
    sv::HandleFsRead(Sender(), "m", work.Path() + "\\missing", "");
    std::string big = work.Path() + "\\big.bin";
    HANDLE h = CreateFileW(sv::Utf8ToUtf16(big).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    LARGE_INTEGER size;
    size.QuadPart = 104857601;
    SetFilePointerEx(h, size, nullptr, FILE_BEGIN);
    SetEndOfFile(h);
    CloseHandle(h);
    sv::HandleFsRead(Sender(), "b", big, "");
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[0], json({{"type", "log-result"}, {"id", "d"}, {"text", ""}, {"error", "file not found"}}));
    EXPECT_EQ(sent[1]["error"], "file not found");
    EXPECT_EQ(sent[2], json({{"type", "log-result"}, {"id", "b"}, {"text", ""}, {"error", "file too large"}}));
}

// A download that breaks off after "file-begin" ends its transfer as well as answering
// the request, so the controller never waits for a "file-end" that will not come.
TEST_F(ToolFixture, FsReadBreakingOffAfterItsBeginEndsTheTransfer) {
    struct Case {
        const char* name;
        bool cancel;  // else the file shrinks under the reader
    };
    const Case cases[] = {{"the host stops", true}, {"the file shrinks", false}};
    for (const Case& c : cases) {
        sent.clear();
        std::string path = work.Path() + "\\shrinks.bin";
        WriteBytes(path, std::string(200000, 'z'));
        std::atomic<bool> cancel{false};
        auto send = [&](const std::string& text) {
            json msg = json::parse(text);
            if (msg["type"] == "file-begin") {
                if (c.cancel) {
                    cancel.store(true);
                } else {
                    // Shared with the reader's handle, as another program's write would be.
                    HANDLE h = CreateFileW(sv::Utf8ToUtf16(path).c_str(), GENERIC_WRITE,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
                    LARGE_INTEGER at;
                    at.QuadPart = 5;
                    EXPECT_TRUE(h != INVALID_HANDLE_VALUE && SetFilePointerEx(h, at, nullptr, FILE_BEGIN) &&
                                SetEndOfFile(h));
                    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
                }
            }
            sent.push_back(msg);
        };
        sv::HandleFsRead(send, "r", path, "", &cancel);
        ASSERT_GE(sent.size(), 3u) << c.name;
        ASSERT_EQ(sent.front()["type"], "file-begin") << c.name;
        std::string transfer = sent.front()["id"];
        const json& ended = sent[sent.size() - 2];
        EXPECT_EQ(ended, json({{"type", "file-error"}, {"id", transfer}, {"error", "cannot read file"}})) << c.name;
        EXPECT_EQ(sent.back(), json({{"type", "log-result"}, {"id", "r"}, {"text", ""}, {"error", "cannot read file"}}))
            << c.name;
        for (const auto& m : sent) EXPECT_NE(m["type"], "file-end") << c.name;
    }
}

TEST_F(ToolFixture, TwoDownloadsAtOnceGetDistinctIds) {
    WriteBytes(work.Path() + "\\one", std::string(70000, 'a'));
    std::vector<json> a, b;
    std::mutex m;
    std::thread t1([&] {
        sv::HandleFsRead([&](const std::string& s) { std::lock_guard<std::mutex> l(m); a.push_back(json::parse(s)); },
                         "1", work.Path() + "\\one", "");
    });
    std::thread t2([&] {
        sv::HandleFsRead([&](const std::string& s) { std::lock_guard<std::mutex> l(m); b.push_back(json::parse(s)); },
                         "2", work.Path() + "\\one", "");
    });
    t1.join();
    t2.join();
    ASSERT_FALSE(a.empty());
    ASSERT_FALSE(b.empty());
    EXPECT_NE(a[0]["id"], b[0]["id"]);
}

TEST_F(ToolFixture, LogTailReturnsTheLastLines) {
    std::string path = work.Path() + "\\app.log";
    std::string text;
    for (int i = 1; i <= 150; ++i) text += "line " + std::to_string(i) + "\r\n";
    text += "\r\n\r\n";
    WriteBytes(path, text);
    sv::HandleLogTail(Sender(), "t1", path, json(3), "ctl");
    sv::HandleLogTail(Sender(), "t2", path, json(0), "");
    sv::HandleLogTail(Sender(), "t3", path, json(100), "");
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[0], json({{"type", "log-result"}, {"id", "t1"}, {"text", "line 148\nline 149\nline 150"}}));
    EXPECT_EQ(sent[1]["text"], "line 150");
    std::string hundred = sent[2]["text"];
    EXPECT_EQ(hundred.substr(0, 9), "line 51\nl");
    EXPECT_NE(Audit().find(" | log-tail | actor=ctl | " + path + " lines=3"), std::string::npos);
}

TEST_F(ToolFixture, LogTailReadsOnlyTheEndOfALargeFileAndRepairsItsText) {
    std::string path = work.Path() + "\\big.log";
    // A three-byte character straddles the 256 KiB boundary from the end.
    std::string text = "start\n";
    text += std::string(400000, 'a');
    text += "\n\xE4\xB8\xAD";
    text += std::string(262144 - 2 - 1, 'b');
    text += "\ncaf\xE9\n";
    WriteBytes(path, text);
    sv::HandleLogTail(Sender(), "t4", path, json(5000), "");
    ASSERT_EQ(sent.size(), 1u);
    std::string out = sent[0]["text"];
    EXPECT_TRUE(sv::IsValidUtf8(out));
    EXPECT_EQ(out.find("start"), std::string::npos);
    EXPECT_EQ(out.substr(out.size() - 6), "caf\xEF\xBF\xBD");
}

TEST_F(ToolFixture, LogTailOfAMissingFile) {
    sv::HandleLogTail(Sender(), "t5", work.Path() + "\\missing.log", json(10), "");
    sv::HandleLogTail(Sender(), "t6", work.Path(), json(10), "");
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0], json({{"type", "log-result"}, {"id", "t5"}, {"text", ""}, {"error", "file not found"}}));
    EXPECT_EQ(sent[1]["error"], "file not found");
}

}  // namespace

namespace {

TEST(SystemPrograms, AreFoundInTheSystemDirectory) {
    wchar_t dir[MAX_PATH];
    UINT n = GetSystemDirectoryW(dir, MAX_PATH);
    ASSERT_GT(n, 0u);
    EXPECT_EQ(sv::SystemProgramPath(L"netsh.exe"), std::wstring(dir, n) + L"\\netsh.exe");
}

}  // namespace
