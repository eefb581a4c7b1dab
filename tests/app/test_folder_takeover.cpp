#include "app/folder_takeover.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <vector>

namespace {

using sv::DataFolderAction;
using sv::EntryKind;
using sv::TakeOverAction;

TEST(FolderTakeOver, EachKindOfEntryIsSecuredOrLosesItsName) {
    const struct {
        sv::EntryFacts facts;
        bool uploads;
        TakeOverAction action;
    } cases[] = {
        {{EntryKind::File, 1, true}, false, TakeOverAction::Secure},
        {{EntryKind::File, 2, true}, false, TakeOverAction::RemoveName},  // a hard link to a file elsewhere
        {{EntryKind::Directory, 1, true}, false, TakeOverAction::SecureAndEnter},
        {{EntryKind::Link, 1, true}, false, TakeOverAction::RemoveName},
        // Written by someone else: a password or identity the service must never use.
        {{EntryKind::File, 1, false}, false, TakeOverAction::RemoveName},
        {{EntryKind::Directory, 1, false}, false, TakeOverAction::RemoveTree},
        {{EntryKind::Link, 1, false}, false, TakeOverAction::RemoveName},
        // Under the uploads folder's name only a folder of ours stays.
        {{EntryKind::File, 1, true}, true, TakeOverAction::RemoveName},
        {{EntryKind::Directory, 1, true}, true, TakeOverAction::SecureAndEnter},
        {{EntryKind::Directory, 1, false}, true, TakeOverAction::RemoveTree},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(sv::DecideTakeOver(c.facts, c.uploads), c.action)
            << static_cast<int>(c.facts.kind) << " " << c.facts.names << " " << c.facts.trustedOwner << " " << c.uploads;
    }
}

TEST(FolderTakeOver, OnlyAFolderOfSystemOrAdministratorsWithTheServicesListIsSecuredInPlace) {
    const struct {
        sv::EntryFacts facts;
        DataFolderAction action;
    } cases[] = {
        {{EntryKind::Directory, 1, true, true}, DataFolderAction::SecureInPlace},
        // Made beforehand by an administrator or a script: ProgramData's list let every
        // user add files, which the owner check alone would keep.
        {{EntryKind::Directory, 1, true, false}, DataFolderAction::MoveAside},
        {{EntryKind::Directory, 1, false, true}, DataFolderAction::MoveAside},
        {{EntryKind::Directory, 1, false}, DataFolderAction::MoveAside},
        {{EntryKind::Link, 1, false}, DataFolderAction::MoveAside},
        {{EntryKind::File, 1, false}, DataFolderAction::MoveAside},
        {{EntryKind::Link, 1, true}, DataFolderAction::Refuse},
        {{EntryKind::File, 1, true}, DataFolderAction::Refuse},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(sv::DecideDataFolder(c.facts), c.action)
            << static_cast<int>(c.facts.kind) << c.facts.trustedOwner << c.facts.ownList;
    }
}

TEST(FolderTakeOver, OnlyTheUploadsFolderLetsThePcsUsersRead) {
    const struct {
        const wchar_t* sddl;
        bool users;
    } cases[] = {
        {sv::FolderTopSddl(), false},
        {sv::FolderEntrySddl(EntryKind::File), false},
        {sv::FolderEntrySddl(EntryKind::Directory), false},
        {sv::UploadsFolderSddl(), true},
        {sv::UploadsEntrySddl(EntryKind::File), true},
        {sv::UploadsEntrySddl(EntryKind::Directory), true},
    };
    const auto count = [](const std::wstring& text, const std::wstring& part) {
        size_t n = 0;
        for (size_t at = text.find(part); at != std::wstring::npos; at = text.find(part, at + 1)) ++n;
        return n;
    };
    for (const auto& c : cases) {
        const std::wstring sddl = c.sddl;
        for (const wchar_t* everyone : {L"WD", L"AU", L"BU", L"CO"}) EXPECT_EQ(count(sddl, everyone), 0u) << sddl;
        // Interactive users: read and execute only, and only here.
        EXPECT_EQ(count(sddl, L"IU") != 0, c.users) << sddl;
        EXPECT_EQ(count(sddl, L"IU"), count(sddl, L";0x1200a9;;;IU)")) << sddl;
    }
    // Both folders cut their lists from their parents'.
    EXPECT_EQ(count(sv::FolderTopSddl(), L"D:PAI("), 1u);
    EXPECT_EQ(count(sv::UploadsFolderSddl(), L"D:PAI("), 1u);
}

const char* Label(const wchar_t* sddl) {
    const std::wstring s = sddl;
    if (s == sv::FolderTopSddl()) return "top";
    if (s == sv::UploadsFolderSddl()) return "uploads";
    if (s == sv::FolderEntrySddl(EntryKind::File) || s == sv::FolderEntrySddl(EntryKind::Directory)) return "entry";
    if (s == sv::UploadsEntrySddl(EntryKind::File) || s == sv::UploadsEntrySddl(EntryKind::Directory)) return "upload";
    return "?";
}

// Messages show names as ASCII; anything else as "?".
std::string Shown(const std::wstring& name) {
    std::string text;
    for (wchar_t c : name) text += c < 0x80 ? static_cast<char>(c) : '?';
    return text;
}

// A folder tree in memory behind the walk's operations, recording what was done. Names
// are looked up exactly as given, inside the folder whose handle is given.
struct FakeTree {
    std::map<std::wstring, sv::EntryFacts> entries;  // full path to facts
    std::map<sv::FolderOps::Handle, std::wstring> open;
    std::vector<std::string> log;
    std::wstring fail;          // the one entry whose securing, removal or making fails
    bool holdRoot = false;      // someone holds the folder without delete sharing
    bool remakeRoot = false;    // someone makes the folder again as soon as it is moved
    sv::FolderOps::Handle next = 1;

    std::vector<std::wstring> Children(const std::wstring& dir) const {
        std::vector<std::wstring> names;
        for (const auto& e : entries) {
            if (e.first.size() > dir.size() + 1 && e.first.compare(0, dir.size() + 1, dir + L"\\") == 0 &&
                e.first.find(L'\\', dir.size() + 1) == std::wstring::npos) {
                names.push_back(e.first.substr(dir.size() + 1));
            }
        }
        return names;
    }

    std::wstring Path(sv::FolderOps::Handle parent, const std::wstring& name) {
        return parent == 0 ? name : open.at(parent) + L"\\" + name;
    }

    sv::FolderOps Ops() {
        sv::FolderOps ops;
        ops.open = [this](sv::FolderOps::Handle parent, const std::wstring& name,
                          sv::EntryFacts& facts) -> sv::FolderOps::Handle {
            // Opened inside a folder this walk holds, which has to be one.
            if (parent != 0) {
                EXPECT_EQ(entries.at(open.at(parent)).kind, EntryKind::Directory);
            }
            auto it = entries.find(Path(parent, name));
            if (it == entries.end()) return 0;
            facts = it->second;
            open[next] = it->first;
            return next++;
        };
        ops.list = [this](sv::FolderOps::Handle h, std::vector<sv::FolderName>& names) {
            const std::wstring& dir = open.at(h);
            log.push_back("list " + Shown(dir));
            // A link is never looked into.
            EXPECT_EQ(entries.at(dir).kind, EntryKind::Directory) << Shown(dir);
            for (const std::wstring& name : Children(dir)) names.push_back({name, Shown(name)});
            return true;
        };
        ops.secure = [this](sv::FolderOps::Handle h, const wchar_t* sddl) {
            log.push_back(std::string("secure ") + Shown(open.at(h)) + " " + Label(sddl));
            return open.at(h) != fail;
        };
        ops.removeName = [this](sv::FolderOps::Handle h) {
            const std::wstring path = open.at(h);
            log.push_back("remove " + Shown(path));
            // As on Windows, a folder goes only once it is empty.
            EXPECT_TRUE(Children(path).empty()) << Shown(path);
            return path != fail && entries.erase(path) == 1;
        };
        ops.create = [this](sv::FolderOps::Handle parent, const std::wstring& name, const wchar_t* sddl, bool& existed) {
            const std::wstring path = Path(parent, name);
            log.push_back("create " + Shown(path) + " " + Label(sddl));
            existed = entries.count(path) != 0;
            if (existed || path == fail) return false;
            entries[path] = {EntryKind::Directory, 1, true, true};
            return true;
        };
        ops.rename = [this](sv::FolderOps::Handle h, const std::wstring& to) {
            const std::wstring from = open.at(h);
            log.push_back("rename " + Shown(from) + " -> " + Shown(to));
            if (holdRoot || entries.count(to) != 0) return false;
            std::map<std::wstring, sv::EntryFacts> moved;
            for (const auto& e : entries) {
                const bool under = e.first == from || e.first.compare(0, from.size() + 1, from + L"\\") == 0;
                moved[under ? to + e.first.substr(from.size()) : e.first] = e.second;
            }
            entries = moved;
            open[h] = to;
            if (remakeRoot) entries[from] = {EntryKind::Directory, 1, false};
            return true;
        };
        ops.stamp = [] { return std::string("T"); };
        ops.close = [this](sv::FolderOps::Handle h) { EXPECT_EQ(open.erase(h), 1u); };
        return ops;
    }
};

const sv::FolderName kRoot{L"D", "D"};

TEST(FolderTakeOver, TheWalkKeepsOnlyWhatTheServiceWroteAndHandlesEachNameAsItself) {
    FakeTree tree;
    tree.entries = {
        {L"D", {EntryKind::Directory, 1, true, true}},
        {L"D\\device.json", {EntryKind::File, 1, true}},
        {L"D\\host-ui.json", {EntryKind::File, 1, false}},
        // Names a path would read as another entry, a device or the parent.
        {L"D\\host-ui.json.", {EntryKind::File, 2, true}},
        {L"D\\NUL", {EntryKind::File, 1, true}},
        {L"D\\...", {EntryKind::Directory, 1, true}},
        {L"D\\...\\a ", {EntryKind::File, 1, false}},
        {L"D\\bad\xD800", {EntryKind::File, 1, true}},  // no UTF-8 form: kept as listed
        {L"D\\planted", {EntryKind::Directory, 1, false}},
        {L"D\\planted\\in", {EntryKind::Directory, 1, true}},
        {L"D\\planted\\in\\a", {EntryKind::File, 1, true}},
        {L"D\\planted\\link", {EntryKind::Link, 1, false}},
        {L"D\\sub", {EntryKind::Directory, 1, true}},
        {L"D\\sub\\inner", {EntryKind::Link, 1, true}},
        {L"D\\sub\\kept", {EntryKind::File, 1, true}},
        {L"D\\sub\\received", {EntryKind::File, 1, true}},  // only the top one is the uploads folder
    };
    const sv::TakeOverResult result = sv::PrepareDataFolder(kRoot, tree.Ops());
    EXPECT_EQ(result.problem, "");
    EXPECT_EQ(result.movedTo, "");
    const std::vector<std::string> expected = {
        "create D top",
        "secure D top",
        "list D",
        "secure D\\... entry",
        "list D\\...",
        "remove D\\...\\a ",
        "secure D\\NUL entry",
        "secure D\\bad? entry",
        "secure D\\device.json entry",
        "remove D\\host-ui.json",
        "remove D\\host-ui.json.",
        "secure D\\planted entry",  // its maker can add nothing more while it is emptied
        "list D\\planted",
        "list D\\planted\\in",
        "remove D\\planted\\in\\a",
        "remove D\\planted\\in",
        "remove D\\planted\\link",
        "remove D\\planted",
        "secure D\\sub entry",
        "list D\\sub",
        "remove D\\sub\\inner",
        "secure D\\sub\\kept entry",
        "secure D\\sub\\received entry",
        "create D\\received uploads",
    };
    EXPECT_EQ(tree.log, expected);
    EXPECT_EQ(result.removed, 8u);
    EXPECT_TRUE(tree.open.empty());  // every handle closed
}

TEST(FolderTakeOver, TheDataFolderIsMadeSecuredOrMovedAsideNeverAdopted) {
    std::vector<std::string> held = {"create D top"};
    for (int n = 0; n < sv::kMaxAsideNames; ++n) {
        held.push_back("rename D -> D.moved-T" + (n == 0 ? std::string() : "-" + std::to_string(n)));
    }
    // What another account made is moved whole: never listed, secured or emptied.
    const struct {
        const char* name;
        std::map<std::wstring, sv::EntryFacts> entries;
        bool holdRoot, remakeRoot;
        std::wstring fail;
        const char* problem;
        const char* movedTo;
        std::vector<std::string> log;
    } cases[] = {
        {"missing: made with its list from the start", {}, false, false, L"", "", "",
         {"create D top", "create D\\received uploads"}},
        {"another account's: moved aside, a fresh one made",
         {{L"D", {EntryKind::Directory, 1, false}}, {L"D\\host-ui.json", {EntryKind::File, 1, false}}}, false, false,
         L"", "", "D.moved-T",
         {"create D top", "rename D -> D.moved-T", "create D top", "create D\\received uploads"}},
        {"a link of another account's: moved aside as itself", {{L"D", {EntryKind::Link, 1, false}}}, false, false,
         L"", "", "D.moved-T",
         {"create D top", "rename D -> D.moved-T", "create D top", "create D\\received uploads"}},
        {"the first name beside it is taken",
         {{L"D", {EntryKind::Directory, 1, false}}, {L"D.moved-T", {EntryKind::Directory, 1, false}}}, false, false,
         L"", "", "D.moved-T-1",
         {"create D top", "rename D -> D.moved-T", "rename D -> D.moved-T-1", "create D top",
          "create D\\received uploads"}},
        {"held without delete sharing: not started", {{L"D", {EntryKind::Directory, 1, false}}}, true, false, L"",
         "cannot move aside D, which was made by another account", "", held},
        {"made again once moved: not adopted", {{L"D", {EntryKind::Directory, 1, false}}}, false, true, L"",
         "cannot create D after moving aside the one found there", "D.moved-T",
         {"create D top", "rename D -> D.moved-T", "create D top"}},
        {"ours, with a list others could add to: moved aside whole, never walked",
         {{L"D", {EntryKind::Directory, 1, true, false}}, {L"D\\host-ui.json", {EntryKind::File, 1, true}}}, false,
         false, L"", "", "D.moved-T",
         {"create D top", "rename D -> D.moved-T", "create D top", "create D\\received uploads"}},
        {"ours but a link", {{L"D", {EntryKind::Link, 1, true}}}, false, false, L"", "D is a link", "",
         {"create D top"}},
        {"ours but a file", {{L"D", {EntryKind::File, 1, true}}}, false, false, L"", "D is not a folder", "",
         {"create D top"}},
        {"ours, list not set", {{L"D", {EntryKind::Directory, 1, true, true}}}, false, false, L"D",
         "cannot set the access list of D", "", {"create D top", "secure D top"}},
        {"ours, entry not secured",
         {{L"D", {EntryKind::Directory, 1, true, true}}, {L"D\\a", {EntryKind::File, 1, true}}}, false, false, L"D\\a",
         "cannot secure D\\a", "", {"create D top", "secure D top", "list D", "secure D\\a entry"}},
        {"ours, planted entry not removed",
         {{L"D", {EntryKind::Directory, 1, true, true}}, {L"D\\b", {EntryKind::File, 1, false}}}, false, false, L"D\\b",
         "cannot remove D\\b", "", {"create D top", "secure D top", "list D", "remove D\\b"}},
        {"cannot be made", {}, false, false, L"D", "cannot create D", "", {"create D top"}},
        {"uploads folder cannot be made", {}, false, false, L"D\\received", "cannot create D\\received", "",
         {"create D top", "create D\\received uploads"}},
        // The uploads folder: ours kept with its own list (and its files with that list
        // inherited), anyone else's or a file in its place removed and made anew.
        {"ours, uploads kept",
         {{L"D", {EntryKind::Directory, 1, true, true}}, {L"D\\Received", {EntryKind::Directory, 1, true}},
          {L"D\\Received\\up.txt", {EntryKind::File, 1, true}}}, false, false, L"", "", "",
         {"create D top", "secure D top", "list D", "secure D\\Received uploads", "list D\\Received",
          "secure D\\Received\\up.txt upload", "create D\\received uploads"}},
        {"ours, uploads of another account's",
         {{L"D", {EntryKind::Directory, 1, true, true}}, {L"D\\received", {EntryKind::Directory, 1, false}},
          {L"D\\received\\x", {EntryKind::File, 1, false}}}, false, false, L"", "", "",
         {"create D top", "secure D top", "list D", "secure D\\received uploads", "list D\\received",
          "remove D\\received\\x", "remove D\\received", "create D\\received uploads"}},
        {"ours, a file named as the uploads folder",
         {{L"D", {EntryKind::Directory, 1, true, true}}, {L"D\\received", {EntryKind::File, 1, true}}}, false, false,
         L"", "", "", {"create D top", "secure D top", "list D", "remove D\\received", "create D\\received uploads"}},
    };
    for (const auto& c : cases) {
        FakeTree tree;
        tree.entries = c.entries;
        tree.holdRoot = c.holdRoot;
        tree.remakeRoot = c.remakeRoot;
        tree.fail = c.fail;
        const sv::TakeOverResult result = sv::PrepareDataFolder(kRoot, tree.Ops());
        EXPECT_EQ(result.problem, c.problem) << c.name;
        EXPECT_EQ(result.movedTo, c.movedTo) << c.name;
        EXPECT_EQ(tree.log, c.log) << c.name;
        EXPECT_TRUE(tree.open.empty()) << c.name;
    }
    // Deeper than the walk goes: refused, not half done.
    FakeTree deep;
    std::wstring path = L"D";
    for (int i = 0; i <= sv::kMaxTakeOverDepth + 1; ++i) {
        deep.entries[path] = {EntryKind::Directory, 1, true, true};
        path += L"\\d";
    }
    EXPECT_NE(sv::PrepareDataFolder(kRoot, deep.Ops()).problem.find("nested too deep"), std::string::npos);
}

}  // namespace
