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

}  // namespace
