#include "app/access_list.h"

namespace sv {

bool SameAccessList(const AccessList& found, const AccessList& made) {
    if (!found.present || !made.present || found.isProtected != made.isProtected) return false;
    if (found.entries.size() != made.entries.size()) return false;
    std::vector<bool> matched(made.entries.size(), false);
    for (const AccessEntry& entry : found.entries) {
        bool hit = false;
        for (size_t i = 0; i < made.entries.size() && !hit; ++i) {
            if (!matched[i] && made.entries[i] == entry) matched[i] = hit = true;
        }
        if (!hit) return false;
    }
    return true;
}

}  // namespace sv
