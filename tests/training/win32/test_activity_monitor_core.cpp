#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <map>
#include <set>

#include "training/training_fakes.h"
#include "training/win32/activity_monitor_core.h"

namespace {

using namespace sv::training;
using sv_test::ActivityRecord;
using sv_test::FakeActivitySource;

constexpr uint32_t kOwnPid = 4242;

// A recording interpreter: each entry point reports itself at once.
ActivityInterpreter RecordingInterpreter() {
    ActivityInterpreter in;
    in.keyDown = [](uint32_t vk, bool c, bool a, bool w, int64_t) {
        std::string mods = std::string(c ? "ctrl+" : "") + (a ? "alt+" : "") + (w ? "win+" : "");
        return std::vector<Activity>{{"keyboard", "key", {}, {}, mods + std::to_string(vk), {}}};
    };
    in.buttonDown = [](const std::string& b, int32_t x, int32_t y, int64_t) {
        return std::vector<Activity>{{"mouse", b, x, y, "", {}}};
    };
    in.wheel = [](int32_t x, int32_t y, int64_t) { return std::vector<Activity>{{"mouse", "wheel", x, y, "", {}}}; };
    in.flush = [](int64_t) {
        return std::vector<Activity>{{"keyboard", "typing", {}, {}, "", 3}, {"mouse", "wheel", 1, 2, "", 1}};
    };
    return in;
}

// A core over a real callback worker, an interpreter, a scripted window system and a
// clock the test sets.
struct Rig {
    std::shared_ptr<ActivityRecord> record = std::make_shared<ActivityRecord>();
    FakeActivitySource source{record};
    CallbackWorker worker{kMaxWaitingCallbacks};
    std::map<uint64_t, WindowInfo> windows;  // what describe finds when the task runs
    std::set<uint64_t> roots;                // visible root windows
    std::set<uint64_t> owned;
    std::unique_ptr<ActivityMonitorCore> core;
    int64_t clockMs = 1000;
    std::function<void()> beforeDescribe;  // on the worker, as a window query begins
    std::atomic<bool> workerLeft{false};   // the worker's thread has run its last task

    explicit Rig(ActivityInterpreter in = RecordingInterpreter()) {
        WindowQueries q;
        q.isVisibleRoot = [this](uint64_t h) { return roots.count(h) > 0; };
        q.hasOwner = [this](uint64_t h) { return owned.count(h) > 0; };
        q.className = [this](uint64_t h) { return windows.count(h) ? windows[h].className : std::string(); };
        q.describe = [this](uint64_t h) -> std::optional<WindowInfo> {
            if (beforeDescribe) beforeDescribe();
            auto it = windows.find(h);
            if (it == windows.end()) return std::nullopt;
            return it->second;
        };
        q.ownProcessId = kOwnPid;
        core = std::make_unique<ActivityMonitorCore>(source, worker, in, q, [this] { return clockMs; });
        source.OnTraineeActive = [this] { record->log.Add("active"); };
        source.OnActivity = [this](const Activity& a) {
            std::string where = a.x ? "@" + std::to_string(*a.x) + "," + std::to_string(*a.y) : "";
            record->log.Add(a.action + (a.key.empty() ? "" : " " + a.key) + where);
        };
        source.OnForeground = [this](const WindowInfo& w) { record->log.Add("foreground " + std::to_string(w.hwnd)); };
        source.OnDialog = [this](const WindowInfo& w) { record->log.Add("dialog " + std::to_string(w.hwnd)); };
        worker.Start(nullptr, [this] { workerLeft = true; });
    }
    // The worker's tasks read the maps below: it ends before they go.
    ~Rig() { worker.Stop(); }

    void AddWindow(uint64_t hwnd, const std::string& title, const std::string& cls, int32_t w, int32_t h,
                   uint32_t pid = 7) {
        WindowInfo info;
        info.hwnd = hwnd;
        info.title = title;
        info.className = cls;
        info.processId = pid;
        info.rect = Box{0, 0, w, h};
        windows[hwnd] = info;
        roots.insert(hwnd);
    }

    // Everything the callbacks saw, once every task posted so far has run.
    std::vector<std::string> Seen() {
        std::promise<void> done;
        worker.Post([&done] { done.set_value(); });
        done.get_future().wait_for(std::chrono::seconds(10));
        return record->log.Calls();
    }
};

struct InputEvent {
    bool keyboard;
    uint32_t message;
    uint32_t code;  // virtual key for the keyboard
    uint32_t flags;
    int64_t at;
};

struct InputCase {
    const char* name;
    std::vector<InputEvent> events;
    std::vector<std::string> seen;
};

TEST(ActivityMonitorCore, InputRules) {
    const uint32_t kUp = 257, kMove = 512, kLeftUp = 514, kHWheel = 526;
    const InputCase cases[] = {
        {"left click", {{false, kMsgLeftDown, 0, 0, 1000}}, {"active", "left@10,20"}},
        {"right click", {{false, kMsgRightDown, 0, 0, 1000}}, {"active", "right@10,20"}},
        {"middle click", {{false, kMsgMiddleDown, 0, 0, 1000}}, {"active", "middle@10,20"}},
        {"wheel", {{false, kMsgWheel, 0, 0, 1000}}, {"active", "wheel@10,20"}},
        {"move, button up and horizontal wheel only count as activity",
         {{false, kMove, 0, 0, 1000}, {false, kLeftUp, 0, 0, 2000}, {false, kHWheel, 0, 0, 3000}},
         {"active", "active", "active"}},
        {"injected mouse input", {{false, kMsgLeftDown, 0, 1, 1000}, {false, kMove, 0, 2, 2000}}, {}},
        {"key down and up", {{true, kMsgKeyDown, 65, 0, 1000}, {true, kUp, 65, 0, 2000}}, {"active", "key 65", "active"}},
        {"system key down", {{true, kMsgSysKeyDown, 115, 0, 1000}}, {"active", "key 115"}},
        {"injected keys", {{true, kMsgKeyDown, 65, 0x10, 1000}, {true, kMsgKeyDown, 65, 0x02, 2000}}, {}},
        {"injected control still makes the trainee's S a chord",
         {{true, kMsgKeyDown, 162, 0x10, 1000}, {true, kMsgKeyDown, 83, 0, 2000}},
         {"active", "key ctrl+83"}},
        {"released modifiers leave the chord",
         {{true, kMsgKeyDown, 17, 0, 1000},
          {true, kMsgKeyDown, 164, 0, 2000},
          {true, kMsgKeyDown, 91, 0, 3000},
          {true, kMsgKeyDown, 69, 0, 4000},
          {true, kUp, 17, 0, 5000},
          {true, kUp, 164, 0x10, 6000},
          {true, kUp, 91, 0, 7000},
          {true, kMsgKeyDown, 69, 0, 8000}},
         {"active", "key ctrl+17", "active", "key ctrl+alt+164", "active", "key ctrl+alt+win+91", "active",
          "key ctrl+alt+win+69", "active", "active", "active", "key 69"}},
        {"one active notice per 150 ms",
         {{false, kMove, 0, 0, 1000}, {false, kMove, 0, 0, 1149}, {false, kMove, 0, 0, 1150}, {true, kUp, 65, 0, 1299}},
         {"active", "active"}},
    };
    for (const InputCase& c : cases) {
        Rig rig;
        for (const InputEvent& e : c.events) {
            rig.clockMs = e.at;
            if (e.keyboard) {
                rig.core->OnKeyboard(e.message, e.code, e.flags);
            } else {
                rig.core->OnMouse(e.message, e.flags, 10, 20);
            }
        }
        EXPECT_EQ(rig.Seen(), c.seen) << c.name;
    }
}

TEST(ActivityMonitorCore, TimerFlushPostsEachActivityInOrder) {
    Rig rig;
    rig.core->OnTimer();
    EXPECT_EQ(rig.Seen(), (std::vector<std::string>{"typing", "wheel@1,2"}));
}

struct WindowCase {
    const char* name;
    uint32_t event;
    std::string title;
    std::string className;
    int32_t width, height;
    uint32_t pid;
    bool root, owner;
    int32_t objectId, childId;
    bool reported;
};

TEST(ActivityMonitorCore, WindowEventFilter) {
    const uint32_t kDlg = kEventDialogStart, kShow = kEventObjectShow, kFg = kEventForeground;
    const WindowCase cases[] = {
        {"dialog start", kDlg, "Simpan", "Notepad", 100, 100, 7, true, false, 0, 0, true},
        {"shown dialog box without owner", kShow, "Simpan", "#32770", 100, 100, 7, true, false, 0, 0, true},
        {"shown unowned ordinary window", kShow, "Simpan", "Notepad", 100, 100, 7, true, false, 0, 0, false},
        {"shown owned window at the minimum size", kShow, "Simpan", "Notepad", 40, 30, 7, true, true, 0, 0, true},
        {"39 pixels wide", kDlg, "Simpan", "Notepad", 39, 30, 7, true, false, 0, 0, false},
        {"29 pixels high", kDlg, "Simpan", "Notepad", 40, 29, 7, true, false, 0, 0, false},
        {"untitled ordinary window", kDlg, "", "Notepad", 100, 100, 7, true, false, 0, 0, false},
        {"untitled dialog box", kDlg, "", "#32770", 100, 100, 7, true, false, 0, 0, true},
        {"popup menu", kShow, "m", "#32768", 100, 100, 7, true, true, 0, 0, false},
        {"tooltip", kShow, "t", "tooltips_class32", 100, 100, 7, true, true, 0, 0, false},
        {"shadow", kShow, "s", "SysShadow", 100, 100, 7, true, true, 0, 0, false},
        {"drop-down list", kShow, "l", "ComboLBox", 100, 100, 7, true, true, 0, 0, false},
        {"input method", kShow, "i", "IME", 100, 100, 7, true, true, 0, 0, false},
        {"text service", kShow, "i", "MSCTFIME UI", 100, 100, 7, true, true, 0, 0, false},
        {"own process", kDlg, "Simpan", "#32770", 100, 100, kOwnPid, true, false, 0, 0, false},
        {"not a visible root", kDlg, "Simpan", "#32770", 100, 100, 7, false, false, 0, 0, false},
        {"a child object", kDlg, "Simpan", "#32770", 100, 100, 7, true, false, 0, 1, false},
        {"a non-window object", kDlg, "Simpan", "#32770", 100, 100, 7, true, false, -4, 0, false},
        {"foreground of another process", kFg, "", "X", 1, 1, 7, false, false, 0, 0, true},
        {"foreground of this process", kFg, "", "X", 1, 1, kOwnPid, false, false, 0, 0, false},
    };
    for (const WindowCase& c : cases) {
        Rig rig;
        rig.AddWindow(77, c.title, c.className, c.width, c.height, c.pid);
        if (!c.root) rig.roots.erase(77);
        if (c.owner) rig.owned.insert(77);
        rig.core->OnWinEvent(c.event, 77, c.objectId, c.childId);
        std::vector<std::string> expected;
        if (c.reported) expected.push_back(std::string(c.event == kFg ? "foreground" : "dialog") + " 77");
        EXPECT_EQ(rig.Seen(), expected) << c.name;
    }
}

TEST(ActivityMonitorCore, WindowGoneOrNullIsNotReported) {
    Rig rig;
    rig.AddWindow(77, "Simpan", "#32770", 100, 100);
    rig.windows.erase(77);  // closed before the task ran
    rig.core->OnWinEvent(kEventDialogStart, 77, 0, 0);
    rig.core->OnWinEvent(kEventForeground, 77, 0, 0);
    rig.core->OnWinEvent(kEventForeground, 0, 0, 0);
    EXPECT_TRUE(rig.Seen().empty());
}

TEST(ActivityMonitorCore, DialogRepeatsWithinTwoSecondsAreDropped) {
    const struct {
        int64_t gap;
        size_t reports;
    } cases[] = {{1999, 1}, {2000, 2}};
    for (const auto& c : cases) {
        Rig rig;
        rig.AddWindow(77, "Simpan", "#32770", 100, 100);
        rig.core->OnWinEvent(kEventDialogStart, 77, 0, 0);
        rig.clockMs += c.gap;
        rig.core->OnWinEvent(kEventObjectShow, 77, 0, 0);
        EXPECT_EQ(rig.Seen().size(), c.reports) << c.gap;
    }
}

TEST(ActivityMonitorCore, DialogMemoryIsPrunedPastSixtyFour) {
    const struct {
        int64_t lastAt;
        size_t remembered;
    } cases[] = {{10000, 65}, {10001, 1}};  // after the first 64
    for (const auto& c : cases) {
        Rig rig;
        for (uint64_t h = 1; h <= 65; ++h) rig.AddWindow(h, "Simpan", "#32770", 100, 100);
        for (uint64_t h = 1; h <= 64; ++h) rig.core->OnWinEvent(kEventDialogStart, h, 0, 0);
        EXPECT_EQ(rig.core->RememberedDialogs(), 64u);
        rig.clockMs += c.lastAt;
        rig.core->OnWinEvent(kEventDialogStart, 65, 0, 0);
        EXPECT_EQ(rig.core->RememberedDialogs(), c.remembered) << c.lastAt;
    }
}

// A clock that steps back (as the wall clock does when the time is synchronised) costs at
// most one interval: the trainee's next input is noticed, an idle typing run still ends and a
// dialog shown again is reported, instead of all three waiting out the step.
TEST(ActivityMonitorCore, AClockThatStepsBackSilencesNothing) {
    enum Kind { Move, Key, Tick, Dialog };
    struct Step {
        Kind kind;
        int64_t at;
    };
    constexpr int64_t kT = 5000000, kBack = kT - 3600000;  // an hour back
    const struct {
        const char* name;
        std::vector<Step> steps;
        std::vector<std::string> seen;
    } cases[] = {
        {"trainee-active notice", {{Move, kT}, {Move, kBack}, {Move, kBack + 150}}, {"active", "active"}},
        {"typing run flushed", {{Key, kT}, {Tick, kBack}, {Tick, kBack + 900}}, {"active", "typing"}},
        {"dialog repeat", {{Dialog, kT}, {Dialog, kBack}, {Dialog, kBack + 2000}}, {"dialog 77", "dialog 77"}},
    };
    const uint32_t kMove = 512;
    for (const auto& c : cases) {
        Rig rig(DefaultActivityInterpreter());
        rig.AddWindow(77, "Simpan", "#32770", 100, 100);
        for (const Step& s : c.steps) {
            rig.clockMs = s.at;
            switch (s.kind) {
                case Move: rig.core->OnMouse(kMove, 0, 10, 20); break;
                case Key: rig.core->OnKeyboard(kMsgKeyDown, 'A', 0); break;
                case Tick: rig.core->OnTimer(); break;
                case Dialog: rig.core->OnWinEvent(kEventDialogStart, 77, 0, 0); break;
            }
        }
        EXPECT_EQ(rig.Seen(), c.seen) << c.name;
    }
}

}  // namespace

namespace {

// Every session's end stops its monitor: within a bound, whatever the worker is doing (a
// callback or a window query that does not return), and what outlives the bound never
// reaches the monitor's callbacks again.
TEST(ActivityMonitorCore, AStopIsBoundedAndWhatOutlivesItReachesNothing) {
    {  // a callback that does not return
        Rig rig;
        sv_test::Latch latch;
        std::atomic<bool> returned{false};
        rig.source.OnTraineeActive = [&] {
            latch.Hold();
            returned = true;
        };
        rig.core->OnKeyboard(kMsgKeyDown, 65, 0);
        ASSERT_TRUE(latch.WaitHeld());
        EXPECT_FALSE(rig.core->EndCallbacks(std::chrono::milliseconds(50)));
        EXPECT_FALSE(returned.load());  // the stop did not wait for it
        latch.Open();
        ASSERT_TRUE(sv_test::WaitUntil([&] { return returned.load() && rig.workerLeft.load(); }));
    }
    {  // a window query that does not return
        Rig rig;
        sv_test::Latch latch;
        rig.AddWindow(5, "Simpan", "#32770", 300, 200);
        rig.beforeDescribe = [&latch] { latch.Hold(); };
        rig.core->OnWinEvent(kEventForeground, 5, 0, 0);
        ASSERT_TRUE(latch.WaitHeld());
        EXPECT_FALSE(rig.core->EndCallbacks(std::chrono::milliseconds(50)));
        // The monitor has moved on (freed, or set up for another session).
        rig.source.OnForeground = [&rig](const WindowInfo&) { rig.record->log.Add("late"); };
        latch.Open();
        ASSERT_TRUE(sv_test::WaitUntil([&] { return rig.workerLeft.load(); }));
        EXPECT_TRUE(rig.record->log.Calls().empty());
    }
}

}  // namespace
