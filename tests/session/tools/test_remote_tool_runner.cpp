#include "session/tools/remote_tool_runner.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "base/audit_log.h"
#include "base/worker_group.h"
#include "session/relay/relay_messages.h"
#include "session/tools/exec_probe.h"
#include "test_support.h"

namespace {

using nlohmann::json;

// A runner on a worker group of its own, with every reply kept.
class ToolRunner : public ::testing::Test {
protected:
    void SetUp() override { sv::SetAuditDirectory(dir.Path()); }
    void TearDown() override {
        stop.store(true);
        work.Stop();
        work.Wait();
        sv::SetAuditDirectory("");
    }
    sv::RemoteToolRunner::Seams Seams() {
        sv::RemoteToolRunner::Seams s;
        s.sendText = [this](const std::string& text) {
            {
                std::lock_guard<std::mutex> lock(mutex);
                sent.push_back(json::parse(text));
            }
            arrived.notify_all();
        };
        s.runDetached = [this](std::function<void()> piece) { return work.Start(std::move(piece)); };
        return s;
    }
    std::vector<json> Taken() {
        std::lock_guard<std::mutex> lock(mutex);
        std::vector<json> out;
        out.swap(sent);
        return out;
    }
    bool WaitSent(size_t n) {
        std::unique_lock<std::mutex> lock(mutex);
        return arrived.wait_for(lock, std::chrono::seconds(60), [&] { return sent.size() >= n; });
    }
    // Each request to the handler its type names, as the routes would.
    void Request(sv::RemoteToolRunner& runner, const std::string& type, const std::string& id, const std::string& arg) {
        json msg = {{"type", type}, {"from", "ctl-1"}, {"id", id}, {"command", arg}, {"path", arg}};
        sv::IncomingMessage m = *sv::ParseIncoming(msg.dump(), sv::MessageSource::kRelay);
        if (type == "exec-request") runner.OnExecRequest(m);
        if (type == "fs-list") runner.OnFsList(m);
        if (type == "fs-read") runner.OnFsRead(m);
        if (type == "log-tail") runner.OnLogTail(m);
    }

    sv_test::ScratchDir dir;
    std::atomic<bool> stop{false};
    std::mutex mutex;
    std::condition_variable arrived;
    std::vector<json> sent;
    sv::WorkerGroup work;  // after what its pieces use: stopped and waited for in TearDown
};

TEST_F(ToolRunner, RequestsOverTheCapAreRefusedAtOnceAndTheSlotsComeBack) {
    sv::RemoteToolRunner runner(Seams(), &stop);
    // The running commands wait for an event that the test sets.
    std::string eventName = "sv-tool-cap-" + std::to_string(GetCurrentProcessId());
    HANDLE release = CreateEventA(nullptr, TRUE, FALSE, eventName.c_str());
    ASSERT_NE(release, nullptr);
    for (size_t i = 0; i < sv::kRemoteToolSlots; ++i) {
        Request(runner, "exec-request", "run" + std::to_string(i), sv_test::ExecProbePath() + " wait " + eventName);
    }
    EXPECT_EQ(runner.Running(), sv::kRemoteToolSlots);

    // Every kind of request is refused on the receiving thread, before its handler returns,
    // with the reply its type gets in its failure form.
    const char* kinds[] = {"exec-request", "fs-list", "fs-read", "log-tail"};
    for (const char* kind : kinds) Request(runner, kind, std::string("over-") + kind, "C:\\x");
    std::vector<json> refusals = Taken();
    ASSERT_EQ(refusals.size(), 4u);
    EXPECT_EQ(refusals[0], json::parse(R"({"type":"exec-result","id":"over-exec-request","exitCode":-1,
                                           "stdout":"","stderr":"too many requests"})"));
    EXPECT_EQ(refusals[1], json::parse(R"({"type":"fs-list-result","id":"over-fs-list","path":"C:\\x",
                                           "entries":[],"error":"too many requests"})"));
    EXPECT_EQ(refusals[2], json::parse(R"({"type":"log-result","id":"over-fs-read","text":"","error":"too many requests"})"));
    EXPECT_EQ(refusals[3], json::parse(R"({"type":"log-result","id":"over-log-tail","text":"","error":"too many requests"})"));

    SetEvent(release);
    ASSERT_TRUE(WaitSent(4));
    for (const json& r : Taken()) EXPECT_EQ(r["exitCode"], 0) << r.dump();
    CloseHandle(release);

    // Every slot is back.
    for (size_t i = 0; i < sv::kRemoteToolSlots; ++i) {
        Request(runner, "exec-request", "again" + std::to_string(i), "echo hi");
    }
    ASSERT_TRUE(WaitSent(4));
    for (const json& r : Taken()) EXPECT_EQ(r["stdout"], "hi\r\n") << r.dump();
    const std::string audit = sv_test::AuditText(dir.Path());
    for (const char* kind : kinds) {
        EXPECT_NE(audit.find(std::string(" | tool-refused | actor=ctl-1 | ") + kind + " too many requests: C:\\x"),
                  std::string::npos)
            << kind << "\n" << audit;
    }
}

// A worker that cannot start gives its slot back and sends nothing.
TEST_F(ToolRunner, WorkThatNeverStartsGivesItsSlotBack) {
    sv::RemoteToolRunner::Seams seams = Seams();
    seams.runDetached = [](std::function<void()>) { return false; };
    sv::RemoteToolRunner runner(seams, &stop);
    for (size_t i = 0; i < sv::kRemoteToolSlots + 2; ++i) Request(runner, "fs-list", "l" + std::to_string(i), "C:\\");
    EXPECT_EQ(runner.Running(), 0u);
    EXPECT_TRUE(Taken().empty());
}

// The slot is back before the last reply leaves: a controller that asks again on that
// reply is not refused.
TEST_F(ToolRunner, TheNextRequestOnALastReplyFindsASlot) {
    sv::RemoteToolRunner::Seams seams = Seams();
    sv::RemoteToolRunner* self = nullptr;
    std::atomic<size_t> runningAtReply{99};
    auto keep = seams.sendText;
    seams.sendText = [&, keep](const std::string& text) {
        runningAtReply.store(self->Running());
        keep(text);
    };
    sv::RemoteToolRunner runner(seams, &stop);
    self = &runner;
    Request(runner, "fs-list", "l", dir.Path());
    ASSERT_TRUE(WaitSent(1));
    EXPECT_EQ(runningAtReply.load(), 0u);
    EXPECT_EQ(Taken()[0]["type"], "fs-list-result");
}

// A last reply that waits (toward a connection that does not read) keeps its thread:
// past the thread cap a request is refused at once, though the work slots are free,
// instead of leaving one more thread waiting; once the replies leave, the cap is back.
TEST_F(ToolRunner, WaitingRepliesCapTheThreads) {
    sv::RemoteToolRunner::Seams seams = Seams();
    const DWORD receiver = GetCurrentThreadId();
    std::mutex gate;
    std::condition_variable gateChanged;
    bool open = false;
    size_t waiting = 0;
    auto keep = seams.sendText;
    seams.sendText = [&, keep](const std::string& text) {
        if (GetCurrentThreadId() != receiver) {
            std::unique_lock<std::mutex> lock(gate);
            ++waiting;
            gateChanged.notify_all();
            gateChanged.wait(lock, [&] { return open; });
        }
        keep(text);
    };
    sv::RemoteToolRunner runner(seams, &stop);
    struct Opener {
        sv::WorkerGroup& work;
        std::mutex& gate;
        std::condition_variable& changed;
        bool& open;
        ~Opener() {
            {
                std::lock_guard<std::mutex> lock(gate);
                open = true;
            }
            changed.notify_all();
            work.Wait();  // nothing may use the gate once it is gone
        }
    } opener{work, gate, gateChanged, open};

    for (size_t i = 0; i < sv::kRemoteToolThreads; ++i) {
        Request(runner, "fs-list", "l" + std::to_string(i), dir.Path());
        std::unique_lock<std::mutex> lock(gate);
        ASSERT_TRUE(gateChanged.wait_for(lock, std::chrono::seconds(60), [&] { return waiting == i + 1; }));
    }
    EXPECT_EQ(runner.Running(), 0u);
    Request(runner, "fs-list", "over", dir.Path());
    std::vector<json> refused = Taken();
    ASSERT_EQ(refused.size(), 1u);
    EXPECT_EQ(refused[0]["error"], "too many requests");

    {
        std::lock_guard<std::mutex> lock(gate);
        open = true;
    }
    gateChanged.notify_all();
    ASSERT_TRUE(WaitSent(sv::kRemoteToolThreads));
    ASSERT_TRUE(work.WaitFor(std::chrono::seconds(60)));
    for (const json& r : Taken()) EXPECT_FALSE(r.contains("error")) << r.dump();
    Request(runner, "fs-list", "again", dir.Path());
    ASSERT_TRUE(WaitSent(1));
    EXPECT_FALSE(Taken()[0].contains("error"));
}

}  // namespace
