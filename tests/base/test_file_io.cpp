#include "base/file_io.h"
#include "base/text_encoding.h"

#include <gtest/gtest.h>

#include "test_support.h"

using sv_test::ReadFile;
using sv_test::ScratchDir;

TEST(FileUtil, WritesTheWholeTextAndCreatesParents) {
    ScratchDir dir;
    std::string path = dir.Path() + "\\a\\b/c\\out.bin";
    std::string text("bin\0ary\r\n", 9);
    ASSERT_TRUE(sv::WriteTextFile(path, text));
    EXPECT_EQ(ReadFile(path), text);
    // Rewritten whole, never appended; no temporary file stays behind.
    ASSERT_TRUE(sv::WriteTextFile(path, "x"));
    EXPECT_EQ(ReadFile(path), "x");
    EXPECT_EQ(sv_test::ListFiles(dir.Path() + "\\a\\b\\c"), std::vector<std::string>{"out.bin"});
}

TEST(FileUtil, EmptyTextGivesAnEmptyFile) {
    ScratchDir dir;
    std::string path = dir.Path() + "\\empty.txt";
    ASSERT_TRUE(sv::WriteTextFile(path, ""));
    EXPECT_TRUE(sv::IsRegularFile(path));
    EXPECT_EQ(ReadFile(path), "");
}

TEST(FileUtil, AFailedWriteIsReportedAndKeepsTheOldFile) {
    ScratchDir dir;
    // A directory where the file should be: nothing can be written there.
    std::string blocked = dir.Path() + "\\device.json";
    CreateDirectoryW(sv::Utf8ToUtf16(blocked).c_str(), nullptr);
    EXPECT_FALSE(sv::WriteTextFile(blocked, "{}"));
    EXPECT_TRUE(sv::IsDirectory(blocked));
    EXPECT_EQ(sv_test::ListFiles(dir.Path()), std::vector<std::string>{"device.json"});

    // A parent that is a file cannot be created.
    std::string file = dir.Path() + "\\plain";
    ASSERT_TRUE(sv::WriteTextFile(file, "old"));
    EXPECT_FALSE(sv::WriteTextFile(file + "\\child.txt", "new"));
    EXPECT_EQ(ReadFile(file), "old");
}

TEST(FileUtil, WrittenFilesReadBackWhole) {
    ScratchDir dir;
    std::string path = dir.Path() + "\\big.bin";
    std::string text(200000, 'z');
    text[123456] = '\0';
    ASSERT_TRUE(sv::WriteTextFile(path, text));
    std::string back;
    ASSERT_TRUE(sv::ReadWholeFile(path, back));
    EXPECT_EQ(back, text);
    EXPECT_FALSE(sv::ReadWholeFile(dir.Path() + "\\missing", back));
}

TEST(FileUtil, KindsOfPaths) {
    ScratchDir dir;
    std::string file = dir.Path() + "\\f.txt";
    ASSERT_TRUE(sv::WriteTextFile(file, "1"));
    EXPECT_TRUE(sv::IsRegularFile(file));
    EXPECT_FALSE(sv::IsDirectory(file));
    EXPECT_TRUE(sv::IsDirectory(dir.Path()));
    EXPECT_FALSE(sv::IsRegularFile(dir.Path()));
    EXPECT_FALSE(sv::PathExists(dir.Path() + "\\nothing"));
    EXPECT_TRUE(sv::PathExists(file));
}

TEST(FileUtil, RemovesATreeWithReadOnlyFiles) {
    ScratchDir dir;
    std::string root = dir.Path() + "\\update-staging";
    ASSERT_TRUE(sv::WriteTextFile(root + "\\a\\b\\c.txt", "c"));
    ASSERT_TRUE(sv::WriteTextFile(root + "\\top.txt", "t"));
    SetFileAttributesW(sv::Utf8ToUtf16(root + "\\top.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_TRUE(sv::RemoveDirectoryTree(root));
    EXPECT_FALSE(sv::PathExists(root));
    EXPECT_FALSE(sv::RemoveDirectoryTree(root));
}

// A link inside the tree, or the tree's root itself being a link, is removed as a link:
// the folder it points at keeps its content (under a service, ordinary users can plant
// such links in the data folder).
TEST(FileUtil, RemovingATreeNeverFollowsLinks) {
    ScratchDir dir;
    std::string outside = dir.Path() + "\\outside";
    ASSERT_TRUE(sv::WriteTextFile(outside + "\\keep.txt", "k"));
    std::string root = dir.Path() + "\\update-staging";
    ASSERT_TRUE(sv::WriteTextFile(root + "\\own.txt", "o"));
    std::wstring inner = sv::Utf8ToUtf16(root + "\\link");
    std::wstring target = sv::Utf8ToUtf16(outside);
    // Wine 8 answers success but makes nothing; only a link that exists tests anything.
    CreateSymbolicLinkW(inner.c_str(), target.c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY);
    DWORD attributes = GetFileAttributesW(inner.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        GTEST_SKIP() << "this system cannot make directory links";
    EXPECT_TRUE(sv::RemoveDirectoryTree(root));
    EXPECT_FALSE(sv::PathExists(root));
    EXPECT_TRUE(sv::IsRegularFile(outside + "\\keep.txt"));

    std::string linkedRoot = dir.Path() + "\\linked-staging";
    ASSERT_TRUE(CreateSymbolicLinkW(sv::Utf8ToUtf16(linkedRoot).c_str(), target.c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY));
    sv::RemoveDirectoryTree(linkedRoot);
    EXPECT_FALSE(sv::PathExists(linkedRoot));
    EXPECT_TRUE(sv::IsRegularFile(outside + "\\keep.txt"));
}

TEST(FileUtil, SameDirectoryComparesIdentity) {
    ScratchDir dir;
    std::string a = dir.Path() + "\\a";
    std::string b = dir.Path() + "\\b";
    CreateDirectoryW(sv::Utf8ToUtf16(a).c_str(), nullptr);
    CreateDirectoryW(sv::Utf8ToUtf16(b).c_str(), nullptr);
    EXPECT_TRUE(sv::SameDirectory(a, a));
    EXPECT_TRUE(sv::SameDirectory(a, dir.Path() + "\\b\\..\\a"));
    EXPECT_FALSE(sv::SameDirectory(a, b));
    EXPECT_FALSE(sv::SameDirectory(a, dir.Path() + "\\missing"));
    ASSERT_TRUE(sv::WriteTextFile(dir.Path() + "\\f", ""));
    EXPECT_FALSE(sv::SameDirectory(dir.Path() + "\\f", dir.Path() + "\\f"));
}

TEST(FileUtil, AtomicWriteReplacesAndLeavesNoTemporary) {
    sv_test::ScratchDir dir;
    std::string path = dir.Path() + "\\host-ui.json";
    ASSERT_TRUE(sv::WriteFileAtomically(path, "first"));
    ASSERT_TRUE(sv::WriteFileAtomically(path, "second, longer"));
    ASSERT_TRUE(sv::WriteFileAtomically(path, "3"));
    EXPECT_EQ(sv_test::ReadFile(path), "3");
    EXPECT_EQ(sv_test::ListFiles(dir.Path()), std::vector<std::string>{"host-ui.json"});
}

TEST(FileUtil, AtomicWriteIntoMissingDirectoryFailsCleanly) {
    sv_test::ScratchDir dir;
    EXPECT_FALSE(sv::WriteFileAtomically(dir.Path() + "\\missing\\x.json", "{}"));
    EXPECT_TRUE(sv_test::ListFiles(dir.Path()).empty());
}

TEST(FileUtil, ReadWholeFileReportsMissing) {
    sv_test::ScratchDir dir;
    std::string out = "stale";
    EXPECT_FALSE(sv::ReadWholeFile(dir.Path() + "\\nope", out));
    EXPECT_TRUE(out.empty());
    EXPECT_FALSE(sv::IsRegularFile(dir.Path() + "\\nope"));
    EXPECT_FALSE(sv::IsRegularFile(dir.Path()));
}

TEST(FileUtil, ANewFileNeverReplacesAnything) {
    ScratchDir dir;
    const std::string taken = dir.Path() + "\\taken.txt";
    const std::string folder = dir.Path() + "\\folder";
    ASSERT_TRUE(sv::WriteTextFile(taken, "old"));
    ASSERT_TRUE(CreateDirectoryW(sv::Utf8ToUtf16(folder).c_str(), nullptr));
    struct Case {
        std::string path;
        sv::NewFileResult result;
    };
    const Case cases[] = {
        {dir.Path() + "\\new.bin", sv::NewFileResult::Written},
        {taken, sv::NewFileResult::Taken},
        {folder, sv::NewFileResult::Taken},
        {dir.Path() + "\\missing\\x.bin", sv::NewFileResult::Failed},
    };
    const std::string bytes("new\0bytes", 9);
    for (const Case& c : cases) {
        EXPECT_EQ(sv::WriteNewFile(c.path, bytes.data(), bytes.size()), c.result) << c.path;
    }
    EXPECT_EQ(ReadFile(dir.Path() + "\\new.bin"), bytes);
    EXPECT_EQ(ReadFile(taken), "old");
    EXPECT_TRUE(sv::IsDirectory(folder));
    EXPECT_FALSE(sv::PathExists(dir.Path() + "\\missing"));
}
