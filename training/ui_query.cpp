#include "training/ui_query.h"

#include <algorithm>

#include "training/training_args.h"

namespace sv {
namespace training {

namespace {

constexpr int32_t kFirstControlType = 50000;
constexpr const char* kControlTypeNames[] = {
    "Button",   "Calendar",  "CheckBox",  "ComboBox",    "Edit",        "Hyperlink",    "Image",
    "ListItem", "List",      "Menu",      "MenuBar",     "MenuItem",    "ProgressBar",  "RadioButton",
    "ScrollBar", "Slider",   "Spinner",   "StatusBar",   "Tab",         "TabItem",      "Text",
    "ToolBar",  "ToolTip",   "Tree",      "TreeItem",    "Custom",      "Group",        "Thumb",
    "DataGrid", "DataItem",  "Document",  "SplitButton", "Window",      "Pane",         "Header",
    "HeaderItem", "Table",   "TitleBar",  "Separator",   "SemanticZoom", "AppBar",
};
constexpr int32_t kControlTypeCount = static_cast<int32_t>(sizeof kControlTypeNames / sizeof kControlTypeNames[0]);

}  // namespace

WindowTreeQuery BuildTreeQuery(const nlohmann::json& args, int32_t originX, int32_t originY) {
    WindowTreeQuery q;
    q.window = ArgString(args, "window").value_or("");
    q.depth = std::clamp(ArgInt(args, "depth").value_or(kTreeDepthDefault), kTreeDepthMin, kTreeDepthMax);
    q.maxNodes = std::clamp(ArgInt(args, "maxNodes").value_or(kTreeNodesDefault), kTreeNodesMin, kTreeNodesMax);
    q.nameContains = ArgString(args, "nameContains").value_or("");
    q.originX = originX;
    q.originY = originY;
    return q;
}

std::string TreeAuditDetail(const WindowTreeQuery& query) {
    return "ui-tree window=" + (query.window.empty() ? std::string("foreground") : query.window) +
           " depth=" + std::to_string(query.depth);
}

std::pair<int32_t, int32_t> DesktopPointOf(const nlohmann::json& args, int32_t originX, int32_t originY) {
    int64_t x = static_cast<int64_t>(ArgInt(args, "x").value_or(0)) + originX;
    int64_t y = static_cast<int64_t>(ArgInt(args, "y").value_or(0)) + originY;
    return {SaturateToInt32(x), SaturateToInt32(y)};
}

std::string ControlTypeName(int32_t id) {
    int64_t index = static_cast<int64_t>(id) - kFirstControlType;
    if (index < 0 || index >= kControlTypeCount) return "Custom";
    return kControlTypeNames[index];
}

}  // namespace training
}  // namespace sv
