#include "training/win32/uia_walk.h"

#include <algorithm>
#include <limits>

namespace sv {
namespace training {

using nlohmann::json;

namespace {

bool IsSpacesAndTabs(const std::string& text) {
    for (char c : text) {
        if (c != ' ' && c != '\t') return false;
    }
    return true;
}

bool IsContainerType(const std::string& type) { return type == "Pane" || type == "Group" || type == "Custom"; }

// Rectangles relative to the virtual screen, in 64 bits: a provider may report any value.
json RectJson(const Box& box, int32_t originX, int32_t originY) {
    return json::array({static_cast<int64_t>(box.x) - originX, static_cast<int64_t>(box.y) - originY, box.width,
                        box.height});
}

bool Contains(const TreeSource& source, const std::string& text, const std::string& needle) {
    return source.containsNoCase && source.containsNoCase(text, needle);
}

}  // namespace

std::string Utf8Prefix(const std::string& text, size_t count) {
    size_t seen = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;
        if (seen == count) return text.substr(0, i) + "\xE2\x80\xA6";
        ++seen;
    }
    return text;
}

WindowSelector ParseWindowSelector(const std::string& selector) {
    WindowSelector result;
    std::string folded = selector;
    for (char& c : folded) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    if (selector.empty() || folded == "foreground") return result;
    bool digits = true;
    for (char c : selector) digits = digits && c >= '0' && c <= '9';
    if (!digits) {
        result.kind = WindowSelector::Kind::Title;
        result.title = selector;
        return result;
    }
    int64_t value = 0;
    for (char c : selector) {
        const int digit = c - '0';
        if (value > (std::numeric_limits<int64_t>::max() - digit) / 10) {
            result.kind = WindowSelector::Kind::Nothing;
            return result;
        }
        value = value * 10 + digit;
    }
    result.kind = WindowSelector::Kind::Handle;
    result.handle = value;
    return result;
}

std::string NoWindowMatches(const std::string& selector) {
    return "no window matches '" + (selector.empty() ? std::string("foreground") : selector) + "'";
}

std::optional<std::string> TreeNodeValue(int32_t controlTypeId, bool password,
                                         const std::optional<std::string>& raw) {
    if (password || !raw) return std::nullopt;
    if (controlTypeId != kControlTypeEdit && controlTypeId != kControlTypeComboBox &&
        controlTypeId != kControlTypeSpinner) {
        return std::nullopt;
    }
    return Utf8Prefix(*raw, 120);
}

std::optional<std::string> ElementValue(int32_t controlTypeId, bool password, const std::optional<std::string>& raw) {
    if (controlTypeId == kControlTypeSpinner) return std::nullopt;
    return TreeNodeValue(controlTypeId, password, raw);
}

json ElementTreeToJson(TreeWalk& walk, const UiaNode& element, int32_t depth) {
    if (walk.nodes >= static_cast<uint32_t>(std::max<int32_t>(walk.nodeLimit, 0))) {
        walk.truncated = true;
        return nullptr;
    }
    const CachedNode node = walk.source.read(element);
    if (depth >= 1 && node.offscreen) return nullptr;
    ++walk.nodes;

    json children = json::array();
    if (depth >= walk.depthLimit) {
        if (walk.source.hasChild && walk.source.hasChild(element)) walk.truncated = true;
    } else if (walk.source.children) {
        for (const UiaNode& child : walk.source.children(element, kTreeChildrenCap)) {
            if (walk.nodes >= static_cast<uint32_t>(std::max<int32_t>(walk.nodeLimit, 0))) {
                walk.truncated = true;
                break;
            }
            json converted = ElementTreeToJson(walk, child, depth + 1);
            if (converted.is_array()) {
                for (json& item : converted) children.push_back(std::move(item));
            } else if (!converted.is_null()) {
                children.push_back(std::move(converted));
            }
        }
    }

    // An unnamed container only groups: its children take its place in the parent's list.
    if (depth >= 1 && IsSpacesAndTabs(node.name) && IsContainerType(node.controlType)) return children;

    json out = json::object();
    out["name"] = Utf8Prefix(node.name, 80);
    out["type"] = node.controlType;
    if (!node.automationId.empty()) out["id"] = Utf8Prefix(node.automationId, 60);
    if (node.rect) out["rect"] = RectJson(*node.rect, walk.originX, walk.originY);
    if (!node.enabled) out["enabled"] = false;
    if (node.value) out["value"] = *node.value;
    if (!children.empty()) out["children"] = std::move(children);
    return out;
}

void ElementPath(TreeWalk& walk, const UiaNode& element, const std::string& path, int32_t depth) {
    if (walk.nodes >= static_cast<uint32_t>(std::max<int32_t>(walk.nodeLimit, 0))) {
        walk.truncated = true;
        return;
    }
    const CachedNode node = walk.source.read(element);
    if (depth >= 1 && node.offscreen) return;
    ++walk.nodes;

    const std::string label =
        IsSpacesAndTabs(node.name) ? node.controlType : node.controlType + " '" + Utf8Prefix(node.name, 40) + "'";
    if (Contains(walk.source, node.name, walk.nameContains) ||
        Contains(walk.source, node.automationId, walk.nameContains)) {
        json match = json::object();
        match["name"] = Utf8Prefix(node.name, 80);
        match["type"] = node.controlType;
        match["enabled"] = node.enabled;
        match["path"] = path;
        if (!node.automationId.empty()) match["id"] = node.automationId;
        if (node.rect) match["rect"] = RectJson(*node.rect, walk.originX, walk.originY);
        walk.matches.push_back(std::move(match));
    }

    if (static_cast<int64_t>(depth) >= static_cast<int64_t>(walk.depthLimit) + kSearchExtraDepth) return;
    if (!walk.source.children) return;
    const std::string childPath = path.empty() ? label : path + " > " + label;
    for (const UiaNode& child : walk.source.children(element, kTreeChildrenCap)) {
        if (walk.nodes >= static_cast<uint32_t>(std::max<int32_t>(walk.nodeLimit, 0))) {
            walk.truncated = true;
            break;
        }
        ElementPath(walk, child, childPath, depth + 1);
    }
}

bool BoxContains(const Box& box, int32_t x, int32_t y) {
    if (box.width <= 0 || box.height <= 0) return false;
    const int64_t px = x, py = y;
    return box.x <= px && px < static_cast<int64_t>(box.x) + box.width && box.y <= py &&
           py < static_cast<int64_t>(box.y) + box.height;
}

UiaNode RefineElementAtPoint(const UiaNode& pointElement, int32_t x, int32_t y, const UiaNode& fallback,
                             const PointSource& source, int32_t depthLimit, int32_t visitLimit) {
    auto holds = [&](const UiaNode& element) {
        if (!element) return false;
        std::optional<Box> box = source.box(element);
        return box && BoxContains(*box, x, y);
    };
    if (holds(pointElement)) return pointElement;

    UiaNode start;
    UiaNode current = pointElement;
    for (int32_t steps = 0;;) {
        UiaNode parent = current ? source.parent(current) : UiaNode();
        if (!parent) {
            if (!holds(fallback)) return UiaNode();
            start = fallback;
            break;
        }
        current = parent;
        ++steps;
        if (holds(current) || steps >= kPointClimbLimit) {
            start = current;
            break;
        }
    }

    UiaNode chosen = start;
    int32_t visits = 0;
    for (int32_t level = 0; level < depthLimit; ++level) {
        UiaNode best;
        int64_t bestArea = 0;
        for (const UiaNode& child : source.children(chosen, kPointChildrenCap)) {
            if (++visits > visitLimit) break;
            if (source.skip && source.skip(child)) continue;
            std::optional<Box> box = source.box(child);
            if (!box || !BoxContains(*box, x, y)) continue;
            const int64_t area = static_cast<int64_t>(box->width) * box->height;
            if (!best || area <= bestArea) {
                best = child;
                bestArea = area;
            }
        }
        if (!best) break;
        chosen = best;
    }
    return chosen;
}

}  // namespace training
}  // namespace sv
