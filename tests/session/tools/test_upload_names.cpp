#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "session/tools/upload_names.h"

namespace {

using sv::SafeUploadName;

TEST(UploadNames, PlainNamesStayAsTheyAre) {
    EXPECT_EQ(SafeUploadName("report.pdf"), "report.pdf");
    EXPECT_EQ(SafeUploadName("my file (final).tar.gz"), "my file (final).tar.gz");
    EXPECT_EQ(SafeUploadName("Grüße 中文.txt"), "Grüße 中文.txt");
    EXPECT_EQ(SafeUploadName(".profile"), ".profile");
}

TEST(UploadNames, OnlyTheLastPathComponentIsKept) {
    EXPECT_EQ(SafeUploadName("../../evil.txt"), "evil.txt");
    EXPECT_EQ(SafeUploadName("..\\..\\evil.txt"), "evil.txt");
    EXPECT_EQ(SafeUploadName("C:\\Windows\\System32\\drivers\\etc\\hosts"), "hosts");
    EXPECT_EQ(SafeUploadName("\\\\server\\share\\x.bin"), "x.bin");
    EXPECT_EQ(SafeUploadName("a/b\\c/d.txt"), "d.txt");
}

TEST(UploadNames, EmptyDotAndDotDotBecomeFile) {
    EXPECT_EQ(SafeUploadName(""), "file");
    EXPECT_EQ(SafeUploadName("."), "file");
    EXPECT_EQ(SafeUploadName(".."), "file");
    EXPECT_EQ(SafeUploadName("dir/"), "file");
    EXPECT_EQ(SafeUploadName("dir/.."), "file");
    EXPECT_EQ(SafeUploadName("..."), "file");
    EXPECT_EQ(SafeUploadName(" . . "), "file");
}

TEST(UploadNames, DrivePrefixesAreRemoved) {
    EXPECT_EQ(SafeUploadName("D:x"), "x");
    EXPECT_EQ(SafeUploadName("c:evil.exe"), "evil.exe");
    EXPECT_EQ(SafeUploadName("D:"), "file");
}

TEST(UploadNames, ForbiddenCharactersAreReplaced) {
    EXPECT_EQ(SafeUploadName("a<b>c.txt"), "a_b_c.txt");
    EXPECT_EQ(SafeUploadName("what?.txt"), "what_.txt");
    EXPECT_EQ(SafeUploadName("star*.txt"), "star_.txt");
    EXPECT_EQ(SafeUploadName("pipe|quote\".txt"), "pipe_quote_.txt");
    EXPECT_EQ(SafeUploadName("file.txt:stream"), "file.txt_stream");  // no alternate data stream
    EXPECT_EQ(SafeUploadName(std::string("nul\0byte", 8)), "nul_byte");
    EXPECT_EQ(SafeUploadName("tab\there\x1f.txt"), "tab_here_.txt");
    EXPECT_EQ(SafeUploadName("del\x7f.txt"), "del_.txt");
}

TEST(UploadNames, TrailingDotsAndSpacesAreStripped) {
    EXPECT_EQ(SafeUploadName("name.txt."), "name.txt");
    EXPECT_EQ(SafeUploadName("name.txt . ."), "name.txt");
    EXPECT_EQ(SafeUploadName("name   "), "name");
    EXPECT_EQ(SafeUploadName(" leading.txt"), " leading.txt");
}

TEST(UploadNames, ReservedDeviceNamesArePrefixed) {
    EXPECT_EQ(SafeUploadName("CON"), "_CON");
    EXPECT_EQ(SafeUploadName("con"), "_con");
    EXPECT_EQ(SafeUploadName("NUL"), "_NUL");
    EXPECT_EQ(SafeUploadName("nul.txt"), "_nul.txt");
    EXPECT_EQ(SafeUploadName("PRN.log"), "_PRN.log");
    EXPECT_EQ(SafeUploadName("AUX"), "_AUX");
    EXPECT_EQ(SafeUploadName("COM1"), "_COM1");
    EXPECT_EQ(SafeUploadName("com9.bin"), "_com9.bin");
    EXPECT_EQ(SafeUploadName("LPT1.txt"), "_LPT1.txt");
    EXPECT_EQ(SafeUploadName("lpt5"), "_lpt5");
    EXPECT_EQ(SafeUploadName("CON .txt"), "_CON .txt");
    EXPECT_EQ(SafeUploadName("x/../NUL."), "_NUL");
    EXPECT_EQ(SafeUploadName("COM\xC2\xB9"), "_COM\xC2\xB9");
    EXPECT_EQ(SafeUploadName("CONIN$"), "_CONIN$");
    // Only whole device names count.
    EXPECT_EQ(SafeUploadName("CONSOLE.txt"), "CONSOLE.txt");
    EXPECT_EQ(SafeUploadName("COM10"), "COM10");
    EXPECT_EQ(SafeUploadName("LPT"), "LPT");
    EXPECT_EQ(SafeUploadName("nullable.c"), "nullable.c");
    // Shortening must not leave a device name behind: the cut backs over the stray
    // continuation bytes to just before the "x", leaving "COM" and a superscript one.
    EXPECT_EQ(SafeUploadName("COM\xC2\xB9x" + std::string(250, '\x86')), "_COM\xC2\xB9");
    // A device name with an overlong extension stays prefixed and within the bound.
    const std::string longExtension = SafeUploadName("CON." + std::string(300, 'x'));
    EXPECT_EQ(longExtension.substr(0, 5), "_CON.");
    EXPECT_LE(longExtension.size(), 200u);
}

TEST(UploadNames, OverlongNamesKeepTheirExtensionAndWholeCharacters) {
    std::string longName(300, 'a');
    std::string out = SafeUploadName(longName + ".txt");
    EXPECT_LE(out.size(), 200u);
    EXPECT_EQ(out.substr(out.size() - 4), ".txt");
    // Two-byte characters are never cut in half.
    std::string wide;
    for (int i = 0; i < 150; ++i) wide += "\xC3\xA9";
    std::string cut = SafeUploadName(wide + ".pdf");
    EXPECT_LE(cut.size(), 200u);
    EXPECT_EQ(cut.substr(cut.size() - 4), ".pdf");
    std::string stem = cut.substr(0, cut.size() - 4);
    EXPECT_EQ(stem.size() % 2, 0u);
    for (size_t i = 0; i < stem.size(); i += 2) EXPECT_EQ(stem.substr(i, 2), "\xC3\xA9");
}

TEST(UploadNames, NumberedNamesGoBeforeTheLastExtension) {
    EXPECT_EQ(sv::NumberedName("report.pdf", 1), "report (1).pdf");
    EXPECT_EQ(sv::NumberedName("report.pdf", 2), "report (2).pdf");
    EXPECT_EQ(sv::NumberedName("a.tar.gz", 1), "a.tar (1).gz");
    EXPECT_EQ(sv::NumberedName("README", 3), "README (3)");
    EXPECT_EQ(sv::NumberedName(".profile", 1), ".profile (1)");
}

}  // namespace
