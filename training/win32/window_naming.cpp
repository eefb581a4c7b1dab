#include "training/win32/window_naming.h"

namespace sv {
namespace training {

std::string ImageNameFromPath(const std::string& path) {
    const size_t slash = path.find_last_of("\\/");
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (name.size() > 4) {
        std::string tail = name.substr(name.size() - 4);
        for (char& c : tail) {
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        }
        if (tail == ".exe") name.resize(name.size() - 4);
    }
    return name;
}

}  // namespace training
}  // namespace sv
