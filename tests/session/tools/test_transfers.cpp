#include "session/tools/transfers.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "base/text_encoding.h"
#include "base/worker_group.h"
#include "session/tools/clipboard.h"
#include "session/tools/file_transfer.h"
#include "test_support.h"

namespace {

using nlohmann::json;

std::string B64(const std::string& s) {
    return sv::EncodeBase64(reinterpret_cast<const uint8_t*>(s.data()), s.size());
}

// Transfers in a scratch data directory, with what it sends and audits recorded, a fake
// clipboard and a clock the test moves.
class TransferFixture : public ::testing::Test {
protected:
    void SetUp() override {
        sv::Transfers::Seams seams;
        seams.sendText = [this](const std::string& text) {
            std::lock_guard<std::mutex> lock(mutex);
            sent.push_back(json::parse(text));
        };
        seams.audit = [this](const std::string& kind, const std::string& detail, const std::string& actor) {
            std::lock_guard<std::mutex> lock(mutex);
            audit.push_back({kind, kind + " | actor=" + actor + " | " + detail});
        };
        seams.setClipboardText = [this](const std::string& text) {
            clipboard.push_back(text);
            return clipboardOk;
        };
        seams.steadyMs = [this] { return now.load(); };
        seams.stopping = [] { return false; };
        seams.runDetached = [this](std::function<void()> work) {
            ++starts;
            if (refusedStarts.load() > 0) {
                --refusedStarts;
                return false;
            }
            return workers.Start(std::move(work));
        };
        transfers = std::make_unique<sv::Transfers>(dir.Path(), std::move(seams));
    }
    void TearDown() override {
        transfers->Shutdown();
        workers.Stop();
        workers.Wait();
        transfers.reset();
    }

    // A message as the dispatcher hands it over; an unreadable member drops the message.
    void Send(const json& msg) {
        const std::string type = msg.value("type", "");
        const std::string from = msg.value("from", "");
        try {
            if (type == "clipboard") transfers->OnClipboard(msg, from);
            if (type == "file-begin") transfers->OnFileBegin(msg, from);
            if (type == "file-chunk") transfers->OnFileChunk(msg, from);
            if (type == "file-end") transfers->OnFileEnd(msg, from);
        } catch (const std::exception&) {
        }
    }
    void Upload(const std::string& from, const std::string& id, const std::string& name, const std::string& data) {
        Send({{"type", "file-begin"}, {"from", from}, {"id", id}, {"name", name}, {"size", data.size()}});
        for (size_t off = 0; off < data.size(); off += 1000) {
            Send({{"type", "file-chunk"}, {"from", from}, {"id", id}, {"data", B64(data.substr(off, 1000))}});
        }
        Send({{"type", "file-end"}, {"from", from}, {"id", id}});
    }
    std::string Received() { return dir.Path() + "\\received"; }
    std::string ReadReceived(const std::string& name) {
        HANDLE h = CreateFileW(sv::Utf8ToUtf16(Received() + "\\" + name).c_str(), GENERIC_READ, FILE_SHARE_READ,
                               nullptr, OPEN_EXISTING, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE) return "<missing>";
        std::string out;
        char buf[65536];
        DWORD n = 0;
        while (ReadFile(h, buf, sizeof(buf), &n, nullptr) && n > 0) out.append(buf, n);
        CloseHandle(h);
        return out;
    }
    std::vector<std::string> ReceivedNames() {
        std::vector<std::string> names;
        WIN32_FIND_DATAW fd;
        HANDLE h = FindFirstFileW(sv::Utf8ToUtf16(Received() + "\\*").c_str(), &fd);
        if (h == INVALID_HANDLE_VALUE) return names;
        do {
            std::string n = sv::Utf16ToUtf8(fd.cFileName);
            if (n != "." && n != "..") names.push_back(n);
        } while (FindNextFileW(h, &fd));
        FindClose(h);
        std::sort(names.begin(), names.end());
        return names;
    }
    // The audit lines of one kind, as "kind | actor=... | detail".
    std::vector<std::string> Audit(const std::string& kind) {
        std::lock_guard<std::mutex> lock(mutex);
        std::vector<std::string> out;
        for (const auto& line : audit) {
            if (line.first == kind) out.push_back(line.second);
        }
        return out;
    }
    std::vector<json> Sent(const std::string& type) {
        std::lock_guard<std::mutex> lock(mutex);
        std::vector<json> out;
        for (const auto& m : sent) {
            if (m.value("type", "") == type) out.push_back(m);
        }
        return out;
    }

    sv_test::ScratchDir dir;
    std::unique_ptr<sv::Transfers> transfers;
    sv::WorkerGroup workers;
    std::mutex mutex;
    std::vector<json> sent;
    std::vector<std::pair<std::string, std::string>> audit;  // kind, line
    std::vector<std::string> clipboard;
    bool clipboardOk = true;
    std::atomic<uint64_t> now{1000};
    std::atomic<int> starts{0};
    std::atomic<int> refusedStarts{0};  // the next n thread starts fail
};

TEST_F(TransferFixture, ClipboardUpToTheCapIsAppliedAboveItOnlyAudited) {
    std::string exact(1000000, 'a');
    Send({{"type", "clipboard"}, {"from", "c1"}, {"text", exact}});
    Send({{"type", "clipboard"}, {"from", "c1"}, {"text", exact + "b"}});
    Send({{"type", "clipboard"}, {"from", "c2"}, {"text", ""}});
    ASSERT_EQ(clipboard.size(), 2u);
    EXPECT_EQ(clipboard[0].size(), 1000000u);
    EXPECT_EQ(clipboard[1], "");
    auto applied = Audit("clipboard");
    ASSERT_EQ(applied.size(), 2u);
    EXPECT_EQ(applied[0], "clipboard | actor=c1 | remote->host len=1000000");
    EXPECT_EQ(applied[1], "clipboard | actor=c2 | remote->host len=0");
    auto skipped = Audit("clipboard-skip");
    ASSERT_EQ(skipped.size(), 1u);
    EXPECT_EQ(skipped[0], "clipboard-skip | actor=c1 | len=1000001");
}

// Only a text may replace what the person has on the clipboard: anything else is dropped,
// never read as an empty text that would wipe it.
TEST_F(TransferFixture, ClipboardWithoutATextIsDropped) {
    const json notText[] = {json(42), json(nullptr), json::array({"a"}), json::object({{"text", "a"}}), json(true)};
    for (const json& value : notText) Send({{"type", "clipboard"}, {"from", "c"}, {"text", value}});
    Send({{"type", "clipboard"}, {"from", "c"}});
    EXPECT_TRUE(clipboard.empty());
    EXPECT_TRUE(Audit("clipboard").empty());
    EXPECT_TRUE(Audit("clipboard-skip").empty());
}

TEST_F(TransferFixture, ClipboardFailureIsAuditedAsSuch) {
    clipboardOk = false;
    Send({{"type", "clipboard"}, {"from", "c1"}, {"text", "x"}});
    EXPECT_EQ(Audit("clipboard").size(), 1u);
    EXPECT_EQ(Audit("clipboard-error").size(), 1u);
}

TEST_F(TransferFixture, UploadIsWrittenByteExactWithItsTwinsNumbered) {
    std::string data;
    for (int i = 0; i < 5000; ++i) data += static_cast<char>(i * 31);
    Upload("c1", "u1", "report.pdf", data);
    Upload("c1", "u2", "report.pdf", "second");
    Upload("c1", "u3", "report.pdf", "third");
    EXPECT_EQ(ReadReceived("report.pdf"), data);
    EXPECT_EQ(ReadReceived("report (1).pdf"), "second");
    EXPECT_EQ(ReadReceived("report (2).pdf"), "third");
    auto recv = Audit("file-recv");
    ASSERT_EQ(recv.size(), 3u);
    EXPECT_EQ(recv[0], "file-recv | actor=c1 | report.pdf bytes=5000 -> " + Received() + "\\report.pdf");
    EXPECT_EQ(recv[1], "file-recv | actor=c1 | report.pdf bytes=6 -> " + Received() + "\\report (1).pdf");
    EXPECT_TRUE(Sent("file-error").empty());
}

TEST_F(TransferFixture, HostileNamesLandInsideReceived) {
    Upload("c", "1", "..\\..\\evil.txt", "a");
    Upload("c", "2", "../../../x/../NUL", "b");
    Upload("c", "3", "C:\\Windows\\win.ini", "c");
    Upload("c", "4", "D:stream.txt:ads", "d");
    Upload("c", "5", "..", "e");
    Upload("c", "6", "trail. . ", "f");
    Upload("c", "7", "Grüße 中文.txt", "g");
    std::vector<std::string> expected = {"Grüße 中文.txt", "_NUL", "evil.txt", "file", "stream.txt_ads", "trail",
                                         "win.ini"};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(ReceivedNames(), expected);
    EXPECT_EQ(ReadReceived("Grüße 中文.txt"), "g");
    // Nothing was written next to the data directory.
    EXPECT_EQ(sv_test::ListFiles(dir.Path()), std::vector<std::string>{"received"});
}

TEST_F(TransferFixture, SizeCapsAndBadBase64AreRefusedAndReported) {
    Send({{"type", "file-begin"}, {"from", "c"}, {"id", "big"}, {"name", "x"}, {"size", 104857601}});
    Send({{"type", "file-begin"}, {"from", "c"}, {"id", "neg"}, {"name", "x"}, {"size", -1}});
    Send({{"type", "file-begin"}, {"from", "c"}, {"id", "wrap"}, {"name", "x"}, {"size", 4294967297ULL}});
    Send({{"type", "file-begin"}, {"from", "c"}, {"id", "ok"}, {"name", "ok.bin"}, {"size", 104857600}});
    Send({{"type", "file-chunk"}, {"from", "c"}, {"id", "ok"}, {"data", "***"}});
    Send({{"type", "file-chunk"}, {"from", "c"}, {"id", "ok"}, {"data", ""}});
    Send({{"type", "file-chunk"}, {"from", "c"}, {"id", "ok"}, {"data", B64("kept")}});
    Send({{"type", "file-end"}, {"from", "c"}, {"id", "ok"}});
    auto errors = Audit("file-error");
    ASSERT_EQ(errors.size(), 4u);
    EXPECT_EQ(errors[0], "file-error | actor=c | size cap");
    EXPECT_EQ(errors[1], "file-error | actor=c | size cap");
    EXPECT_EQ(errors[2], "file-error | actor=c | size cap");
    EXPECT_EQ(errors[3], "file-error | actor=c | bad base64");
    auto replies = Sent("file-error");
    ASSERT_EQ(replies.size(), 4u);
    EXPECT_EQ(replies[0], json({{"type", "file-error"}, {"id", "big"}, {"error", "size cap"}}));
    EXPECT_EQ(replies[3], json({{"type", "file-error"}, {"id", "ok"}, {"error", "bad base64"}}));
    EXPECT_EQ(ReadReceived("ok.bin"), "kept");
}

TEST_F(TransferFixture, ChunksCrossingTheCapEraseTheTransfer) {
    sv::TransferLimits limits;
    limits.maxTransferBytes = 10;
    transfers->SetLimits(limits);
    Send({{"type", "file-begin"}, {"from", "c"}, {"id", "t"}, {"name", "x.bin"}, {"size", 10}});
    Send({{"type", "file-chunk"}, {"from", "c"}, {"id", "t"}, {"data", B64("123456")}});
    Send({{"type", "file-chunk"}, {"from", "c"}, {"id", "t"}, {"data", B64("78901")}});
    Send({{"type", "file-end"}, {"from", "c"}, {"id", "t"}});
    EXPECT_EQ(Audit("file-error"), std::vector<std::string>{"file-error | actor=c | transfer exceeds size cap"});
    EXPECT_TRUE(ReceivedNames().empty());
    EXPECT_TRUE(Audit("file-recv").empty());
}

TEST_F(TransferFixture, TooManyTransfersAndTotalMemoryAreCapped) {
    sv::TransferLimits limits;
    limits.maxTransfers = 2;
    limits.maxTotalBytes = 8;
    transfers->SetLimits(limits);
    Send({{"type", "file-begin"}, {"from", "a"}, {"id", "1"}, {"name", "one"}});
    Send({{"type", "file-begin"}, {"from", "b"}, {"id", "1"}, {"name", "two"}});
    Send({{"type", "file-begin"}, {"from", "b"}, {"id", "2"}, {"name", "three"}});
    Send({{"type", "file-chunk"}, {"from", "a"}, {"id", "1"}, {"data", B64("12345")}});
    Send({{"type", "file-chunk"}, {"from", "b"}, {"id", "1"}, {"data", B64("12345")}});
    auto replies = Sent("file-error");
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(replies[0], json({{"type", "file-error"}, {"id", "2"}, {"error", "too many transfers"}}));
    EXPECT_EQ(replies[1], json({{"type", "file-error"}, {"id", "1"}, {"error", "upload memory full"}}));
    Send({{"type", "file-end"}, {"from", "a"}, {"id", "1"}});
    EXPECT_EQ(ReadReceived("one"), "12345");
}

TEST_F(TransferFixture, OneControllerCannotFinishAnothersUpload) {
    Send({{"type", "file-begin"}, {"from", "alice"}, {"id", "1"}, {"name", "a.txt"}, {"size", 3}});
    Send({{"type", "file-chunk"}, {"from", "mallory"}, {"id", "1"}, {"data", B64("bad")}});
    Send({{"type", "file-end"}, {"from", "mallory"}, {"id", "1"}});
    EXPECT_TRUE(ReceivedNames().empty());
    Send({{"type", "file-chunk"}, {"from", "alice"}, {"id", "1"}, {"data", B64("abc")}});
    Send({{"type", "file-end"}, {"from", "alice"}, {"id", "1"}});
    EXPECT_EQ(ReadReceived("a.txt"), "abc");
}

TEST_F(TransferFixture, IdleTransfersAreDroppedWithAnErrorToTheSender) {
    sv::TransferLimits limits;
    limits.idleMs = 60000;
    transfers->SetLimits(limits);
    Send({{"type", "file-begin"}, {"from", "c"}, {"id", "slow"}, {"name", "s"}});
    Send({{"type", "file-begin"}, {"from", "c"}, {"id", "busy"}, {"name", "b"}});
    now += 40000;
    Send({{"type", "file-chunk"}, {"from", "c"}, {"id", "busy"}, {"data", B64("x")}});
    now += 30000;
    transfers->DropIdle();
    auto replies = Sent("file-error");
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0], json({{"type", "file-error"}, {"id", "slow"}, {"error", "idle timeout"}}));
    EXPECT_EQ(Audit("file-error"), std::vector<std::string>{"file-error | actor=c | idle timeout"});
    Send({{"type", "file-end"}, {"from", "c"}, {"id", "slow"}});
    Send({{"type", "file-end"}, {"from", "c"}, {"id", "busy"}});
    EXPECT_EQ(ReceivedNames(), std::vector<std::string>{"b"});
}

// The system had no thread for the sweeper: the next upload starts it, or uploads that
// went silent would be held for the host's whole life.
TEST_F(TransferFixture, ASweeperThatCouldNotStartIsStartedByTheNextUpload) {
    sv::TransferLimits limits;
    limits.idleMs = 60000;
    transfers->SetLimits(limits);
    refusedStarts = 1;
    Send({{"type", "file-begin"}, {"from", "c"}, {"id", "first"}, {"name", "a"}});
    Send({{"type", "file-begin"}, {"from", "c"}, {"id", "second"}, {"name", "b"}});
    EXPECT_EQ(starts.load(), 2);
    now += 70000;
    ASSERT_TRUE(sv_test::WaitUntil([&] { return Sent("file-error").size() == 2; }));
    EXPECT_EQ(Audit("file-error"), std::vector<std::string>(2, "file-error | actor=c | idle timeout"));
}

TEST_F(TransferFixture, AFailedWriteIsReportedAndLeavesNoFile) {
    // "received" taken by a plain file: nothing can be created inside it.
    HANDLE h = CreateFileW(sv::Utf8ToUtf16(Received()).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    CloseHandle(h);
    Upload("c", "w", "doc.txt", "data");
    EXPECT_TRUE(Audit("file-recv").empty());
    EXPECT_EQ(Audit("file-error"), std::vector<std::string>{"file-error | actor=c | cannot write file: doc.txt"});
    auto replies = Sent("file-error");
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0]["id"], "w");
}

TEST_F(TransferFixture, MessagesWithoutIdOrWithWrongTypesAreIgnored) {
    Send({{"type", "file-begin"}, {"from", "c"}, {"name", "x"}, {"size", 1}});
    Send({{"type", "file-begin"}, {"from", "c"}, {"id", 5}, {"name", "x"}});
    Send({{"type", "file-begin"}, {"from", "c"}, {"id", "s"}, {"name", "x"}, {"size", "12"}});
    Send({{"type", "file-chunk"}, {"from", "c"}, {"id", "unknown"}, {"data", B64("x")}});
    Send({{"type", "file-end"}, {"from", "c"}, {"id", "unknown"}});
    EXPECT_TRUE(ReceivedNames().empty());
    EXPECT_TRUE(Audit("file-recv").empty());
    // The string size is refused like any size out of range.
    EXPECT_EQ(Audit("file-error"), std::vector<std::string>{"file-error | actor=c | size cap"});
}

TEST(Clipboard, TextRoundTripsThroughTheWindowsClipboard) {
    const std::string text = "Sorvane \xE2\x80\x94 Gr\xC3\xBC\xC3\x9F" "e \xE4\xB8\xAD\r\nline 2";
    ASSERT_TRUE(sv::SetClipboardFromUtf8(text));
    std::string back;
    ASSERT_TRUE(sv::GetClipboardUtf8(back));
    EXPECT_EQ(back, text);
    ASSERT_TRUE(sv::SetClipboardFromUtf8(""));
    ASSERT_TRUE(sv::GetClipboardUtf8(back));
    EXPECT_EQ(back, "");
}

}  // namespace
