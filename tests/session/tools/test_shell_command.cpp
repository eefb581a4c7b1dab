#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "session/tools/exec_probe.h"
#include "session/tools/shell_command.h"

namespace {

using sv_test::ExecProbePath;

double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

bool ProcessGone(DWORD pid, DWORD waitMs) {
    HANDLE h = OpenProcess(SYNCHRONIZE, FALSE, pid);
    if (!h) return true;
    bool gone = WaitForSingleObject(h, waitMs) == WAIT_OBJECT_0;
    CloseHandle(h);
    return gone;
}

DWORD PidFromOutput(const std::string& out) {
    size_t pos = out.find("pid ");
    return pos == std::string::npos ? 0 : static_cast<DWORD>(std::stoul(out.substr(pos + 4)));
}

TEST(RunShellCommand, EchoGivesItsLineAndExitCodeZero) {
    sv::ShellCommandResult r = sv::RunShellCommand("echo hi");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "hi\r\n");
    EXPECT_EQ(r.err, "");
}

TEST(RunShellCommand, ExitCodeAndStderrComeBack) {
    sv::ShellCommandResult r = sv::RunShellCommand(ExecProbePath() + " exit 7");
    EXPECT_EQ(r.exitCode, 7);
    r = sv::RunShellCommand(ExecProbePath() + " spew 10 err");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "xxxxxxxxxx");
}

TEST(RunShellCommand, OutputAboveTheCapIsCutAndTheCommandEnded) {
    sv::ShellCommandResult r = sv::RunShellCommand(ExecProbePath() + " spew 300000");
    ASSERT_EQ(r.out.size(), 262144u + 19u);
    EXPECT_EQ(r.out.substr(0, 262144), std::string(262144, 'x'));
    EXPECT_EQ(r.out.substr(262144), "\n[output truncated]");
    EXPECT_EQ(r.exitCode, 1);
}

TEST(RunShellCommand, OutputOfExactlyTheCapIsNotMarked) {
    sv::ShellCommandResult r = sv::RunShellCommand(ExecProbePath() + " spew 262144");
    EXPECT_EQ(r.out.size(), 262144u);
    EXPECT_EQ(r.exitCode, 0);
}

TEST(RunShellCommand, TimeOutEndsTheCommandAndWhatItStarted) {
    // A remote command gets a minute; the limit is shortened here so as not to wait it out.
    EXPECT_EQ(sv::ShellCommandLimits().timeoutMs, 60000u);
    sv::ShellCommandLimits limits;
    limits.timeoutMs = 1500;
    auto start = std::chrono::steady_clock::now();
    sv::ShellCommandResult r = sv::RunShellCommand(ExecProbePath() + " tree 60000", limits);
    EXPECT_LT(SecondsSince(start), 8.0);
    EXPECT_EQ(r.exitCode, -1);
    ASSERT_GE(r.err.size(), 12u);
    EXPECT_EQ(r.err.substr(r.err.size() - 12), "\n[timed out]");
    DWORD pid = PidFromOutput(r.out);
    ASSERT_NE(pid, 0u) << r.out;
    EXPECT_TRUE(ProcessGone(pid, 5000));
}

TEST(RunShellCommand, CancelEndsTheCommandEarly) {
    std::atomic<bool> cancel{false};
    std::thread canceller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        cancel.store(true);
    });
    auto start = std::chrono::steady_clock::now();
    sv::ShellCommandResult r = sv::RunShellCommand(ExecProbePath() + " sleep 60000", sv::ShellCommandLimits(), &cancel);
    canceller.join();
    EXPECT_LT(SecondsSince(start), 8.0);
    EXPECT_EQ(r.exitCode, -1);
}

TEST(RunShellCommand, AGrandchildHoldingThePipeDoesNotHangTheReaders) {
    auto start = std::chrono::steady_clock::now();
    sv::ShellCommandResult r = sv::RunShellCommand(ExecProbePath() + " orphan 20000");
    EXPECT_LT(SecondsSince(start), 10.0);
    EXPECT_EQ(r.exitCode, 0);
    DWORD pid = PidFromOutput(r.out);
    ASSERT_NE(pid, 0u) << r.out;
    HANDLE h = OpenProcess(PROCESS_TERMINATE, FALSE, pid);
    if (h) {
        TerminateProcess(h, 0);
        CloseHandle(h);
    }
}

TEST(RunShellCommand, ChildInheritsNoOtherHandles) {
    SECURITY_ATTRIBUTES sa{sizeof(sa), nullptr, TRUE};
    HANDLE event = CreateEventW(&sa, TRUE, FALSE, nullptr);
    ASSERT_NE(event, nullptr);
    std::string value = std::to_string(reinterpret_cast<uintptr_t>(event));
    sv::ShellCommandResult r = sv::RunShellCommand(ExecProbePath() + " handle " + value);
    CloseHandle(event);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "closed\r\n");
}

TEST(ConsoleBytes, Utf8StaysAndOtherBytesAreDecoded) {
    EXPECT_EQ(sv::ConsoleBytesToUtf8("Gr\xC3\xBC\xC3\x9F" "e"), "Gr\xC3\xBC\xC3\x9F" "e");
    std::string converted = sv::ConsoleBytesToUtf8("caf\xE9 \x81\xFF");
    EXPECT_TRUE(sv::IsValidUtf8(converted));
    EXPECT_EQ(converted.substr(0, 3), "caf");
}

// ---------------------------------------------------------------- the readers

// An anonymous pipe whose writing end the test holds, as a command (or what it started)
// would.
struct TestPipe {
    HANDLE read = nullptr;
    HANDLE write = nullptr;
    TestPipe() { CreatePipe(&read, &write, nullptr, 0); }
    ~TestPipe() {
        if (write) CloseHandle(write);
    }
    void Write(const std::string& bytes) {
        DWORD n = 0;
        WriteFile(write, bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr);
    }
    void CloseWriter() {
        CloseHandle(write);
        write = nullptr;
    }
};

TEST(PipeReaders, KeepBothStreamsUntilTheirPipesEnd) {
    TestPipe out, err;
    int overflows = 0;
    sv::PipeReaders readers(10, [&] { ++overflows; });
    out.Write("hello");
    err.Write(std::string(25, 'e'));
    ASSERT_TRUE(readers.Start(out.read, err.read));
    out.CloseWriter();
    err.CloseWriter();
    readers.Finish(600000, nullptr);  // returns as soon as both pipes ended
    EXPECT_EQ(readers.Text(0), "hello");
    EXPECT_EQ(readers.Text(1), std::string(10, 'e') + "\n[output truncated]");
    EXPECT_EQ(overflows, 1);
}

// Something the command started can hold its pipes open for as long as it likes: the
// readers are broken off and joined, never left behind.
TEST(PipeReaders, ReadsOnPipesHeldOpenAreBrokenOffAndJoined) {
    struct Case {
        const char* name;
        uint32_t graceMs;
        bool cancel;
        bool finish;
    };
    const Case cases[] = {
        {"grace runs out", 200, false, true},
        {"the host stops during a long grace", 600000, true, true},
        {"dropped without finishing", 0, false, false},
    };
    for (const Case& c : cases) {
        TestPipe out, err;
        std::atomic<bool> cancel{c.cancel};
        int overflows = 0;
        auto start = std::chrono::steady_clock::now();
        {
            sv::PipeReaders readers(sv::kCommandOutputCap, [&] { ++overflows; });
            out.Write("partial");
            ASSERT_TRUE(readers.Start(out.read, err.read)) << c.name;
            if (c.finish) readers.Finish(c.graceMs, &cancel);
        }
        EXPECT_LT(SecondsSince(start), 10.0) << c.name;
        EXPECT_EQ(overflows, 0) << c.name;
        // The readers closed their ends: writing now finds no reader.
        DWORD n = 0;
        EXPECT_FALSE(WriteFile(out.write, "x", 1, &n, nullptr)) << c.name;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_DATA)) << c.name;
    }
}

}  // namespace
