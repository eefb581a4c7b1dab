#include "app/security_reading.h"

#include <gtest/gtest.h>

#include "app/folder_takeover.h"

namespace {

// The system's own parse of a list, read into plain values: the same reading is used for
// what is found on a folder, so the comparison sees both sides alike.
TEST(SecurityReading, ListsAreReadAsTheSystemHoldsThem) {
    const struct {
        const wchar_t* sddl;
        std::string owner;
        sv::AccessList list;
    } cases[] = {
        {sv::FolderTopSddl(), "S-1-5-32-544",
         {true, true, {{0, 0x3, 0x1F01FF, "S-1-5-18"}, {0, 0x3, 0x1F01FF, "S-1-5-32-544"}}}},
        // What a folder made under ProgramData inherits: users may add files and folders.
        {L"O:SYD:AI(A;OICIID;FA;;;SY)(D;ID;WD;;;WD)(A;CIID;0x6;;;BU)", "S-1-5-18",
         {true, false,
          {{0, 0x13, 0x1F01FF, "S-1-5-18"}, {1, 0x10, 0x40000, "S-1-1-0"}, {0, 0x12, 0x6, "S-1-5-32-545"}}}},
        {L"O:BA", "S-1-5-32-544", {false, false, {}}},  // no list at all
    };
    for (const auto& c : cases) {
        sv::ObjectSecurity read;
        ASSERT_TRUE(sv::ReadSddlSecurity(c.sddl, read)) << c.sddl;
        EXPECT_EQ(read.owner, c.owner) << c.sddl;
        EXPECT_EQ(read.list.present, c.list.present) << c.sddl;
        EXPECT_EQ(read.list.isProtected, c.list.isProtected) << c.sddl;
        EXPECT_EQ(read.list.entries, c.list.entries) << c.sddl;
    }
}

}  // namespace
