#include "app/folder_takeover.h"

#include <vector>

#include "base/case_fold.h"

namespace sv {

TakeOverAction DecideTakeOver(const EntryFacts& facts, bool uploadsFolder) {
    if (facts.kind == EntryKind::Link) return TakeOverAction::RemoveName;
    if (!facts.trustedOwner) {
        return facts.kind == EntryKind::Directory ? TakeOverAction::RemoveTree : TakeOverAction::RemoveName;
    }
    if (facts.kind == EntryKind::Directory) return TakeOverAction::SecureAndEnter;
    return facts.names > 1 || uploadsFolder ? TakeOverAction::RemoveName : TakeOverAction::Secure;
}

DataFolderAction DecideDataFolder(const EntryFacts& facts) {
    if (!facts.trustedOwner) return DataFolderAction::MoveAside;
    if (facts.kind != EntryKind::Directory) return DataFolderAction::Refuse;
    // Whatever was added under a wider list cannot be told from the service's own files.
    return facts.ownList ? DataFolderAction::SecureInPlace : DataFolderAction::MoveAside;
}

const wchar_t* FolderTopSddl() { return L"O:BAG:SYD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)"; }

const wchar_t* FolderEntrySddl(EntryKind kind) {
    return kind == EntryKind::Directory ? L"O:BAD:AI(A;OICIID;FA;;;SY)(A;OICIID;FA;;;BA)"
                                        : L"O:BAD:AI(A;ID;FA;;;SY)(A;ID;FA;;;BA)";
}

// 0x1200a9: read and execute (FILE_GENERIC_READ | FILE_GENERIC_EXECUTE), nothing that writes.
const wchar_t* UploadsFolderSddl() {
    return L"O:BAG:SYD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;IU)";
}

const wchar_t* UploadsEntrySddl(EntryKind kind) {
    return kind == EntryKind::Directory
               ? L"O:BAD:AI(A;OICIID;FA;;;SY)(A;OICIID;FA;;;BA)(A;OICIID;0x1200a9;;;IU)"
               : L"O:BAD:AI(A;ID;FA;;;SY)(A;ID;FA;;;BA)(A;ID;0x1200a9;;;IU)";
}

namespace {

std::wstring WidenAscii(const std::string& text) { return std::wstring(text.begin(), text.end()); }

struct Walk {
    const FolderOps& ops;
    size_t removed = 0;

    // Holds the folder's handle while its entries are handled, so it cannot be renamed
    // or swapped for a link under the walk (the caller opens without delete sharing).
    // Each entry is opened by its listed name inside that handle, never by a path the
    // system would reinterpret ("a." as "a", "NUL" as the device, "..." as the parent).
    template <typename Visit>
    std::string EachEntry(FolderOps::Handle folder, const std::string& path, int depth, Visit visit) {
        if (depth > kMaxTakeOverDepth) return path + ": folders nested too deep";
        std::vector<FolderName> names;
        if (!ops.list(folder, names)) return "cannot list " + path;
        for (const FolderName& name : names) {
            const std::string child = path + "\\" + name.text;
            EntryFacts facts;
            const FolderOps::Handle entry = ops.open(folder, name.name, facts);
            if (entry == 0) return "cannot open " + child;
            const std::string problem = visit(entry, facts, name, child);
            ops.close(entry);
            if (!problem.empty()) return problem;
        }
        return std::string();
    }

    // `uploads`: inside the uploads folder, whose entries carry its list.
    std::string Enter(FolderOps::Handle folder, const std::string& path, int depth, bool uploads) {
        return EachEntry(folder, path, depth, [&](FolderOps::Handle entry, const EntryFacts& facts,
                                                  const FolderName& name, const std::string& child) {
            const bool uploadsFolder = depth == 1 && AsciiLower(name.text) == kUploadsFolderName;
            const TakeOverAction action = DecideTakeOver(facts, uploadsFolder);
            if (action == TakeOverAction::RemoveName) return Remove(entry, facts, child, depth);
            const wchar_t* sddl = uploadsFolder ? UploadsFolderSddl()
                                  : uploads     ? UploadsEntrySddl(facts.kind)
                                                : FolderEntrySddl(facts.kind);
            // Secured before it is entered or emptied: its maker can then add nothing more.
            if (!ops.secure(entry, sddl)) return "cannot secure " + child;
            if (action == TakeOverAction::SecureAndEnter) return Enter(entry, child, depth + 1, uploads || uploadsFolder);
            if (action == TakeOverAction::RemoveTree) return Remove(entry, facts, child, depth);
            return std::string();
        });
    }

    // A folder is emptied first (a link inside loses only its name), then removed itself.
    std::string Remove(FolderOps::Handle entry, const EntryFacts& facts, const std::string& path, int depth) {
        if (facts.kind == EntryKind::Directory) {
            const std::string problem = EachEntry(entry, path, depth + 1,
                [&](FolderOps::Handle inner, const EntryFacts& innerFacts, const FolderName&, const std::string& child) {
                    return Remove(inner, innerFacts, child, depth + 1);
                });
            if (!problem.empty()) return problem;
        }
        if (!ops.removeName(entry)) return "cannot remove " + path;
        ++removed;
        return std::string();
    }
};

// Opens the folder this run has just made; anything else under its name is refused.
std::string OpenMade(const FolderName& root, const FolderOps& ops, FolderOps::Handle& folder) {
    EntryFacts facts;
    folder = ops.open(0, root.name, facts);
    if (folder == 0) return "cannot open " + root.text;
    if (facts.kind != EntryKind::Directory || !facts.trustedOwner) return root.text + " is not the folder just made";
    return std::string();
}

// Renamed through the handle held since its owner was read, so the very folder that was
// judged is the one moved; its maker keeps whatever handles he has, to that folder only.
std::string MoveAside(const FolderName& root, const FolderOps& ops, FolderOps::Handle& folder, const std::string& why,
                      std::string& movedTo) {
    const std::string stamp = ops.stamp();
    for (int n = 0; n < kMaxAsideNames && movedTo.empty(); ++n) {
        const std::string suffix = ".moved-" + stamp + (n == 0 ? std::string() : "-" + std::to_string(n));
        if (ops.rename(folder, root.name + WidenAscii(suffix))) movedTo = root.text + suffix;
    }
    ops.close(folder);
    folder = 0;
    if (movedTo.empty()) return "cannot move aside " + root.text + ", which " + why;
    bool existed = false;
    if (!ops.create(0, root.name, FolderTopSddl(), existed)) {
        return "cannot create " + root.text + " after moving aside the one found there";
    }
    return OpenMade(root, ops, folder);
}

}  // namespace

TakeOverResult PrepareDataFolder(const FolderName& root, const FolderOps& ops) {
    TakeOverResult result;
    bool existed = false;
    const bool made = ops.create(0, root.name, FolderTopSddl(), existed);
    if (!made && !existed) {
        result.problem = "cannot create " + root.text;
        return result;
    }
    FolderOps::Handle folder = 0;
    Walk walk{ops};
    if (made) {
        result.problem = OpenMade(root, ops, folder);
    } else {
        EntryFacts facts;
        folder = ops.open(0, root.name, facts);
        if (folder == 0) {
            result.problem = "cannot open " + root.text;
        } else {
            switch (DecideDataFolder(facts)) {
            case DataFolderAction::Refuse:
                result.problem = root.text + (facts.kind == EntryKind::Link ? " is a link" : " is not a folder");
                break;
            case DataFolderAction::MoveAside:
                result.movedWhy = facts.trustedOwner ? "had an access list the service did not give it"
                                                     : "was made by another account";
                result.problem = MoveAside(root, ops, folder, result.movedWhy, result.movedTo);
                break;
            case DataFolderAction::SecureInPlace:
                result.problem = ops.secure(folder, FolderTopSddl())
                                     ? walk.Enter(folder, root.text, 1, false)
                                     : "cannot set the access list of " + root.text;
                break;
            }
        }
    }
    if (result.problem.empty()) {
        // Made here, never adopted: one found under its name was kept by the walk only
        // as a folder of ours, and given the uploads list there.
        existed = false;
        if (!ops.create(folder, WidenAscii(kUploadsFolderName), UploadsFolderSddl(), existed) && !existed) {
            result.problem = "cannot create " + root.text + "\\" + kUploadsFolderName;
        }
    }
    if (folder != 0) ops.close(folder);
    result.removed = walk.removed;
    return result;
}

}  // namespace sv
