#include "app/host_run_task.h"

#include <gtest/gtest.h>

#include <cstring>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "base/audit_log.h"
#include "base/file_io.h"
#include "base/text_encoding.h"
#include "test_support.h"

using sv_test::ReadFile;
using sv_test::ScratchDir;

namespace {

// A fake support API and host, with both output streams caught in files.
struct Harness {
    ScratchDir dir;
    sv::HostOptions options;
    bool enroll = false;
    std::string token = "tok";
    std::string name = "desk-1";
    std::string answer;
    std::vector<std::string> posts;  // "url|body|ca"
    std::vector<std::string> runs;   // "classic" or "enrolled <id> <secret>"
    std::string rejection;           // the relay's reason after the enrolled run
    std::function<void()> duringPost;  // runs while the support API is asked
    std::vector<std::string> failures;  // lines given to the failure sink
    std::string outPath, errPath;
    std::FILE* out = nullptr;
    std::FILE* err = nullptr;

    Harness() {
        options.apiBase = "https://api.test";
        options.dataDir = dir.Path() + "\\data";
        options.caBundlePath = "ca.pem";
        outPath = dir.Path() + "\\out.txt";
        errPath = dir.Path() + "\\err.txt";
        out = _wfopen(sv::Utf8ToUtf16(outPath).c_str(), L"w+b");
        err = _wfopen(sv::Utf8ToUtf16(errPath).c_str(), L"w+b");
    }
    ~Harness() {
        std::fclose(out);
        std::fclose(err);
        sv::SetAuditDirectory("");
    }

    sv::EnrolmentIo Io() {
        sv::EnrolmentIo io;
        io.postJson = [this](const std::string& url, const std::string& body, const std::string& ca) {
            posts.push_back(url + "|" + body + "|" + ca);
            if (duringPost) duringPost();
            sv::HttpResponse r;
            r.body.assign(answer.begin(), answer.end());
            r.status = 200;
            if (answer.empty()) {
                // No answer at all, for a cause the client knows.
                r.status = 0;
                r.failure = sv::HttpFailure::Connect;
                r.connectFailure = sv::ConnectFailure::CaUnreadable;
            }
            return r;
        };
        io.out = out;
        io.err = err;
        return io;
    }

    int RunTask(sv::HostRunState* state = nullptr) {
        sv::HostRunTask::Runner runner;
        runner.runClassic = [this] {
            runs.push_back("classic");
            return 7;
        };
        runner.runEnrolled = [this](int32_t id, const std::string& secret) {
            runs.push_back("enrolled " + std::to_string(id) + " " + secret);
            return 9;
        };
        runner.rejection = [this] { return rejection; };
        sv::HostRunTask task(enroll, token, name, options, runner, Io());
        task.ReportTo(state);
        task.ReportFailuresTo([this](const std::string& line) { failures.push_back(line); });
        return task();
    }

    int RunOnce() { return sv::RunEnrollOnly(token, name, options, Io()); }

    std::string Out() {
        std::fflush(out);
        return ReadFile(outPath);
    }
    std::string Err() {
        std::fflush(err);
        return ReadFile(errPath);
    }
    std::string DevicePath() const { return options.dataDir + "\\device.json"; }
    void WriteDevice(const std::string& text) { ASSERT_TRUE(sv::WriteTextFile(DevicePath(), text)); }
};

}  // namespace

TEST(HostRunTask, WithoutDeviceRecordRunsClassic) {
    Harness h;
    EXPECT_EQ(h.RunTask(), 7);
    EXPECT_EQ(h.runs, std::vector<std::string>{"classic"});
    EXPECT_TRUE(h.posts.empty());
}

TEST(HostRunTask, DeviceRecordRunsEnrolled) {
    Harness h;
    h.WriteDevice("{\"apiBase\":\"https://x\",\"deviceId\":12,\"deviceSecret\":\"abc\"}");
    EXPECT_EQ(h.RunTask(), 9);
    EXPECT_EQ(h.runs, std::vector<std::string>{"enrolled 12 abc"});
}

TEST(HostRunTask, RecordWithoutApiBaseStillRunsEnrolled) {
    Harness h;
    h.WriteDevice("{\"deviceId\":3,\"deviceSecret\":\"s\"}");
    EXPECT_EQ(h.RunTask(), 9);
    EXPECT_EQ(h.runs, std::vector<std::string>{"enrolled 3 s"});
}

TEST(HostRunTask, BadRecordsRunClassicSilently) {
    for (const char* text : {"{\"deviceId\":\"12\",\"deviceSecret\":\"x\"}", "{\"deviceId\":12}", "garbage", "",
                             "{\"deviceId\":99999999999,\"deviceSecret\":\"x\"}"}) {
        Harness h;
        h.WriteDevice(text);
        EXPECT_EQ(h.RunTask(), 7) << text;
        EXPECT_EQ(h.runs, std::vector<std::string>{"classic"}) << text;
        EXPECT_EQ(h.Err(), "") << text;
    }
}

TEST(HostRunTask, RecordThatIsADirectoryRunsClassic) {
    Harness h;
    ASSERT_TRUE(sv::WriteTextFile(h.DevicePath() + "\\inner", "{}"));
    EXPECT_EQ(h.RunTask(), 7);
    EXPECT_EQ(h.runs, std::vector<std::string>{"classic"});
}

TEST(HostRunTask, EnrolNeedsTokenAndName) {
    Harness h;
    h.enroll = true;
    h.name = "";
    EXPECT_EQ(h.RunTask(), 1);
    EXPECT_EQ(h.Err(), "--enroll needs a token and a name\n");
    EXPECT_TRUE(h.posts.empty());
    EXPECT_TRUE(h.runs.empty());
}

TEST(HostRunTask, EnrolPostsWritesTheRecordAndRunsEnrolled) {
    Harness h;
    h.enroll = true;
    h.answer = "{\"deviceId\":4242,\"deviceSecret\":\"s-1\"}";
    // An earlier record is replaced.
    h.WriteDevice("{\"deviceId\":1,\"deviceSecret\":\"old\"}");
    EXPECT_EQ(h.RunTask(), 9);
    EXPECT_EQ(h.posts, std::vector<std::string>{
                           "https://api.test/api/devices/enroll|{\"enrollToken\":\"tok\",\"name\":\"desk-1\",\"os\":"
                           "\"win\"}|ca.pem"});
    EXPECT_EQ(ReadFile(h.DevicePath()), "{\"apiBase\":\"https://api.test\",\"deviceId\":4242,\"deviceSecret\":\"s-1\"}");
    EXPECT_EQ(h.Out(), "enrolled as device 4242\n");
    EXPECT_EQ(h.Err(), "");
    EXPECT_EQ(h.runs, std::vector<std::string>{"enrolled 4242 s-1"});
}

// Both entries word a failure alike: what failed, the server's own reason (never its raw
// JSON) and the next step, in one line.
TEST(HostRunTask, EnrolFailuresSayWhyAndWhatToDo) {
    struct Case {
        const char* answer;
        const char* begins;
        const char* holds;
    } cases[] = {
        {"", "enroll failed (no response): ", "the CA file ca.pem cannot be read"},
        {"{\"error\":\"invalid token\"}", "enroll failed: the support API refused the enrolment: invalid token; ",
         "ask for a new enrolment token"},
        {"{\"deviceId\":5}", "enroll failed: bad response: ", "check that --api names the support API"},
        {"{\"error\":404}", "enroll failed: bad response: ", "--api"},
        {"<html>", "enroll failed: bad response: ", "--api"},
        {"{\"deviceId\":\"5\",\"deviceSecret\":\"x\"}", "enroll failed: bad response: ", "--api"},
        {"{\"deviceId\":5000000000,\"deviceSecret\":\"x\"}", "enroll failed: bad response: ", "--api"},
        {"{\"deviceId\":1.5,\"deviceSecret\":\"x\"}", "enroll failed: bad response: ", "--api"},
    };
    for (const Case& c : cases) {
        for (bool once : {false, true}) {
            Harness h;
            h.enroll = !once;
            h.answer = c.answer;
            EXPECT_EQ(once ? h.RunOnce() : h.RunTask(), 1) << c.answer;
            const std::string err = h.Err();
            EXPECT_EQ(err.compare(0, std::strlen(c.begins), c.begins), 0) << err;
            EXPECT_NE(err.find(c.holds), std::string::npos) << err;
            EXPECT_NE(err.find("this computer was not enrolled\n"), std::string::npos) << err;
            EXPECT_EQ(err.find('{'), std::string::npos) << err;
            EXPECT_EQ(h.Out(), "") << c.answer;
            EXPECT_TRUE(h.runs.empty()) << c.answer;
            EXPECT_FALSE(sv::PathExists(h.DevicePath())) << c.answer;
        }
    }
}

// Every run mode keeps why an enrolment failed: the window gets the cause (with the
// server's own words, made safe), the audit log and the failure sink get the one line.
TEST(HostRunTask, AFailedEnrolmentsCauseReachesTheWindowAndTheLog) {
    using Kind = sv::EnrolFailure::Kind;
    const struct {
        const char* answer;
        const char* token;
        bool deviceIsFolder;
        Kind kind;
        const char* reason;
    } cases[] = {
        {"{\"error\":\"token already used\\r\\n\"}", "tok", false, Kind::Refused, "token already used"},
        {"", "tok", false, Kind::NoResponse, ""},
        {"<html>", "tok", false, Kind::Unreadable, ""},
        {"{\"deviceId\":8}", "tok", false, Kind::Unreadable, ""},
        {"", "", false, Kind::MissingWords, ""},
        {"{\"deviceId\":8,\"deviceSecret\":\"x\"}", "tok", true, Kind::NotStored, ""},
    };
    for (const auto& c : cases) {
        Harness h;
        h.enroll = true;
        h.answer = c.answer;
        h.token = c.token;
        sv::EnsureDirectory(h.options.dataDir);
        if (c.deviceIsFolder) sv::EnsureDirectory(h.DevicePath());
        sv::SetAuditDirectory(h.options.dataDir);
        sv::HostRunState state;
        EXPECT_EQ(h.RunTask(&state), 1) << c.answer;
        const sv::HostRunState::Snapshot seen = state.Get();
        EXPECT_EQ(seen.phase, sv::HostRunState::Phase::EnrolFailed) << c.answer;
        EXPECT_EQ(seen.enrolFailure.kind, c.kind) << c.answer;
        EXPECT_EQ(seen.enrolFailure.reason, c.reason) << c.answer;
        const std::string err = h.Err();
        ASSERT_FALSE(err.empty()) << c.answer;
        const std::string line = err.substr(0, err.size() - 1);
        EXPECT_EQ(h.failures, std::vector<std::string>{line}) << c.answer;
        EXPECT_NE(sv_test::AuditText(h.options.dataDir).find(" | enroll | " + line + "\n"), std::string::npos)
            << c.answer;
    }
}

TEST(HostRunTask, EnrolWriteFailureStopsBeforeTheRun) {
    Harness h;
    h.enroll = true;
    h.answer = "{\"deviceId\":8,\"deviceSecret\":\"x\"}";
    ASSERT_TRUE(sv::WriteTextFile(h.DevicePath() + "\\blocker", ""));  // device.json is a directory
    EXPECT_EQ(h.RunTask(), 1);
    EXPECT_EQ(h.Err().rfind("enroll failed: cannot write " + h.DevicePath() + ": ", 0), 0u) << h.Err();
    EXPECT_TRUE(h.runs.empty());
}

// The window follows what the task reports; the phase is set before the host runs, and
// while the support API is asked the window shows the enrolment under way.
TEST(HostRunTask, ReportsItsPhase) {
    using Phase = sv::HostRunState::Phase;
    struct Case {
        bool enroll;
        const char* device;  // device.json, nullptr for none
        const char* answer;
        Phase phase;
        int32_t deviceId;
        int rc;
    } cases[] = {
        {false, nullptr, "", Phase::Classic, 0, 7},
        {false, "{\"deviceId\":12,\"deviceSecret\":\"abc\"}", "", Phase::Enrolled, 12, 9},
        {true, nullptr, "{\"deviceId\":31,\"deviceSecret\":\"s\"}", Phase::Enrolled, 31, 9},
        {true, nullptr, "{\"error\":\"expired\"}", Phase::EnrolFailed, 0, 1},
        {true, nullptr, "", Phase::EnrolFailed, 0, 1},
    };
    for (const Case& c : cases) {
        Harness h;
        h.enroll = c.enroll;
        h.answer = c.answer;
        if (c.device != nullptr) h.WriteDevice(c.device);
        sv::HostRunState state;
        Phase asked = Phase::Starting;
        h.duringPost = [&] { asked = state.Get().phase; };
        EXPECT_FALSE(state.Get().ended);
        EXPECT_EQ(h.RunTask(&state), c.rc) << c.answer;
        EXPECT_TRUE(state.Get().ended);  // the runner returned
        EXPECT_EQ(asked, c.enroll ? Phase::Enrolling : Phase::Starting) << c.answer;
        EXPECT_EQ(state.Get().phase, c.phase) << c.answer;
        EXPECT_EQ(state.Get().deviceId, c.deviceId) << c.answer;
        EXPECT_EQ(state.WaitDecided(std::chrono::milliseconds(0)).phase, c.phase);
    }
}

// A device the relay turned away is a failure with one line, on the console and to the
// failure sink, and the window learns why; another reason changes nothing.
TEST(HostRunTask, RejectedDeviceEndsWithOneLine) {
    using sv::DeviceRejection;
    const struct {
        const char* reason;
        const char* says;  // nullptr: a normal end
        DeviceRejection rejection;
    } cases[] = {
        {"device-revoked", "this computer was removed from the Sorvane platform", DeviceRejection::Revoked},
        {"device-auth-failed", "this computer could not prove its identity", DeviceRejection::AuthFailed},
        {"", nullptr, DeviceRejection::None},
        {"hostId-in-use", nullptr, DeviceRejection::None},
    };
    for (const auto& c : cases) {
        Harness h;
        h.WriteDevice("{\"deviceId\":12,\"deviceSecret\":\"abc\"}");
        h.rejection = c.reason;
        sv::HostRunState state;
        const int rc = h.RunTask(&state);
        EXPECT_EQ(state.Get().rejection, c.rejection) << c.reason;
        if (c.says == nullptr) {
            EXPECT_EQ(rc, 9) << c.reason;
            EXPECT_EQ(h.Err(), "") << c.reason;
            EXPECT_TRUE(h.failures.empty()) << c.reason;
            continue;
        }
        EXPECT_EQ(rc, 1) << c.reason;
        const std::string err = h.Err();
        EXPECT_EQ(err.find(c.says), 0u) << err;
        EXPECT_NE(err.find("must be enrolled again"), std::string::npos) << err;
        EXPECT_EQ(err.find('\n'), err.size() - 1) << err;  // one line
        EXPECT_EQ(h.failures, std::vector<std::string>{err.substr(0, err.size() - 1)});
    }
}

TEST(EnrollOnly, SuccessWritesRecordAndAuditLine) {
    Harness h;
    h.answer = "{\"deviceId\":77,\"deviceSecret\":\"zz\"}";
    EXPECT_EQ(h.RunOnce(), 0);
    EXPECT_EQ(ReadFile(h.DevicePath()), "{\"apiBase\":\"https://api.test\",\"deviceId\":77,\"deviceSecret\":\"zz\"}");
    EXPECT_EQ(h.Out(), "enrolled as device 77; the host runs enrolled from its next start\n");
    EXPECT_EQ(h.Err(), "");
    std::string audit = sv_test::AuditText(h.options.dataDir);
    EXPECT_NE(audit.find("enroll"), std::string::npos);
    EXPECT_NE(audit.find("device 77 name=desk-1 (enrolled from the next start)"), std::string::npos);
}

TEST(EnrollOnly, NeedsTokenAndName) {
    Harness h;
    h.token = "";
    EXPECT_EQ(h.RunOnce(), 1);
    EXPECT_EQ(h.Err(), "--enroll-only needs a token and a name\n");
    EXPECT_TRUE(h.posts.empty());
}

TEST(EnrollOnly, RefusesWhenAlreadyEnrolled) {
    Harness h;
    h.WriteDevice("{}");
    EXPECT_EQ(h.RunOnce(), 1);
    EXPECT_EQ(h.Err(), "already enrolled (" + h.DevicePath() + " exists)\n");
    EXPECT_TRUE(h.posts.empty());
}

TEST(EnrollOnly, WriteFailureNamesThePath) {
    Harness h;
    h.answer = "{\"deviceId\":1,\"deviceSecret\":\"x\"}";
    h.options.dataDir = h.dir.Path() + "\\file";
    ASSERT_TRUE(sv::WriteTextFile(h.options.dataDir, "not a directory"));
    EXPECT_EQ(h.RunOnce(), 1);
    EXPECT_EQ(h.Err().rfind("enroll failed: cannot write " + h.DevicePath() + ": ", 0), 0u) << h.Err();
}

TEST(FocusLine, Format) {
    sv::training::Box box{10, -20, 300, 40};
    EXPECT_EQ(sv::FormatFocusedElement("Edit", "User name", "txtUser", box),
              "focus Edit 'User name' #txtUser [10,-20,300,40]\n");
}
