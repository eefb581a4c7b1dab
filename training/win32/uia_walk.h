#pragma once
// The UI Automation reading rules, apart from COM: which window a selector names, how a
// window's element tree becomes JSON (caps, flattening of unnamed containers, offscreen
// pruning, value truncation), the name search, and the refinement of the element under a
// point. Elements are opaque shared handles; the COM unit supplies the functions that read
// them, tests supply fakes.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "training/training_records.h"

namespace sv {
namespace training {

using UiaNode = std::shared_ptr<void>;

// Control type ids that carry a value.
constexpr int32_t kControlTypeComboBox = 50003;
constexpr int32_t kControlTypeEdit = 50004;
constexpr int32_t kControlTypeSpinner = 50016;

constexpr size_t kTreeChildrenCap = 500;
constexpr size_t kPointChildrenCap = 300;
constexpr int32_t kSearchExtraDepth = 6;
constexpr int32_t kPointDescentLimit = 14;
constexpr int32_t kPointVisitLimit = 600;
constexpr int32_t kPointClimbLimit = 64;

// The string unchanged when it has at most `count` code points, else its first `count`
// code points followed by "…".
std::string Utf8Prefix(const std::string& text, size_t count);

// Which window a tree query names.
struct WindowSelector {
    enum class Kind { Foreground, Handle, Title, Nothing };
    Kind kind = Kind::Foreground;
    int64_t handle = 0;
    std::string title;
};
// Empty or "foreground" in any case: the foreground window. Only digits: a window handle in
// decimal; digits beyond the 64-bit range name no window. Anything else: a title fragment.
WindowSelector ParseWindowSelector(const std::string& selector);
// "no window matches '<selector>'", with "foreground" for an empty selector.
std::string NoWindowMatches(const std::string& selector);

// A value is kept only for a non-password edit, combo box or spinner (the tree) or edit or
// combo box (a single element), cut to 120 code points.
std::optional<std::string> TreeNodeValue(int32_t controlTypeId, bool password, const std::optional<std::string>& raw);
std::optional<std::string> ElementValue(int32_t controlTypeId, bool password, const std::optional<std::string>& raw);

// A node's properties as read from the cache.
struct CachedNode {
    std::string name;
    std::string automationId;
    std::string controlType;
    std::optional<Box> rect;
    bool offscreen = false;
    bool enabled = true;
    bool password = false;
    std::optional<std::string> value;
    int32_t controlTypeId = 0;
};

// How the walks reach the elements.
struct TreeSource {
    std::function<CachedNode(const UiaNode&)> read;
    // Up to `cap` children with their cached properties, stopping at the first failure.
    std::function<std::vector<UiaNode>(const UiaNode&, size_t cap)> children;
    // Whether the element has any child at all (asked live, not from the cache).
    std::function<bool(const UiaNode&)> hasChild;
    // Case-insensitive substring test; false for an empty needle.
    std::function<bool(const std::string& text, const std::string& needle)> containsNoCase;
};

struct TreeWalk {
    TreeSource source;
    int32_t depthLimit = 6;
    int32_t nodeLimit = 250;
    std::string nameContains;
    int32_t originX = 0;
    int32_t originY = 0;
    uint32_t nodes = 0;
    bool truncated = false;
    nlohmann::json matches = nlohmann::json::array();
};

// The element and what lies under it as JSON; null when the node is left out, an array
// when an unnamed container below the root hands its children up in its place.
nlohmann::json ElementTreeToJson(TreeWalk& walk, const UiaNode& element, int32_t depth);
// Appends every element whose name (or else automation id) contains the walk's nameContains.
void ElementPath(TreeWalk& walk, const UiaNode& element, const std::string& path, int32_t depth);

// Whether a box holds a point: positive size, left/top inclusive, right/bottom exclusive.
bool BoxContains(const Box& box, int32_t x, int32_t y);

struct PointSource {
    std::function<std::optional<Box>(const UiaNode&)> box;
    std::function<UiaNode(const UiaNode&)> parent;
    std::function<std::vector<UiaNode>(const UiaNode&, size_t cap)> children;
    std::function<bool(const UiaNode&)> skip;
};

// The most specific element at (x, y): the point element itself when its box holds the
// point, else the nearest ancestor (or the fallback) that holds it, descended into the
// smallest child holding the point. Null when nothing holds it.
UiaNode RefineElementAtPoint(const UiaNode& pointElement, int32_t x, int32_t y, const UiaNode& fallback,
                             const PointSource& source, int32_t depthLimit = kPointDescentLimit,
                             int32_t visitLimit = kPointVisitLimit);

}  // namespace training
}  // namespace sv
