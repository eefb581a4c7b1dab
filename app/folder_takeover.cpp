#include "app/folder_takeover.h"

#include <vector>

namespace sv {

TakeOverAction DecideTakeOver(const EntryFacts& facts) {
    if (facts.kind == EntryKind::Link) return TakeOverAction::RemoveName;
    if (!facts.trustedOwner) {
        return facts.kind == EntryKind::Directory ? TakeOverAction::RemoveTree : TakeOverAction::RemoveName;
    }
    if (facts.kind == EntryKind::Directory) return TakeOverAction::SecureAndEnter;
    return facts.names > 1 ? TakeOverAction::RemoveName : TakeOverAction::Secure;
}

const wchar_t* FolderTopSddl() { return L"O:BAG:SYD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)"; }

const wchar_t* FolderEntrySddl(EntryKind kind) {
    return kind == EntryKind::Directory ? L"O:BAD:AI(A;OICIID;FA;;;SY)(A;OICIID;FA;;;BA)"
                                        : L"O:BAD:AI(A;ID;FA;;;SY)(A;ID;FA;;;BA)";
}

namespace {

struct Walk {
    const FolderOps& ops;
    size_t removed = 0;

    // Holds the folder's handle while its entries are handled, so it cannot be renamed
    // or swapped for a link under the walk (the caller opens without delete sharing).
    template <typename Visit>
    std::string EachEntry(FolderOps::Handle folder, const std::string& path, int depth, Visit visit) {
        if (depth > kMaxTakeOverDepth) return path + ": folders nested too deep";
        std::vector<std::string> names;
        if (!ops.list(folder, names)) return "cannot list " + path;
        for (const std::string& name : names) {
            const std::string child = path + "\\" + name;
            EntryFacts facts;
            const FolderOps::Handle entry = ops.open(child, facts);
            if (entry == 0) return "cannot open " + child;
            const std::string problem = visit(entry, facts, child);
            ops.close(entry);
            if (!problem.empty()) return problem;
        }
        return std::string();
    }

    std::string Enter(FolderOps::Handle folder, const std::string& path, int depth) {
        return EachEntry(folder, path, depth, [&](FolderOps::Handle entry, const EntryFacts& facts,
                                                  const std::string& child) {
            const TakeOverAction action = DecideTakeOver(facts);
            if (action == TakeOverAction::RemoveName) return Remove(entry, facts, child, depth);
            // Secured before it is entered or emptied: its maker can then add nothing more.
            if (!ops.secure(entry, facts.kind, false)) return "cannot secure " + child;
            if (action == TakeOverAction::SecureAndEnter) return Enter(entry, child, depth + 1);
            if (action == TakeOverAction::RemoveTree) return Remove(entry, facts, child, depth);
            return std::string();
        });
    }

    // A folder is emptied first (a link inside loses only its name), then removed itself.
    std::string Remove(FolderOps::Handle entry, const EntryFacts& facts, const std::string& path, int depth) {
        if (facts.kind == EntryKind::Directory) {
            const std::string problem = EachEntry(entry, path, depth + 1,
                [&](FolderOps::Handle inner, const EntryFacts& innerFacts, const std::string& child) {
                    return Remove(inner, innerFacts, child, depth + 1);
                });
            if (!problem.empty()) return problem;
        }
        if (!ops.removeName(entry)) return "cannot remove " + path;
        ++removed;
        return std::string();
    }
};

}  // namespace

TakeOverResult TakeOverFolder(const std::string& root, const FolderOps& ops) {
    TakeOverResult result;
    EntryFacts facts;
    const FolderOps::Handle folder = ops.open(root, facts);
    if (folder == 0) {
        result.problem = "cannot open " + root;
        return result;
    }
    Walk walk{ops};
    if (facts.kind == EntryKind::Link) {
        result.problem = root + " is a link";
    } else if (facts.kind != EntryKind::Directory) {
        result.problem = root + " is not a folder";
    } else if (!ops.secure(folder, EntryKind::Directory, true)) {
        result.problem = "cannot set the access list of " + root;
    } else {
        result.problem = walk.Enter(folder, root, 1);
    }
    ops.close(folder);
    result.removed = walk.removed;
    return result;
}

}  // namespace sv
