#include <gtest/gtest.h>

#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "training/win32/uia_walk.h"
#include "training/win32/window_naming.h"

namespace {

using namespace sv::training;
using nlohmann::json;

// A scripted element tree.
struct FakeNode {
    CachedNode props;
    std::optional<Box> liveBox;
    bool skip = false;
    std::vector<std::shared_ptr<FakeNode>> kids;
    std::weak_ptr<FakeNode> parent;
};
using Node = std::shared_ptr<FakeNode>;

Node Make(const std::string& name, const std::string& type, std::vector<Node> kids = {}) {
    auto n = std::make_shared<FakeNode>();
    n->props.name = name;
    n->props.controlType = type;
    n->kids = std::move(kids);
    for (Node& k : n->kids) k->parent = n;
    return n;
}
FakeNode& F(const UiaNode& n) { return *static_cast<FakeNode*>(n.get()); }

TreeWalk WalkOver(int32_t depth, int32_t nodes, const std::string& nameContains = "") {
    TreeWalk walk;
    walk.source.read = [](const UiaNode& n) { return F(n).props; };
    walk.source.children = [](const UiaNode& n, size_t cap) {
        std::vector<UiaNode> out;
        for (const Node& k : F(n).kids) {
            if (out.size() == cap) break;
            out.push_back(k);
        }
        return out;
    };
    walk.source.hasChild = [](const UiaNode& n) { return !F(n).kids.empty(); };
    walk.source.containsNoCase = [](const std::string& text, const std::string& needle) {
        auto lower = [](std::string s) {
            for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            return s;
        };
        return !needle.empty() && lower(text).find(lower(needle)) != std::string::npos;
    };
    walk.depthLimit = depth;
    walk.nodeLimit = nodes;
    walk.nameContains = nameContains;
    return walk;
}

TEST(UiaWalk, Utf8Prefix) {
    const struct {
        std::string in;
        size_t n;
        std::string out;
    } cases[] = {
        {"abc", 3, "abc"},
        {"abcd", 3, "abc\xE2\x80\xA6"},
        {"", 0, ""},
        {"\xC3\xA9t\xC3\xA9", 2, "\xC3\xA9t\xE2\x80\xA6"},  // never splits a character
        {"\xF0\x9F\x98\x80\xF0\x9F\x98\x80", 1, "\xF0\x9F\x98\x80\xE2\x80\xA6"},
    };
    for (const auto& c : cases) EXPECT_EQ(Utf8Prefix(c.in, c.n), c.out) << c.in;
}

TEST(UiaWalk, WindowSelector) {
    using K = WindowSelector::Kind;
    const struct {
        std::string in;
        K kind;
        int64_t handle;
    } cases[] = {
        {"", K::Foreground, 0},
        {"FOREGROUND", K::Foreground, 0},
        {"0042", K::Handle, 42},
        {"9223372036854775807", K::Handle, std::numeric_limits<int64_t>::max()},
        {"9223372036854775808", K::Nothing, 0},
        {"123456789012345678901234567890", K::Nothing, 0},
        {"12a", K::Title, 0},
        {"-5", K::Title, 0},
        {"Notepad", K::Title, 0},
    };
    for (const auto& c : cases) {
        WindowSelector s = ParseWindowSelector(c.in);
        EXPECT_EQ(s.kind, c.kind) << c.in;
        EXPECT_EQ(s.handle, c.handle) << c.in;
        if (c.kind == K::Title) {
            EXPECT_EQ(s.title, c.in);
        }
    }
    EXPECT_EQ(NoWindowMatches(""), "no window matches 'foreground'");
    EXPECT_EQ(NoWindowMatches("99999999999999999999"), "no window matches '99999999999999999999'");
}

TEST(UiaWalk, ValuesAreKeptOnlyForUnmaskedTextControls) {
    const std::string longValue(200, 'x');
    const std::string cut = std::string(120, 'x') + "\xE2\x80\xA6";
    const struct {
        int32_t type;
        bool password;
        std::optional<std::string> raw;
        std::optional<std::string> tree, element;
    } cases[] = {
        {kControlTypeEdit, false, longValue, cut, cut},
        {kControlTypeEdit, true, std::string("rahasia"), std::nullopt, std::nullopt},
        {kControlTypeComboBox, false, std::string(""), std::string(""), std::string("")},
        {kControlTypeSpinner, false, std::string("5"), std::string("5"), std::nullopt},
        {50000, false, std::string("OK"), std::nullopt, std::nullopt},
        {kControlTypeEdit, false, std::nullopt, std::nullopt, std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TreeNodeValue(c.type, c.password, c.raw), c.tree) << c.type;
        EXPECT_EQ(ElementValue(c.type, c.password, c.raw), c.element) << c.type;
    }
}

TEST(UiaWalk, TreeShapes) {
    auto twoButtons = [] { return std::vector<Node>{Make("OK", "Button"), Make("Batal", "Button")}; };
    struct Case {
        const char* name;
        Node root;
        int32_t depth, nodes;
        std::string tree;
        uint32_t counted;
        bool truncated;
    };
    Node offscreen = Make("Tersembunyi", "Button", {Make("Anak", "Text")});
    offscreen->props.offscreen = true;
    Node offscreenRoot = Make("Root", "Window", {Make("A", "Text")});
    offscreenRoot->props.offscreen = true;
    Node details = Make("Nama", "Edit");
    details->props.automationId = std::string(70, 'i');
    details->props.enabled = false;
    details->props.value = std::string("isi");
    details->props.rect = Box{-1900, 300, 10, 20};
    const Case cases[] = {
        {"unnamed pane below the root hands up its children",
         Make("W", "Window", {Make(" \t", "Pane", twoButtons())}), 6, 250,
         R"({"children":[{"name":"OK","type":"Button"},{"name":"Batal","type":"Button"}],"name":"W","type":"Window"})",
         4, false},
        {"unnamed pane as the root stays a node", Make("", "Pane", twoButtons()), 6, 250,
         R"({"children":[{"name":"OK","type":"Button"},{"name":"Batal","type":"Button"}],"name":"","type":"Pane"})",
         3, false},
        {"named group stays", Make("W", "Window", {Make("Grup", "Group", {Make("A", "Text")})}), 6, 250,
         R"({"children":[{"children":[{"name":"A","type":"Text"}],"name":"Grup","type":"Group"}],"name":"W","type":"Window"})",
         3, false},
        {"node limit of one", Make("W", "Window", twoButtons()), 6, 1, R"({"name":"W","type":"Window"})", 1, true},
        {"node limit cuts between siblings", Make("W", "Window", twoButtons()), 6, 2,
         R"({"children":[{"name":"OK","type":"Button"}],"name":"W","type":"Window"})", 2, true},
        {"depth limit with children below", Make("W", "Window", {Make("G", "Group", {Make("A", "Text")})}), 1, 250,
         R"({"children":[{"name":"G","type":"Group"}],"name":"W","type":"Window"})", 2, true},
        {"depth limit at a leaf", Make("W", "Window", {Make("A", "Text")}), 1, 250,
         R"({"children":[{"name":"A","type":"Text"}],"name":"W","type":"Window"})", 2, false},
        {"offscreen element goes with its subtree", Make("W", "Window", {offscreen, Make("A", "Text")}), 6, 250,
         R"({"children":[{"name":"A","type":"Text"}],"name":"W","type":"Window"})", 2, false},
        {"offscreen root is still read", offscreenRoot, 6, 250,
         R"({"children":[{"name":"A","type":"Text"}],"name":"Root","type":"Window"})", 2, false},
        {"id cut, rect from the origin, disabled, value", Make("W", "Window", {details}), 6, 250,
         R"({"children":[{"enabled":false,"id":")" + std::string(60, 'i') +
             "\xE2\x80\xA6" R"(","name":"Nama","rect":[20,300,10,20],"type":"Edit","value":"isi"}],"name":"W","type":"Window"})",
         2, false},
    };
    for (const Case& c : cases) {
        TreeWalk walk = WalkOver(c.depth, c.nodes);
        walk.originX = -1920;
        json tree = ElementTreeToJson(walk, c.root, 0);
        EXPECT_EQ(tree.dump(), c.tree) << c.name;
        EXPECT_EQ(walk.nodes, c.counted) << c.name;
        EXPECT_EQ(walk.truncated, c.truncated) << c.name;
    }
}

TEST(UiaWalk, RectanglesNeverOverflow) {
    Node root = Make("W", "Window");
    root->props.rect = Box{std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max(), 1, 1};
    TreeWalk walk = WalkOver(6, 250);
    walk.originX = 1;
    walk.originY = -1;
    json tree = ElementTreeToJson(walk, root, 0);
    EXPECT_EQ(tree["rect"].dump(), "[-2147483649,2147483648,1,1]");
}

TEST(UiaWalk, NameSearch) {
    Node save = Make("Simpan", "Button");
    save->props.rect = Box{10, 10, 5, 5};
    Node byId = Make("", "Edit");
    byId->props.automationId = "simpanNama";
    byId->props.enabled = false;
    Node deep = Make("simpan dalam", "Text");
    Node chain = deep;
    for (int i = 0; i < 7; ++i) chain = Make("", "Pane", {chain});  // deep sits 8 levels down
    Node root = Make("Dokumen", "Window", {Make("", "Pane", {save, byId}), chain});

    TreeWalk walk = WalkOver(1, 250, "SIMPAN");
    ElementPath(walk, root, "", 0);
    EXPECT_EQ(walk.matches.dump(),
              R"([{"enabled":true,"name":"Simpan","path":"Window 'Dokumen' > Pane","rect":[10,10,5,5],"type":"Button"},)"
              R"({"enabled":false,"id":"simpanNama","name":"","path":"Window 'Dokumen' > Pane","type":"Edit"}])");
    EXPECT_FALSE(walk.truncated);

    TreeWalk deeper = WalkOver(2, 250, "simpan");  // 2 + 6 reaches depth 8
    ElementPath(deeper, root, "", 0);
    EXPECT_EQ(deeper.matches.size(), 3u);

    TreeWalk capped = WalkOver(6, 2, "simpan");
    ElementPath(capped, root, "", 0);
    EXPECT_TRUE(capped.truncated);
    EXPECT_EQ(capped.nodes, 2u);
}

// Point refinement over boxes: a window 0..100 holding a panel 0..50 holding a button 10..20.
struct PointTree {
    Node window = Make("W", "Window");
    Node panel = Make("P", "Pane");
    Node button = Make("B", "Button");
    Node other = Make("O", "Text");
    PointSource source;
    PointTree() {
        window->liveBox = Box{0, 0, 100, 100};
        panel->liveBox = Box{0, 0, 50, 50};
        button->liveBox = Box{10, 10, 10, 10};
        other->liveBox = Box{200, 200, 10, 10};
        window->kids = {panel};
        panel->parent = window;
        panel->kids = {button};
        button->parent = panel;
        source.box = [](const UiaNode& n) { return F(n).liveBox; };
        source.parent = [](const UiaNode& n) -> UiaNode { return F(n).parent.lock(); };
        source.children = [](const UiaNode& n, size_t) { return std::vector<UiaNode>(F(n).kids.begin(), F(n).kids.end()); };
        source.skip = [](const UiaNode& n) { return F(n).skip; };
    }
};

TEST(UiaWalk, RefinementAtAPoint) {
    {
        PointTree t;  // the point element holds the point: taken as it is
        EXPECT_EQ(RefineElementAtPoint(t.panel, 15, 15, nullptr, t.source).get(), t.panel.get());
    }
    {
        PointTree t;  // a stray point element: climb, then descend to the smallest
        t.other->parent = t.window;
        EXPECT_EQ(RefineElementAtPoint(t.other, 15, 15, nullptr, t.source).get(), t.button.get());
    }
    {
        PointTree t;  // no parent holds the point: the window element as fallback
        EXPECT_EQ(RefineElementAtPoint(t.other, 15, 15, t.window, t.source).get(), t.button.get());
        EXPECT_EQ(RefineElementAtPoint(t.other, 500, 500, t.window, t.source).get(), nullptr);
        EXPECT_EQ(RefineElementAtPoint(nullptr, 15, 15, t.window, t.source).get(), t.button.get());
    }
    {
        PointTree t;  // right and bottom edges are outside; skipped children are not chosen
        EXPECT_EQ(RefineElementAtPoint(t.other, 20, 15, t.window, t.source).get(), t.panel.get());
        t.button->skip = true;
        EXPECT_EQ(RefineElementAtPoint(t.other, 15, 15, t.window, t.source).get(), t.panel.get());
    }
    {
        PointTree t;  // equal areas: the later child wins; the visit limit stops the descent
        Node twin = Make("B2", "Button");
        twin->liveBox = Box{10, 10, 10, 10};
        t.panel->kids.push_back(twin);
        EXPECT_EQ(RefineElementAtPoint(t.other, 15, 15, t.window, t.source).get(), twin.get());
        EXPECT_EQ(RefineElementAtPoint(t.other, 15, 15, t.window, t.source, 14, 2).get(), t.button.get());
        EXPECT_EQ(RefineElementAtPoint(t.other, 15, 15, t.window, t.source, 14, 1).get(), t.panel.get());
    }
    {
        PointTree t;  // a parent chain that never holds the point stops after 64 steps
        Node top = Make("far", "Pane");
        top->liveBox = Box{500, 500, 1, 1};
        Node below = top;
        for (int i = 0; i < 70; ++i) {
            Node n = Make("n" + std::to_string(i), "Pane");
            n->liveBox = Box{500, 500, 1, 1};
            n->parent = below;
            below->kids = {n};
            below = n;
        }
        UiaNode got = RefineElementAtPoint(below, 15, 15, t.window, t.source);
        ASSERT_NE(got.get(), nullptr);
        EXPECT_EQ(F(got).props.name, "n5");  // 70 below the top, 64 steps up
    }
}

TEST(WindowNaming, ImageNameFromPath) {
    const struct {
        std::string in, out;
    } cases[] = {
        {"C:\\Program Files\\App\\App.EXE", "App"},
        {"C:/x/notepad.exe", "notepad"},
        {"C:\\x\\.exe", ".exe"},
        {"C:\\x\\a.exe.txt", "a.exe.txt"},
        {"plain", "plain"},
        {"C:\\x\\", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(ImageNameFromPath(c.in), c.out) << c.in;
}

}  // namespace
