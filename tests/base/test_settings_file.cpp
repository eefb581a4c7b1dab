#include "base/settings_file.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>

#include "base/file_io.h"
#include "base/text_encoding.h"
#include "test_support.h"

namespace {

using sv_test::ScratchDir;

bool MakeDirectory(const std::string& path) { return CreateDirectoryW(sv::Utf8ToUtf16(path).c_str(), nullptr) != 0; }

TEST(SettingsFile, NamesHostUiJsonInTheDataDirectory) {
    EXPECT_EQ(sv::SettingsFile::InDataDir("C:\\data").Path(), "C:\\data\\host-ui.json");
    EXPECT_EQ(sv::SettingsFile::InDataDir("C:\\data\\").Path(), "C:\\data\\host-ui.json");
}

TEST(SettingsFile, ReadTellsWhatIsThere) {
    struct Case {
        const char* name;
        std::function<bool(const std::string& path)> make;
        bool exists, readable, plain;
        std::string text;
        bool plainText;
    };
    const Case cases[] = {
        {"missing", [](const std::string&) { return true; }, false, false, false, "", false},
        {"file", [](const std::string& p) { return sv::WriteFileAtomically(p, R"({"Theme":"dark"})"); }, true,
         true, true, R"({"Theme":"dark"})", true},
        {"empty file", [](const std::string& p) { return sv::WriteFileAtomically(p, ""); }, true, true, true, "",
         true},
        {"directory", MakeDirectory, false, false, false, "", false},
    };
    for (const Case& c : cases) {
        ScratchDir dir;
        const sv::SettingsFile settings = sv::SettingsFile::InDataDir(dir.Path());
        ASSERT_TRUE(c.make(settings.Path())) << c.name;
        const sv::SettingsText read = settings.Read();
        EXPECT_EQ(read.exists, c.exists) << c.name;
        EXPECT_EQ(read.readable, c.readable) << c.name;
        EXPECT_EQ(read.plain, c.plain) << c.name;
        EXPECT_EQ(read.text, c.text) << c.name;
        EXPECT_EQ(settings.PlainText().has_value(), c.plainText) << c.name;
        if (c.plainText) {
            EXPECT_EQ(*settings.PlainText(), c.text) << c.name;
        }
    }
}

TEST(SettingsFile, UpdateWritesOnlyWhatTheChangeGives) {
    struct Case {
        const char* name;
        std::optional<std::string> before;  // none: no file
        std::optional<std::string> change;  // none: leave the file
        bool written;
        std::optional<std::string> after;
    };
    const Case cases[] = {
        {"new file", std::nullopt, std::string(R"({"a":1})"), true, std::string(R"({"a":1})")},
        {"replaced", std::string("old"), std::string("new"), true, std::string("new")},
        {"left alone", std::string("old"), std::nullopt, false, std::string("old")},
        {"nothing made", std::nullopt, std::nullopt, false, std::nullopt},
    };
    for (const Case& c : cases) {
        ScratchDir dir;
        // The data directory itself may be missing: the write makes it.
        const sv::SettingsFile settings = sv::SettingsFile::InDataDir(dir.Path() + "\\data");
        if (c.before) {
            ASSERT_TRUE(sv::WriteTextFile(settings.Path(), *c.before)) << c.name;
        }
        sv::SettingsText seen;
        EXPECT_EQ(settings.Update([&](const sv::SettingsText& current) {
            seen = current;
            return c.change;
        }),
                  c.written)
            << c.name;
        EXPECT_EQ(seen.exists, c.before.has_value()) << c.name;
        EXPECT_EQ(seen.text, c.before.value_or("")) << c.name;
        EXPECT_EQ(sv::IsRegularFile(settings.Path()), c.after.has_value()) << c.name;
        if (c.after) {
            EXPECT_EQ(sv_test::ReadFile(settings.Path()), *c.after) << c.name;
        }
    }
}

TEST(SettingsFile, AFailedWriteIsReported) {
    ScratchDir dir;
    const sv::SettingsFile settings = sv::SettingsFile::InDataDir(dir.Path());
    ASSERT_TRUE(MakeDirectory(settings.Path()));
    EXPECT_FALSE(settings.Update([](const sv::SettingsText&) { return std::optional<std::string>("{}"); }));
    EXPECT_TRUE(sv::IsDirectory(settings.Path()));
}

}  // namespace
