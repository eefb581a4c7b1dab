#include "app/folder_takeover.h"

#include <vector>

namespace sv {

TakeOverAction DecideTakeOver(const EntryFacts& facts) {
    if (facts.kind == EntryKind::Link) return TakeOverAction::RemoveName;
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

    // Holds the folder's handle while its entries are handled, so it cannot be renamed
    // or swapped for a link under the walk (the caller opens without delete sharing).
    std::string Enter(FolderOps::Handle folder, const std::string& path, int depth) {
        if (depth > kMaxTakeOverDepth) return path + ": folders nested too deep";
        std::vector<std::string> names;
        if (!ops.list(folder, names)) return "cannot list " + path;
        for (const std::string& name : names) {
            const std::string child = path + "\\" + name;
            EntryFacts facts;
            const FolderOps::Handle entry = ops.open(child, facts);
            if (entry == 0) return "cannot open " + child;
            std::string problem;
            switch (DecideTakeOver(facts)) {
            case TakeOverAction::RemoveName:
                if (!ops.removeName(entry)) problem = "cannot remove " + child;
                break;
            case TakeOverAction::Secure:
                if (!ops.secure(entry, facts.kind, false)) problem = "cannot secure " + child;
                break;
            case TakeOverAction::SecureAndEnter:
                // Secured before it is entered: its maker can then add nothing more.
                if (!ops.secure(entry, facts.kind, false)) {
                    problem = "cannot secure " + child;
                } else {
                    problem = Enter(entry, child, depth + 1);
                }
                break;
            }
            ops.close(entry);
            if (!problem.empty()) return problem;
        }
        return std::string();
    }
};

}  // namespace

std::string TakeOverFolder(const std::string& root, const FolderOps& ops) {
    EntryFacts facts;
    const FolderOps::Handle folder = ops.open(root, facts);
    if (folder == 0) return "cannot open " + root;
    std::string problem;
    if (facts.kind == EntryKind::Link) {
        problem = root + " is a link";
    } else if (facts.kind != EntryKind::Directory) {
        problem = root + " is not a folder";
    } else if (!ops.secure(folder, EntryKind::Directory, true)) {
        problem = "cannot set the access list of " + root;
    } else {
        problem = Walk{ops}.Enter(folder, root, 1);
    }
    ops.close(folder);
    return problem;
}

}  // namespace sv
