#include "app/folder_takeover.h"

#include <gtest/gtest.h>

#include <map>
#include <vector>

namespace {

using sv::EntryKind;
using sv::TakeOverAction;

TEST(FolderTakeOver, EachKindOfEntryIsSecuredOrLosesItsName) {
    const struct {
        sv::EntryFacts facts;
        TakeOverAction action;
    } cases[] = {
        {{EntryKind::File, 1, true}, TakeOverAction::Secure},
        {{EntryKind::File, 2, true}, TakeOverAction::RemoveName},  // a hard link to a file elsewhere
        {{EntryKind::Directory, 1, true}, TakeOverAction::SecureAndEnter},
        {{EntryKind::Link, 1, true}, TakeOverAction::RemoveName},
        // Written by someone else: a password or identity the service must never use.
        {{EntryKind::File, 1, false}, TakeOverAction::RemoveName},
        {{EntryKind::Directory, 1, false}, TakeOverAction::RemoveTree},
        {{EntryKind::Link, 1, false}, TakeOverAction::RemoveName},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(sv::DecideTakeOver(c.facts), c.action)
            << static_cast<int>(c.facts.kind) << " " << c.facts.names << " " << c.facts.trustedOwner;
    }
    // Nobody but SYSTEM and Administrators, ever; the folder's list is cut from its parent's.
    for (const wchar_t* text :
         {sv::FolderTopSddl(), sv::FolderEntrySddl(EntryKind::File), sv::FolderEntrySddl(EntryKind::Directory)}) {
        const std::wstring sddl = text;
        EXPECT_EQ(sddl.find(L"BU"), std::wstring::npos);
        EXPECT_EQ(sddl.find(L"WD"), std::wstring::npos);
        EXPECT_EQ(sddl.find(L"AU"), std::wstring::npos);
    }
    EXPECT_NE(std::wstring(sv::FolderTopSddl()).find(L"D:P"), std::wstring::npos);
}

// A folder tree in memory behind the walk's operations, recording what was done.
struct FakeTree {
    std::map<std::string, sv::EntryFacts> entries;  // full path to facts
    std::map<sv::FolderOps::Handle, std::string> open;
    std::vector<std::string> log;
    std::string fail;  // the one entry whose securing or removal fails
    sv::FolderOps::Handle next = 1;

    sv::FolderOps Ops() {
        sv::FolderOps ops;
        ops.open = [this](const std::string& path, sv::EntryFacts& facts) -> sv::FolderOps::Handle {
            auto it = entries.find(path);
            if (it == entries.end()) return 0;
            facts = it->second;
            open[next] = path;
            return next++;
        };
        ops.list = [this](sv::FolderOps::Handle h, std::vector<std::string>& names) {
            const std::string& dir = open.at(h);
            log.push_back("list " + dir);
            // A link is never looked into.
            EXPECT_EQ(entries.at(dir).kind, EntryKind::Directory) << dir;
            for (const auto& e : entries) {
                if (e.first.size() > dir.size() + 1 && e.first.compare(0, dir.size() + 1, dir + "\\") == 0 &&
                    e.first.find('\\', dir.size() + 1) == std::string::npos) {
                    names.push_back(e.first.substr(dir.size() + 1));
                }
            }
            return true;
        };
        ops.secure = [this](sv::FolderOps::Handle h, EntryKind, bool top) {
            log.push_back(std::string(top ? "top " : "secure ") + open.at(h));
            return open.at(h) != fail;
        };
        ops.removeName = [this](sv::FolderOps::Handle h) {
            const std::string path = open.at(h);
            log.push_back("remove " + path);
            // As on Windows, a folder goes only once it is empty.
            EXPECT_EQ(entries.lower_bound(path + "\\"), entries.lower_bound(path + "]")) << path;
            return path != fail && entries.erase(path) == 1;
        };
        ops.close = [this](sv::FolderOps::Handle h) { EXPECT_EQ(open.erase(h), 1u); };
        return ops;
    }
};

TEST(FolderTakeOver, TheWalkKeepsOnlyWhatTheServiceWroteAndNeverFollowsLinks) {
    FakeTree tree;
    tree.entries = {
        {"D", {EntryKind::Directory, 1, false}},  // the folder itself: taken over, whoever made it
        {"D\\device.json", {EntryKind::File, 1, true}},
        {"D\\host-ui.json", {EntryKind::File, 1, false}},
        {"D\\planted", {EntryKind::Directory, 1, false}},
        {"D\\planted\\in", {EntryKind::Directory, 1, true}},
        {"D\\planted\\in\\a", {EntryKind::File, 1, true}},
        {"D\\planted\\link", {EntryKind::Link, 1, false}},
        {"D\\received", {EntryKind::Link, 1, true}},
        {"D\\sub", {EntryKind::Directory, 1, true}},
        {"D\\sub\\hard", {EntryKind::File, 2, true}},
        {"D\\sub\\inner", {EntryKind::Link, 1, true}},
        {"D\\sub\\kept", {EntryKind::File, 1, true}},
        {"D\\sub\\planted", {EntryKind::File, 1, false}},
    };
    const sv::TakeOverResult result = sv::TakeOverFolder("D", tree.Ops());
    EXPECT_EQ(result.problem, "");
    const std::vector<std::string> expected = {
        "top D",
        "list D",
        "secure D\\device.json",
        "remove D\\host-ui.json",
        "secure D\\planted",  // its maker can add nothing more while it is emptied
        "list D\\planted",
        "list D\\planted\\in",
        "remove D\\planted\\in\\a",
        "remove D\\planted\\in",
        "remove D\\planted\\link",
        "remove D\\planted",
        "remove D\\received",
        "secure D\\sub",
        "list D\\sub",
        "remove D\\sub\\hard",
        "remove D\\sub\\inner",
        "secure D\\sub\\kept",
        "remove D\\sub\\planted",
    };
    EXPECT_EQ(tree.log, expected);
    EXPECT_EQ(result.removed, 9u);
    EXPECT_TRUE(tree.open.empty());  // every handle closed
}

TEST(FolderTakeOver, RefusalsAndFailuresStopTheWalk) {
    const struct {
        const char* name;
        sv::EntryFacts root;
        std::string fail;
        const char* problem;
        size_t logged;
    } cases[] = {
        {"root is a link", {EntryKind::Link, 1}, "", "D is a link", 0},
        {"root is a file", {EntryKind::File, 1}, "", "D is not a folder", 0},
        {"root not secured", {EntryKind::Directory, 1}, "D", "cannot set the access list of D", 1},
        {"entry not secured", {EntryKind::Directory, 1}, "D\\a", "cannot secure D\\a", 3},
        {"planted entry not removed", {EntryKind::Directory, 1}, "D\\b", "cannot remove D\\b", 4},
    };
    for (const auto& c : cases) {
        FakeTree tree;
        tree.entries = {{"D", c.root}, {"D\\a", {EntryKind::File, 1, true}}, {"D\\b", {EntryKind::File, 1, false}}};
        tree.fail = c.fail;
        EXPECT_EQ(sv::TakeOverFolder("D", tree.Ops()).problem, c.problem) << c.name;
        EXPECT_EQ(tree.log.size(), c.logged) << c.name;
        EXPECT_TRUE(tree.open.empty()) << c.name;
    }
    // Deeper than the walk goes: refused, not half done.
    FakeTree deep;
    std::string path = "D";
    for (int i = 0; i <= sv::kMaxTakeOverDepth + 1; ++i) {
        deep.entries[path] = {EntryKind::Directory, 1, true};
        path += "\\d";
    }
    EXPECT_NE(sv::TakeOverFolder("D", deep.Ops()).problem.find("nested too deep"), std::string::npos);
}

}  // namespace
