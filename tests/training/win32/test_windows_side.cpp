#include <gtest/gtest.h>

#include <windows.h>
#include <tlhelp32.h>

#include <future>
#include <set>

#include "base/text_encoding.h"
#include "training/win32/activity_monitor.h"
#include "training/win32/uia_inspector.h"
#include "training/win32/window_info.h"

namespace {

using namespace sv::training;

// A visible top-level window of this process with a title of its own.
class TestWindow {
public:
    explicit TestWindow(const std::wstring& title, bool visible = true) {
        WNDCLASSW wc{};
        wc.lpfnWndProc = DefWindowProcW;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"SvWindowInfoTest";
        RegisterClassW(&wc);
        hwnd_ = CreateWindowExW(0, L"SvWindowInfoTest", title.c_str(), WS_OVERLAPPEDWINDOW, 30, 40, 320, 200,
                                nullptr, nullptr, wc.hInstance, nullptr);
        if (visible) ShowWindow(hwnd_, SW_SHOWNOACTIVATE);
    }
    ~TestWindow() { DestroyWindow(hwnd_); }
    HWND hwnd() const { return hwnd_; }
    uint64_t handle() const { return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(hwnd_)); }

private:
    HWND hwnd_ = nullptr;
};

TEST(WindowInfo, DescribesAWindowOfThisProcess) {
    TestWindow window(L"Jendela uji \u00C4rger");
    ASSERT_NE(window.hwnd(), nullptr);
    std::optional<WindowInfo> info = DescribeWindow(window.handle());
    ASSERT_TRUE(info.has_value());
    EXPECT_EQ(info->title, "Jendela uji \xC3\x84rger");
    EXPECT_EQ(info->className, "SvWindowInfoTest");
    EXPECT_EQ(info->processId, GetCurrentProcessId());
    EXPECT_EQ(info->process, "test_training");
    EXPECT_EQ(info->rect.width, 320);
    EXPECT_EQ(info->rect.height, 200);
    EXPECT_EQ(info->owner, 0u);
    EXPECT_FALSE(DescribeWindow(0).has_value());
}

TEST(WindowInfo, FindsWindowsByTitleInAnyCase) {
    TestWindow shown(L"Sorvane Uji \u00C4RGER cari");
    TestWindow hidden(L"Sorvane Uji \u00C4RGER cari", false);
    std::vector<WindowInfo> found = FindWindowByTitle("uji \xC3\xA4rger");
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].hwnd, shown.handle());
    bool listed = false;
    for (const WindowInfo& w : FindWindowByTitle("")) listed = listed || w.hwnd == shown.handle();
    EXPECT_TRUE(listed);
    EXPECT_TRUE(ContainsNoCase("Tombol \xC3\x84rger", "\xC3\xA4RGER"));
    EXPECT_FALSE(ContainsNoCase("Tombol", ""));
}

TEST(WindowInfo, TreeQueriesNeverNameThisProcessOrAnOverflowingHandle) {
    TestWindow window(L"Sorvane pohon uji");
    const struct {
        std::string selector;
        std::string error;
    } cases[] = {
        {"pohon uji", "no window matches 'pohon uji'"},
        {"18446744073709551616", "no window matches '18446744073709551616'"},
        {"0", "no window matches '0'"},
    };
    std::unique_ptr<IUiInspector> inspector = MakeUiaInspector();
    for (const auto& c : cases) {
        WindowTreeQuery query;
        query.window = c.selector;
        auto answer = inspector->QueryTree(query, 20000);
        EXPECT_TRUE(answer.first.is_null()) << c.selector;
        EXPECT_EQ(answer.second, c.error) << c.selector;
    }
}

std::set<DWORD> ThreadsOfThisProcess() {
    std::set<DWORD> ids;
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Thread32First(snap, &entry); more; more = Thread32Next(snap, &entry)) {
        if (entry.th32OwnerProcessID == GetCurrentProcessId()) ids.insert(entry.th32ThreadID);
    }
    CloseHandle(snap);
    return ids;
}

// Threads that run now and did not before (threads of earlier tests may still be leaving).
size_t NewThreads(const std::set<DWORD>& before) {
    size_t n = 0;
    for (DWORD id : ThreadsOfThisProcess()) n += before.count(id) ? 0 : 1;
    return n;
}

TEST(ActivityMonitor, StartsOneHookThreadAndOneWorkerAndJoinsThem) {
    std::unique_ptr<IActivitySource> monitor = MakeActivityMonitor();
    const std::set<DWORD> before = ThreadsOfThisProcess();
    monitor->Stop();  // never started: nothing happens
    EXPECT_EQ(NewThreads(before), 0u);
    monitor->Start();
    monitor->Start();
    EXPECT_EQ(NewThreads(before), 2u);
    monitor->Stop();
    EXPECT_EQ(NewThreads(before), 0u);
    monitor->Start();  // a stopped monitor starts again; the destructor stops it
    EXPECT_EQ(NewThreads(before), 2u);
}

}  // namespace

namespace {

TEST(ActivityMonitor, ACallbackMayDestroyItsOwnMonitor) {
    ActivityInterpreter interpreter;
    interpreter.flush = [](int64_t) {
        return std::vector<Activity>{{"keyboard", "typing", {}, {}, "", 1}};
    };
    std::unique_ptr<IActivitySource> monitor = MakeActivityMonitor(interpreter);
    std::promise<std::string> outcome;
    std::atomic<bool> once{false};
    monitor->OnActivity = [&](const Activity&) {
        if (once.exchange(true)) return;
        try {
            monitor.reset();  // the session ends from inside the monitor's own callback
            outcome.set_value("destroyed");
        } catch (const std::exception& e) {
            outcome.set_value(e.what());
        }
    };
    monitor->Start();
    std::future<std::string> result = outcome.get_future();
    ASSERT_EQ(result.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    EXPECT_EQ(result.get(), "destroyed");
}

}  // namespace
