#include "app/access_list.h"

#include <gtest/gtest.h>

namespace {

using sv::AccessEntry;
using sv::AccessList;

constexpr uint8_t kOiCi = sv::kAceObjectInherit | sv::kAceContainerInherit;
constexpr uint32_t kFull = 0x1F01FF;  // FILE_ALL_ACCESS

// The list the service gives its data folder: protected, full control for SYSTEM and
// Administrators, inherited by everything inside.
AccessList Made() {
    return {true, true, {{sv::kAceAllow, kOiCi, kFull, "S-1-5-18"}, {sv::kAceAllow, kOiCi, kFull, "S-1-5-32-544"}}};
}

TEST(AccessList, OnlyExactlyTheListTheServiceGivesItsFolderIsItsOwn) {
    const AccessEntry users{sv::kAceAllow, kOiCi, 0x6, "S-1-5-32-545"};  // add files and folders
    const struct {
        const char* name;
        AccessList found;
        bool same;
    } cases[] = {
        {"the same", Made(), true},
        {"the same entries in the other order", {true, true, {Made().entries[1], Made().entries[0]}}, true},
        // ProgramData's list, taken by a folder made there beforehand: users may add files.
        {"one more entry", {true, true, {Made().entries[0], Made().entries[1], users}}, false},
        {"one entry fewer", {true, true, {Made().entries[0]}}, false},
        {"an entry twice in place of another", {true, true, {Made().entries[0], Made().entries[0]}}, false},
        {"not protected: the parent's entries flow in", {true, false, Made().entries}, false},
        {"no list: everyone may do everything", {false, false, {}}, false},
        {"another mask", {true, true, {{sv::kAceAllow, kOiCi, 0x1301BF, "S-1-5-18"}, Made().entries[1]}}, false},
        {"another account", {true, true, {Made().entries[0], {sv::kAceAllow, kOiCi, kFull, "S-1-5-32-545"}}}, false},
        {"inherited rather than its own",
         {true, true, {Made().entries[0], {sv::kAceAllow, kOiCi | sv::kAceInherited, kFull, "S-1-5-32-544"}}}, false},
        {"not inherited by what is inside",
         {true, true, {Made().entries[0], {sv::kAceAllow, 0, kFull, "S-1-5-32-544"}}}, false},
        {"a deny entry in place of an allow",
         {true, true, {Made().entries[0], {sv::kAceDeny, kOiCi, kFull, "S-1-5-32-544"}}}, false},
    };
    for (const auto& c : cases) EXPECT_EQ(sv::SameAccessList(c.found, Made()), c.same) << c.name;
    // A list the service could not read for itself matches nothing.
    EXPECT_FALSE(sv::SameAccessList(Made(), AccessList{}));
}

TEST(AccessList, OnlySystemAdministratorsAndTrustedInstallerMayChangeTheProgram) {
    const std::string ti = sv::kTrustedInstallerSid, sy = sv::kSystemSid, ba = sv::kAdministratorsSid;
    const std::string users = "S-1-5-32-545", signedIn = "S-1-5-11", person = "S-1-5-21-1-2-3-1001";
    const uint32_t modify = 0x1301BF;
    const uint8_t inheritOnly = kOiCi | 0x08, inherited = kOiCi | sv::kAceInherited;
    // Program Files: full control or modify for the trusted three, reading for users, and
    // inherit-only entries that reach only what is made inside it.
    const std::vector<AccessEntry> base = {
        {0, sv::kAceContainerInherit, kFull, ti}, {0, 0, modify, sy},         {0, inheritOnly, 0x10000000, sy},
        {0, 0, modify, ba},                       {0, kOiCi, 0x1200A9, users}, {0, inheritOnly, 0x10000000, "S-1-3-0"},
    };
    const struct {
        const char* name;
        std::string owner;
        std::vector<AccessEntry> more;  // after the base list
        bool folder;
        std::string sid, right;
    } cases[] = {
        {"Program Files", ti, {}, true, "", ""},
        {"a program in it", ba, {}, false, "", ""},
        // Downloads or the Desktop: the person owns what he saved, so may rewrite its list.
        {"owned by a person", person, {}, true, person, "owns it"},
        // A folder made under C:\ inherits "modify" for every signed-in user.
        {"under C:\\", ba, {{0, inherited, modify, signedIn}}, true, signedIn, "may add files"},
        {"a program there", ba, {{0, inherited, modify, signedIn}}, false, signedIn, "may write"},
        {"add folders", ba, {{0, 0, 0x4, users}}, true, users, "may add folders"},
        {"append", ba, {{0, 0, 0x4, users}}, false, users, "may append"},
        {"delete what a folder holds", ba, {{0, 0, 0x40, users}}, true, users, "may delete what it holds"},
        {"that bit on a file means nothing", ba, {{0, 0, 0x40, users}}, false, "", ""},
        {"delete", ba, {{0, 0, 0x10000, users}}, false, users, "may delete it"},
        {"its list", ba, {{0, 0, 0x40000, users}}, false, users, "may change its access list"},
        {"its owner", ba, {{0, 0, 0x80000, users}}, true, users, "may take ownership"},
        {"generic write", ba, {{0, 0, 0x40000000, users}}, false, users, "may write"},
        {"a callback entry allows as well", ba, {{sv::kAceAllowCallback, 0, 0x2, users}}, false, users, "may write"},
        {"attributes alone change no code", ba, {{0, 0, 0x110, users}}, false, "", ""},
        {"inherit-only: only what is made inside", ba, {{0, inheritOnly, kFull, users}}, true, "", ""},
        // Which of a deny and an allow wins depends on their order and the person's groups.
        {"a deny entry does not cancel an allow", ba, {{sv::kAceDeny, 0, 0x2, users}, {0, 0, 0x2, users}}, false,
         users, "may write"},
    };
    for (const auto& c : cases) {
        sv::ObjectSecurity security{c.owner, {true, false, base}};
        security.list.entries.insert(security.list.entries.end(), c.more.begin(), c.more.end());
        const sv::OtherWriter writer = sv::FindOtherWriter(security, c.folder);
        EXPECT_EQ(writer.sid, c.sid) << c.name;
        EXPECT_EQ(writer.right, c.right) << c.name;
    }
    // No list at all keeps nobody out.
    const sv::OtherWriter open = sv::FindOtherWriter({ba, {false, false, {}}}, false);
    EXPECT_EQ(open.sid, "S-1-1-0");
    EXPECT_EQ(open.right, "may do anything: it has no access list");
}

// A folder above the program's counts only where it lets someone move the program's
// folder away: C:\ lets every signed-in user make folders, which moves nothing.
TEST(AccessList, AFolderAboveCountsOnlyWhereItLetsSomeoneMoveTheProgramAway) {
    const std::string ba = sv::kAdministratorsSid, users = "S-1-5-32-545", signedIn = "S-1-5-11";
    const struct {
        uint32_t mask;
        uint8_t flags;
        std::string right;
    } cases[] = {
        {0x4, 0, ""},                                     // C:\ : make folders there
        {0x1301BF, kOiCi | 0x08, ""},                     // C:\ : modify, inherit-only
        {0x1200A9 | 0x2, 0, ""},                          // read and add files
        {0x40, 0, "may delete what it holds"},            // rename the program's folder
        {0x10000, 0, "may delete it"},                    // rename the folder above
        {0x40000, 0, "may change its access list"},
        {0x80000, 0, "may take ownership"},
        {0x10000000, 0, "may do anything"},
    };
    for (const auto& c : cases) {
        const sv::OtherWriter mover = sv::FindOtherMover({ba, {true, false, {{0, c.flags, c.mask, signedIn}}}});
        EXPECT_EQ(mover.right, c.right) << std::hex << c.mask;
        EXPECT_EQ(mover.sid, c.right.empty() ? "" : signedIn) << std::hex << c.mask;
    }
    EXPECT_EQ(sv::FindOtherMover({users, {true, false, {}}}).right, "owns it");

    const std::pair<std::string, std::string> above[] = {
        {"C:\\Program Files\\Sorvane", "C:\\Program Files"}, {"C:\\Program Files\\", "C:\\"},
        {"C:\\", ""}, {"C:", ""}, {"", ""}, {"\\\\srv\\share\\app", "\\\\srv\\share"}, {"\\\\srv\\share", ""},
    };
    for (const auto& [folder, expected] : above) EXPECT_EQ(sv::FolderAbove(folder), expected) << folder;
}

}  // namespace
