#include "app/data_folder_check.h"

#include <gtest/gtest.h>

#include "base/file_io.h"
#include "test_support.h"

TEST(DataFolderCheck, MakesTheFolderOrSaysWhyNot) {
    sv_test::ScratchDir dir;
    const std::string file = dir.Path() + "\\file";
    ASSERT_TRUE(sv::WriteTextFile(file, "x"));
    struct Case {
        std::string folder;
        std::string reason;  // the beginning of the reason; "" when the folder is usable
    };
    const Case cases[] = {
        {dir.Path() + "\\new\\Sorvane", ""},
        {dir.Path(), ""},
        {"", "no folder was given"},
        {file, "it is a file, not a folder"},
        {file + "\\Sorvane", "the folder cannot be made: "},
    };
    for (const Case& c : cases) {
        const std::string problem = sv::DataFolderProblem(c.folder);
        EXPECT_EQ(problem.compare(0, c.reason.size(), c.reason), 0) << c.folder << ": " << problem;
        if (c.reason.empty()) {
            EXPECT_EQ(problem, "") << c.folder;
            EXPECT_TRUE(sv::IsDirectory(c.folder)) << c.folder;
        } else {
            EXPECT_NE(problem.find("--data-dir"), std::string::npos) << problem;
        }
    }
    // The probe leaves nothing behind.
    EXPECT_EQ(sv_test::ListFiles(dir.Path() + "\\new\\Sorvane"), std::vector<std::string>{});
    EXPECT_EQ(sv::DataFolderProblemLine("D:\\x", "why"), "cannot write the data folder D:\\x: why\n");
}
