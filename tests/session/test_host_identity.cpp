#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "base/audit_log.h"
#include "session/host.h"
#include "session/host_test_support.h"
#include "session/host_identity.h"
#include "base/file_io.h"
#include "base/text_encoding.h"
#include "session/identity_files.h"
#include "test_support.h"

namespace {

using nlohmann::json;

// Hands out a fixed sequence of draws, then repeats the last one.
sv::Random32 Sequence(std::vector<uint32_t> values) {
    auto state = std::make_shared<std::pair<std::vector<uint32_t>, size_t>>(std::move(values), 0);
    return [state] {
        auto& [v, i] = *state;
        uint32_t out = v[std::min(i, v.size() - 1)];
        ++i;
        return out;
    };
}

void WriteText(const std::string& path, const std::string& text) {
    ASSERT_TRUE(sv::WriteFileAtomically(path, text));
}

bool IsNineDigitId(const std::string& id) {
    if (id.size() != 9 || id[0] < '1' || id[0] > '9') return false;
    for (char c : id) {
        if (c < '0' || c > '9') return false;
    }
    return true;
}

// ---------------------------------------------------------------- host-id.txt content

TEST(HostIdText, NineDigitsAccepted) { EXPECT_EQ(sv::HostIdFromFileText("123456789"), "123456789"); }

TEST(HostIdText, TrailingWhiteSpaceIgnored) {
    EXPECT_EQ(sv::HostIdFromFileText("123456789\r\n"), "123456789");
    EXPECT_EQ(sv::HostIdFromFileText("987654321 \t\n\n"), "987654321");
}

TEST(HostIdText, MalformedRejected) {
    EXPECT_EQ(sv::HostIdFromFileText(" 123456789"), "");
    EXPECT_EQ(sv::HostIdFromFileText("12345678"), "");
    EXPECT_EQ(sv::HostIdFromFileText("1234567890"), "");
    EXPECT_EQ(sv::HostIdFromFileText("12345678a"), "");
    EXPECT_EQ(sv::HostIdFromFileText("1234 6789"), "");
    EXPECT_EQ(sv::HostIdFromFileText(""), "");
    EXPECT_EQ(sv::HostIdFromFileText(std::string("12345678\0", 9)), "");
    EXPECT_EQ(sv::HostIdFromFileText("\xEF\xBB\xBF" "123456789"), "");
}

TEST(HostIdText, OnlyFirst31BytesCount) {
    // Nine digits followed by enough white space to push anything else past the cut.
    std::string padded = "123456789" + std::string(22, ' ') + "junk";
    EXPECT_EQ(sv::HostIdFromFileText(padded), "123456789");
    EXPECT_EQ(sv::HostIdFromFileText("123456789" + std::string(21, ' ') + "x"), "");
}

// ---------------------------------------------------------------- drawing ids and passwords

TEST(HostIdDraw, MapsRangeEnds) {
    EXPECT_EQ(sv::HostIdFromRandom(Sequence({0})), "100000000");
    EXPECT_EQ(sv::HostIdFromRandom(Sequence({899999999})), "999999999");
    EXPECT_EQ(sv::HostIdFromRandom(Sequence({900000000})), "100000000");
}

TEST(HostIdDraw, RejectsTheBiasedTail) {
    // 4 * 900000000 = 3600000000 is the first value that would over-weight low ids.
    EXPECT_EQ(sv::HostIdFromRandom(Sequence({3600000000u, 0xFFFFFFFFu, 5})), "100000005");
    EXPECT_EQ(sv::HostIdFromRandom(Sequence({3599999999u})), "999999999");
}

TEST(HostIdDraw, SystemDrawsAreNineDigitsAndVary) {
    std::set<std::string> seen;
    for (int i = 0; i < 200; ++i) {
        std::string id = sv::HostIdFromRandom(sv::SystemRandom32);
        EXPECT_TRUE(IsNineDigitId(id)) << id;
        seen.insert(id);
    }
    EXPECT_GT(seen.size(), 190u);
}

TEST(Password, AlphabetIsTheThirtyTwoUnambiguousCharacters) {
    std::string alphabet = sv::kPasswordAlphabet;
    ASSERT_EQ(alphabet.size(), 32u);
    EXPECT_EQ(std::set<char>(alphabet.begin(), alphabet.end()).size(), 32u);
    for (char banned : std::string("lo01")) EXPECT_EQ(alphabet.find(banned), std::string::npos) << banned;
}

TEST(Password, EveryDrawIndexesTheWholeAlphabet) {
    // Draw value i picks character i for every slot, the last one included.
    EXPECT_EQ(sv::PasswordFromRandom(Sequence({0, 1, 2, 3, 4, 5})), "abcdef");
    EXPECT_EQ(sv::PasswordFromRandom(Sequence({31, 30, 29, 28, 27, 26})), "987654");
    EXPECT_EQ(sv::PasswordFromRandom(Sequence({32, 63, 0xFFFFFFFFu, 24, 25, 0x80000000u})), "a9923a");
}

TEST(Password, SystemDrawsCoverAllCharactersRoughlyEvenly) {
    std::map<char, int> counts;
    const int passwords = 4000;
    for (int i = 0; i < passwords; ++i) {
        std::string p = sv::GeneratePassword();
        ASSERT_EQ(p.size(), 6u);
        for (char c : p) {
            ASSERT_NE(std::string(sv::kPasswordAlphabet).find(c), std::string::npos) << c;
            ++counts[c];
        }
    }
    ASSERT_EQ(counts.size(), 32u);  // '9' included
    // 24000 characters over 32: 750 expected each; 5 standard deviations is about 135.
    for (const auto& [c, n] : counts) {
        EXPECT_GT(n, 600) << c;
        EXPECT_LT(n, 900) << c;
    }
}

TEST(Password, HashIsLowercaseSha256Hex) {
    EXPECT_EQ(sv::HashPassword("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(sv::HashPassword(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(sv::HashPassword("k3x9pz").size(), 64u);
}

// ---------------------------------------------------------------- host-ui.json content

TEST(SettingsText, PasswordReadOnlyAsNonEmptyString) {
    EXPECT_EQ(sv::PasswordFromSettingsText(R"({"password":"abc234"})"), "abc234");
    EXPECT_EQ(sv::PasswordFromSettingsText(R"({"password":123456})"), "");
    EXPECT_EQ(sv::PasswordFromSettingsText(R"({"password":null})"), "");
    EXPECT_EQ(sv::PasswordFromSettingsText(R"(["password","abc"])"), "");
    EXPECT_EQ(sv::PasswordFromSettingsText(R"("abc")"), "");
    EXPECT_EQ(sv::PasswordFromSettingsText("{\"password\":\"abc"), "");
    EXPECT_EQ(sv::PasswordFromSettingsText(""), "");
    EXPECT_EQ(sv::PasswordFromSettingsText(R"({"Password":"abc"})"), "");
}

TEST(SettingsText, NewFileHasThreeKeysInOrder) {
    std::string text = sv::SettingsTextWithNewPassword("", false, "abc234", "wss://r/", "https://a");
    EXPECT_EQ(text, R"({"relayUrl":"wss://r/","apiBase":"https://a","password":"abc234"})");
}

TEST(SettingsText, NonObjectReplacedByThreeKeys) {
    for (const char* existing : {"[1,2]", "not json", "\"text\"", "42", ""}) {
        std::string text = sv::SettingsTextWithNewPassword(existing, true, "p", "r", "a");
        EXPECT_EQ(text, R"({"relayUrl":"r","apiBase":"a","password":"p"})") << existing;
    }
}

TEST(SettingsText, ObjectWithoutUsablePasswordKeepsEveryKey) {
    std::string existing = R"({"Theme":"dark","LanDirectEnabled":true,"password":17,"TrainingVolume":40})";
    std::string text = sv::SettingsTextWithNewPassword(existing, true, "newpw2", "r", "a");
    EXPECT_EQ(text, R"({"Theme":"dark","LanDirectEnabled":true,"password":"newpw2","TrainingVolume":40})");
}

TEST(SettingsText, RotationKeepsKeysOrStartsEmpty) {
    EXPECT_EQ(sv::SettingsTextWithRotatedPassword(R"({"lanPort":5000,"password":"old234","theme":"light"})", "n"),
              R"({"lanPort":5000,"password":"n","theme":"light"})");
    EXPECT_EQ(sv::SettingsTextWithRotatedPassword("garbage", "n"), R"({"password":"n"})");
    EXPECT_EQ(sv::SettingsTextWithRotatedPassword("", "n"), R"({"password":"n"})");
}

// ---------------------------------------------------------------- files

TEST(IdentityFiles, HostIdCreatedOnceAndKept) {
    sv_test::ScratchDir dir;
    std::string id = sv::LoadOrCreateHostId(dir.Path());
    EXPECT_TRUE(IsNineDigitId(id)) << id;
    EXPECT_EQ(sv_test::ReadFile(dir.Path() + "\\host-id.txt"), id);  // no line end
    EXPECT_EQ(sv::LoadOrCreateHostId(dir.Path()), id);
}

TEST(IdentityFiles, HostIdWithCrLfKept) {
    sv_test::ScratchDir dir;
    WriteText(dir.Path() + "\\host-id.txt", "555666777\r\n");
    EXPECT_EQ(sv::LoadOrCreateHostId(dir.Path()), "555666777");
    EXPECT_EQ(sv_test::ReadFile(dir.Path() + "\\host-id.txt"), "555666777\r\n");
}

TEST(IdentityFiles, MalformedHostIdReplaced) {
    for (const char* bad : {" 555666777", "55566677", "abcdefghi", "5556667778"}) {
        sv_test::ScratchDir dir;
        WriteText(dir.Path() + "\\host-id.txt", bad);
        std::string id = sv::LoadOrCreateHostId(dir.Path());
        EXPECT_TRUE(IsNineDigitId(id)) << bad;
        EXPECT_EQ(sv_test::ReadFile(dir.Path() + "\\host-id.txt"), id) << bad;
    }
}

TEST(IdentityFiles, MissingDataDirectoryIsCreated) {
    sv_test::ScratchDir dir;
    std::string nested = dir.Path() + "\\a\\b";
    std::string id = sv::LoadOrCreateHostId(nested);
    EXPECT_EQ(sv_test::ReadFile(nested + "\\host-id.txt"), id);
    sv_test::ScratchDir::RemoveTree(dir.Path() + "\\a");
}

TEST(IdentityFiles, UnwritableDirectoryStillGivesAnId) {
    sv_test::ScratchDir dir;
    // A file where the data directory should be: nothing can be written under it.
    WriteText(dir.Path() + "\\blocked", "x");
    std::string id = sv::LoadOrCreateHostId(dir.Path() + "\\blocked");
    EXPECT_TRUE(IsNineDigitId(id)) << id;
}

// A file of the identity that cannot be written still gives a value for this run, and
// says which file and why; a value that is on disk says nothing.
TEST(IdentityFiles, AValueThatCannotBeStoredSaysWhereAndWhy) {
    // Wine replaces a read-only file all the same, so only Windows refuses that one; a
    // file another program holds open is refused by both.
    enum class Block { None, Folder, HeldOpen };
    const struct {
        const char* file;
        const char* content;  // written first unless blocked by a folder; nullptr: none
        Block block;
        const char* why;      // after "<path>: "; nullptr: stored
    } cases[] = {
        {"host-id.txt", nullptr, Block::None, nullptr},
        {"host-id.txt", nullptr, Block::Folder, "a folder of that name is in the way"},
        {"host-id.txt", "12345", Block::HeldOpen, "it is open in another program"},
        {"host-ui.json", nullptr, Block::None, nullptr},
        {"host-ui.json", R"({"Theme":"dark"})", Block::None, nullptr},
        {"host-ui.json", nullptr, Block::Folder, "a folder of that name is in the way"},
        {"host-ui.json", R"({"Theme":"dark"})", Block::HeldOpen, "it is open in another program"},
    };
    for (const auto& c : cases) {
        sv_test::ScratchDir dir;
        const std::string path = dir.Path() + "\\" + c.file;
        if (c.content != nullptr) WriteText(path, c.content);
        if (c.block == Block::Folder) sv::EnsureDirectory(path);
        HANDLE held = INVALID_HANDLE_VALUE;
        if (c.block == Block::HeldOpen) {
            held = CreateFileW(sv::Utf8ToUtf16(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
            ASSERT_NE(held, INVALID_HANDLE_VALUE);
        }
        const bool hostId = std::string(c.file) == "host-id.txt";
        std::string notStored;
        const std::string value =
            hostId ? sv::LoadOrCreateHostId(dir.Path(), &notStored) : sv::LoadOrCreatePassword(dir.Path(), &notStored);
        if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
        EXPECT_EQ(value.size(), hostId ? 9u : 6u) << c.file;
        EXPECT_EQ(notStored, c.why == nullptr ? std::string() : path + ": " + c.why) << c.file;
    }
    EXPECT_EQ(sv::IdentityNotStoredLine("D:\\s\\host-id.txt: why", "D:\\s\\host-ui.json: because"),
              "the Host ID and the password are not stored (cannot write D:\\s\\host-id.txt: why; cannot write "
              "D:\\s\\host-ui.json: because): they hold only until this host stops, and the next start shows new "
              "ones; make the data folder writable, or give another with --data-dir");
    EXPECT_EQ(sv::IdentityNotStoredLine("", "f: w").rfind("the password is not stored (cannot write f: w): it holds", 0),
              0u);
}

// ---------------------------------------------------------------- the Host's password

class PasswordFixture : public ::testing::Test {
protected:
    void SetUp() override {
        sv::SetAuditDirectory(dir.Path());
        sv::HostOptions options = sv_test::TestHostOptions(dir.Path());
        options.seams.sendRelayText = [this](const std::string& text) {
            std::lock_guard<std::mutex> lock(mutex);
            sent.push_back(text);
            return true;
        };
        options.relayUrl = relay.Url();
        host = std::make_unique<sv::Host>(options);
    }
    void TearDown() override {
        running.reset();
        host.reset();
        sv::SetAuditDirectory("");
    }
    std::string SettingsPath() const { return dir.Path() + "\\host-ui.json"; }
    json Settings() const { return json::parse(sv_test::ReadFile(SettingsPath())); }
    int AuditCount(const std::string& needle) {
        int n = 0;
        for (const std::string& name : sv_test::ListFiles(dir.Path())) {
            if (name.rfind("audit-", 0) != 0) continue;
            std::string text = sv_test::ReadFile(dir.Path() + "\\" + name);
            for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
        }
        return n;
    }

    sv_test::ScratchDir dir;
    sv_test::FakeRelay relay;
    std::unique_ptr<sv::Host> host;
    std::unique_ptr<sv_test::RunningHost> running;
    std::mutex mutex;
    std::vector<std::string> sent;
};

TEST_F(PasswordFixture, FirstRunWritesThreeKeyFile) {
    std::string pw = sv::LoadOrCreatePassword(dir.Path());
    ASSERT_EQ(pw.size(), 6u);
    json s = Settings();
    EXPECT_EQ(s.size(), 3u);
    EXPECT_EQ(s["password"], pw);
    EXPECT_EQ(s["relayUrl"], SV_DEFAULT_RELAY_URL);
    EXPECT_EQ(s["apiBase"], SV_DEFAULT_API_BASE);
    EXPECT_EQ(sv::LoadOrCreatePassword(dir.Path()), pw);
}

TEST_F(PasswordFixture, StoredPasswordReturnedUntouched) {
    WriteText(SettingsPath(), "{ \"password\" : \"zz9922\", \"Theme\":\"dark\" }");
    EXPECT_EQ(sv::LoadOrCreatePassword(dir.Path()), "zz9922");
    EXPECT_EQ(sv_test::ReadFile(SettingsPath()), "{ \"password\" : \"zz9922\", \"Theme\":\"dark\" }");
}

TEST_F(PasswordFixture, MissingPasswordMergedKeepingOtherSettings) {
    WriteText(SettingsPath(), R"({"LanDirectEnabled":true,"LanPort":47000,"Theme":"dark","TrainingVolume":30})");
    std::string pw = sv::LoadOrCreatePassword(dir.Path());
    json s = Settings();
    EXPECT_EQ(s["password"], pw);
    EXPECT_EQ(s["LanDirectEnabled"], true);
    EXPECT_EQ(s["LanPort"], 47000);
    EXPECT_EQ(s["Theme"], "dark");
    EXPECT_EQ(s["TrainingVolume"], 30);
    EXPECT_FALSE(s.contains("relayUrl"));
}

TEST_F(PasswordFixture, EmptyOrNumericPasswordReplacedInPlace) {
    for (const char* text : {R"({"password":"","Theme":"light"})", R"({"password":123456,"Theme":"light"})"}) {
        WriteText(SettingsPath(), text);
        std::string pw = sv::LoadOrCreatePassword(dir.Path());
        json s = Settings();
        EXPECT_EQ(s["password"], pw) << text;
        EXPECT_EQ(s["Theme"], "light") << text;
    }
}

TEST_F(PasswordFixture, UnparsableFileRewrittenWhole) {
    WriteText(SettingsPath(), "{\"Theme\":\"dark\",");
    std::string pw = sv::LoadOrCreatePassword(dir.Path());
    json s = Settings();
    EXPECT_EQ(s.size(), 3u);
    EXPECT_EQ(s["password"], pw);
}

TEST_F(PasswordFixture, LockedFileIsNotOverwritten) {
    WriteText(SettingsPath(), R"({"Theme":"dark"})");
    HANDLE h = CreateFileW(sv::Utf8ToUtf16(SettingsPath()).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    std::string pw = sv::LoadOrCreatePassword(dir.Path());
    CloseHandle(h);
    EXPECT_EQ(pw.size(), 6u);
    EXPECT_EQ(sv_test::ReadFile(SettingsPath()), R"({"Theme":"dark"})");
}

TEST_F(PasswordFixture, RotationWhileNotRegisteredChangesFileAndHostOnly) {
    WriteText(SettingsPath(), R"({"Theme":"dark","password":"abc234","LanDirectEnabled":true})");
    EXPECT_EQ(sv::LoadOrCreatePassword(dir.Path()), "abc234");
    host->RotatePassword();
    std::string now = host->Password();
    ASSERT_EQ(now.size(), 6u);
    json s = Settings();
    EXPECT_EQ(s["password"], now);
    EXPECT_EQ(s["Theme"], "dark");
    EXPECT_EQ(s["LanDirectEnabled"], true);
    EXPECT_TRUE(sent.empty());
    EXPECT_EQ(AuditCount("password | rotated"), 1);
}

TEST_F(PasswordFixture, RotationWhileRegisteredSendsTheNewHash) {
    running = std::make_unique<sv_test::RunningHost>(*host);
    ASSERT_TRUE(relay.WaitRegistered());
    ASSERT_TRUE(relay.Send(R"({"type":"registered"})"));
    ASSERT_TRUE(sv_test::WaitUntil([&] { return host->IsRegistered(); }));
    host->RotatePassword();
    std::lock_guard<std::mutex> lock(mutex);
    ASSERT_EQ(sent.size(), 1u);
    json m = json::parse(sent[0]);
    EXPECT_EQ(m["type"], "update-password");
    EXPECT_EQ(m["passwordHash"], sv::HashPassword(host->Password()));
    EXPECT_EQ(sent[0].find(' '), std::string::npos);  // compact
    EXPECT_EQ(Settings()["password"], host->Password());
}

TEST_F(PasswordFixture, ARotationThatCannotBeStoredKeepsTheOldPassword) {
    // A directory in the file's place, and a file someone holds open without sharing.
    for (bool locked : {false, true}) {
        sv_test::ScratchDir own;
        const std::string path = own.Path() + "\\host-ui.json";
        sv::HostOptions options;
        options.dataDir = own.Path();
        options.relayUrl = "ws://127.0.0.1:9/";
        sv::Host other(options);
        HANDLE held = INVALID_HANDLE_VALUE;
        if (locked) {
            WriteText(path, R"({"password":"abc234"})");
            EXPECT_EQ(sv::LoadOrCreatePassword(own.Path()), "abc234");
            held = CreateFileW(sv::Utf8ToUtf16(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
            ASSERT_NE(held, INVALID_HANDLE_VALUE);
        } else {
            ASSERT_TRUE(CreateDirectoryW(sv::Utf8ToUtf16(path).c_str(), nullptr));
        }
        const std::string before = other.Password();
        EXPECT_FALSE(other.RotatePassword()) << locked;
        if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
        EXPECT_EQ(other.Password(), before) << locked;
        if (locked) {
            EXPECT_EQ(sv_test::ReadFile(path), R"({"password":"abc234"})");
        }
    }
}

TEST_F(PasswordFixture, RotationOfNonObjectFileWritesPasswordOnly) {
    WriteText(SettingsPath(), "[]");
    host->RotatePassword();
    EXPECT_EQ(sv_test::ReadFile(SettingsPath()), "{\"password\":\"" + host->Password() + "\"}");
}

TEST_F(PasswordFixture, LanSettingsAreReadFromTheSameFileAsThePassword) {
    WriteText(SettingsPath(), R"({"LanDirectEnabled":true,"LanPort":47001,"password":"zz9922"})");
    EXPECT_EQ(sv::ReadLanPort(0, dir.Path()), 47001);
    EXPECT_EQ(sv::LoadOrCreatePassword(dir.Path()), "zz9922");
    // A command-line port beyond TCP's range turns LAN direct off rather than binding its
    // low 16 bits while the relay is told the whole number.
    for (int32_t port : {65536, 70000}) EXPECT_EQ(sv::ReadLanPort(port, dir.Path()), 0) << port;
}

TEST_F(PasswordFixture, ASettingsDirectoryOpensNoPort) {
    ASSERT_TRUE(CreateDirectoryW(sv::Utf8ToUtf16(SettingsPath()).c_str(), nullptr));
    EXPECT_EQ(sv::ReadLanPort(0, dir.Path()), 0);
}

}  // namespace
