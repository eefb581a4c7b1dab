#include "session/input/input_injection.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "base/system_library.h"
#include "session/host.h"
#include "session/input/input_records.h"

namespace {

using sv::InputPlatform;
using sv::InputState;

// Records every call the input code makes instead of touching the desktop.
struct FakeInput {
    std::mutex mutex;
    std::vector<std::vector<INPUT>> batches;
    std::vector<std::pair<bool, DWORD>> blockCalls;  // (on, calling thread)
    bool blockResult = true;
    bool unblockResult = true;
    uint32_t insertLimit = UINT32_MAX;  // events accepted per call

    InputPlatform Platform() {
        InputPlatform p;
        p.blockInput = [this](bool on) {
            std::lock_guard<std::mutex> lock(mutex);
            blockCalls.push_back({on, GetCurrentThreadId()});
            return on ? blockResult : unblockResult;
        };
        p.sendInput = [this](const INPUT* events, uint32_t count) {
            std::lock_guard<std::mutex> lock(mutex);
            batches.emplace_back(events, events + count);
            return count < insertLimit ? count : insertLimit;
        };
        return p;
    }
    std::vector<INPUT> AllEvents() {
        std::vector<INPUT> all;
        for (const auto& b : batches) all.insert(all.end(), b.begin(), b.end());
        return all;
    }
};

TEST(InputBlockTest, BlockAndReleaseFromDifferentThreadsUseOneThread) {
    FakeInput fake;
    {
        InputState state(fake.Platform());
        EXPECT_FALSE(state.IsBlocked());
        std::thread a([&] { EXPECT_TRUE(sv::SetInputBlockedOn(state, true)); });
        a.join();
        EXPECT_TRUE(state.IsBlocked());
        std::thread b([&] { sv::ReleaseInputBlock(state); });
        b.join();
        EXPECT_FALSE(state.IsBlocked());
    }
    ASSERT_EQ(fake.blockCalls.size(), 2u);
    EXPECT_TRUE(fake.blockCalls[0].first);
    EXPECT_FALSE(fake.blockCalls[1].first);
    EXPECT_EQ(fake.blockCalls[0].second, fake.blockCalls[1].second);
    EXPECT_NE(fake.blockCalls[0].second, GetCurrentThreadId());
}

TEST(InputBlockTest, RefusedBlockLeavesStateAlone) {
    FakeInput fake;
    fake.blockResult = false;
    InputState state(fake.Platform());
    EXPECT_FALSE(sv::SetInputBlockedOn(state, true));
    EXPECT_FALSE(state.IsBlocked());
}

TEST(InputBlockTest, ReleaseWithoutBlockDoesNotCallBlockInput) {
    FakeInput fake;
    {
        InputState state(fake.Platform());
        sv::ReleaseInputBlock(state);
        sv::ReleaseInputBlock(state);
    }
    EXPECT_TRUE(fake.blockCalls.empty());
}

TEST(InputBlockTest, FailedUnblockKeepsFlagSoALaterReleaseRetries) {
    FakeInput fake;
    InputState state(fake.Platform());
    ASSERT_TRUE(sv::SetInputBlockedOn(state, true));
    fake.unblockResult = false;
    sv::ReleaseInputBlock(state);
    EXPECT_TRUE(state.IsBlocked());
    fake.unblockResult = true;
    sv::ReleaseInputBlock(state);
    EXPECT_FALSE(state.IsBlocked());
    ASSERT_EQ(fake.blockCalls.size(), 3u);
    EXPECT_EQ(fake.blockCalls[0].second, fake.blockCalls[2].second);
}

TEST(InputBlockTest, UnblockRequestClearsFlagOnSuccess) {
    FakeInput fake;
    InputState state(fake.Platform());
    ASSERT_TRUE(sv::SetInputBlockedOn(state, true));
    ASSERT_TRUE(sv::SetInputBlockedOn(state, false));
    EXPECT_FALSE(state.IsBlocked());
    fake.blockResult = false;
    EXPECT_FALSE(sv::SetInputBlockedOn(state, true));
    EXPECT_FALSE(state.IsBlocked());
}

TEST(InputBlockTest, DestructionReleasesABlockOnItsOwnThread) {
    FakeInput fake;
    {
        InputState state(fake.Platform());
        ASSERT_TRUE(sv::SetInputBlockedOn(state, true));
    }
    ASSERT_EQ(fake.blockCalls.size(), 2u);
    EXPECT_FALSE(fake.blockCalls[1].first);
    EXPECT_EQ(fake.blockCalls[0].second, fake.blockCalls[1].second);
}

TEST(InputBlockTest, ConcurrentRequestsAllComplete) {
    FakeInput fake;
    InputState state(fake.Platform());
    std::vector<std::thread> threads;
    std::atomic<int> ok{0};
    for (int i = 0; i < 8; ++i) {
        threads.emplace_back([&, i] {
            for (int k = 0; k < 25; ++k) {
                if (sv::SetInputBlockedOn(state, (i + k) % 2 == 0)) ++ok;
                sv::ReleaseInputBlock(state);
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(ok.load(), 200);
    sv::ReleaseInputBlock(state);
    EXPECT_FALSE(state.IsBlocked());
    DWORD blocker = fake.blockCalls.front().second;
    for (const auto& call : fake.blockCalls) EXPECT_EQ(call.second, blocker);
}

TEST(InjectTest, PointerIsOneAbsoluteEvent) {
    FakeInput fake;
    InputState state(fake.Platform());
    EXPECT_TRUE(sv::InjectPointer(state, "down", 1.0, 1.0, "left", 1920, 1080));
    ASSERT_EQ(fake.batches.size(), 1u);
    ASSERT_EQ(fake.batches[0].size(), 1u);
    const INPUT& in = fake.batches[0][0];
    EXPECT_EQ(in.type, static_cast<DWORD>(INPUT_MOUSE));
    EXPECT_EQ(in.mi.dx, 65535);
    EXPECT_EQ(in.mi.dy, 65535);
    EXPECT_EQ(in.mi.dwFlags, 0xC003u);
}

TEST(InjectTest, PointerOnEmptyScreenSendsNothing) {
    FakeInput fake;
    InputState state(fake.Platform());
    EXPECT_FALSE(sv::InjectPointer(state, "move", 0.5, 0.5, "", 0, 1080));
    EXPECT_TRUE(fake.batches.empty());
}

TEST(InjectTest, PointerNotInsertedIsFailure) {
    FakeInput fake;
    fake.insertLimit = 0;
    InputState state(fake.Platform());
    EXPECT_FALSE(sv::InjectPointer(state, "move", 0.5, 0.5, "", 100, 100));
}

TEST(InjectTest, UnknownKeySendsNothing) {
    FakeInput fake;
    InputState state(fake.Platform());
    EXPECT_FALSE(sv::InjectKey(state, "numlock", {"ctrl"}));
    EXPECT_TRUE(fake.batches.empty());
}

TEST(InjectTest, KeyWithModifiersIsOneCall) {
    FakeInput fake;
    InputState state(fake.Platform());
    EXPECT_TRUE(sv::InjectKey(state, "Delete", {"Ctrl", "Alt"}));
    ASSERT_EQ(fake.batches.size(), 1u);
    std::vector<uint16_t> vks;
    for (const INPUT& in : fake.batches[0]) vks.push_back(in.ki.wVk);
    EXPECT_EQ(vks, (std::vector<uint16_t>{17, 18, 46, 46, 18, 17}));
}

TEST(InjectTest, KeyPartlyInsertedIsFailure) {
    FakeInput fake;
    fake.insertLimit = 3;
    InputState state(fake.Platform());
    EXPECT_FALSE(sv::InjectKey(state, "a", {"shift"}));
}

TEST(InjectTest, LongTextGoesInBoundedBatchesInOrder) {
    FakeInput fake;
    InputState state(fake.Platform());
    std::string text;
    for (int i = 0; i < 5000; ++i) text += static_cast<char>('a' + i % 26);
    EXPECT_TRUE(sv::InjectText(state, text));
    EXPECT_GT(fake.batches.size(), 1u);
    for (const auto& b : fake.batches) EXPECT_LE(b.size(), sv::kTextBatchEvents);
    std::vector<INPUT> all = fake.AllEvents();
    ASSERT_EQ(all.size(), 10000u);
    for (size_t i = 0; i < text.size(); ++i) {
        EXPECT_EQ(all[2 * i].ki.wScan, static_cast<uint16_t>(text[i]));
        EXPECT_EQ(all[2 * i].ki.dwFlags, 4u);
        EXPECT_EQ(all[2 * i + 1].ki.dwFlags, 6u);
        if (::testing::Test::HasFailure()) break;
    }
}

// Typing runs on the thread that received the request: a text past the cap is refused
// whole, never cut (typing only its start would type something else).
TEST(InjectTest, TextAboveTheCapIsRefusedWithoutTypingAnything) {
    FakeInput fake;
    InputState state(fake.Platform());
    EXPECT_TRUE(sv::InjectText(state, std::string(sv::kTypedTextCapBytes, 'a')));
    EXPECT_EQ(fake.AllEvents().size(), 2 * sv::kTypedTextCapBytes);
    fake.batches.clear();
    EXPECT_FALSE(sv::InjectText(state, std::string(sv::kTypedTextCapBytes + 1, 'a')));
    EXPECT_FALSE(sv::InjectText(state, std::string(32u << 20, 'a')));
    EXPECT_TRUE(fake.batches.empty());
}

TEST(InjectTest, TextStopsAtFirstShortBatch) {
    FakeInput fake;
    fake.insertLimit = 5;
    InputState state(fake.Platform());
    EXPECT_FALSE(sv::InjectText(state, std::string(1000, 'q')));
    EXPECT_EQ(fake.batches.size(), 1u);
}

TEST(InjectTest, EmptyOrCarriageReturnOnlyTextSucceedsWithoutSending) {
    FakeInput fake;
    InputState state(fake.Platform());
    EXPECT_TRUE(sv::InjectText(state, ""));
    EXPECT_TRUE(sv::InjectText(state, "\r\r"));
    EXPECT_TRUE(fake.batches.empty());
}

TEST(DesktopTest, OutsideServiceModeNothingIsAttached) {
    EXPECT_FALSE(sv::AttachInputDesktop(false));
}

TEST(DesktopTest, NameOfTheThreadDesktop) {
    std::wstring name = sv::GetDesktopName(GetThreadDesktop(GetCurrentThreadId()));
    EXPECT_FALSE(name.empty());
    EXPECT_EQ(name.find(L'\0'), std::wstring::npos);
    EXPECT_EQ(sv::GetDesktopName(nullptr), L"");
}

TEST(DesktopTest, InServiceModeAThreadAlreadyOnTheInputDesktopStays) {
    HDESK input = OpenInputDesktop(0, FALSE, DESKTOP_READOBJECTS);
    if (!input) GTEST_SKIP() << "no input desktop here";
    std::wstring inputName = sv::GetDesktopName(input);
    CloseDesktop(input);
    if (inputName != sv::GetDesktopName(GetThreadDesktop(GetCurrentThreadId()))) {
        GTEST_SKIP() << "test thread is not on the input desktop";
    }
    HDESK before = GetThreadDesktop(GetCurrentThreadId());
    EXPECT_FALSE(sv::AttachInputDesktop(true));
    EXPECT_EQ(GetThreadDesktop(GetCurrentThreadId()), before);
}

TEST(DesktopTest, InServiceModeAThreadOnAnotherDesktopIsSwitchedBack) {
    HDESK input = OpenInputDesktop(0, FALSE, DESKTOP_READOBJECTS);
    if (!input) GTEST_SKIP() << "no input desktop here";
    std::wstring inputName = sv::GetDesktopName(input);
    CloseDesktop(input);
    HDESK other = CreateDesktopW(L"sv-input-test", nullptr, nullptr, 0, GENERIC_ALL, nullptr);
    if (!other) GTEST_SKIP() << "cannot create a desktop here";
    std::wstring onOther, afterFirst, afterSecond;
    bool moved = false, interactive = true, first = false, second = false;
    std::thread t([&] {
        moved = SetThreadDesktop(other) != FALSE;
        // An interactive process is left where it is.
        interactive = sv::AttachInputDesktop(false);
        onOther = sv::GetDesktopName(GetThreadDesktop(GetCurrentThreadId()));
        first = sv::AttachInputDesktop(true);
        afterFirst = sv::GetDesktopName(GetThreadDesktop(GetCurrentThreadId()));
        second = sv::AttachInputDesktop(true);  // now already there
        afterSecond = sv::GetDesktopName(GetThreadDesktop(GetCurrentThreadId()));
    });
    t.join();
    CloseDesktop(other);
    ASSERT_TRUE(moved);
    EXPECT_FALSE(interactive);
    EXPECT_EQ(onOther, L"sv-input-test");
    EXPECT_TRUE(first);
    EXPECT_EQ(afterFirst, inputName);
    EXPECT_FALSE(second);
    EXPECT_EQ(afterSecond, inputName);
}

TEST(SecureAttentionTest, MissingLibraryIsFailureWithoutCall) {
    bool called = false;
    EXPECT_FALSE(sv::SendSecureAttentionWith(L"sv-no-such-library.dll", [&](FARPROC, bool) { called = true; }));
    EXPECT_FALSE(called);
}

TEST(SecureAttentionTest, LibraryWithoutEntryPointIsFailure) {
    bool called = false;
    EXPECT_FALSE(sv::SendSecureAttentionWith(L"kernel32.dll", [&](FARPROC, bool) { called = true; }));
    EXPECT_FALSE(called);
}

TEST(SecureAttentionTest, FoundEntryPointIsCalledAsAService) {
    // The real SendSAS is never called here: Wine's stub would end the process.
    HMODULE probe = LoadLibraryW(L"sas.dll");
    if (!probe) GTEST_SKIP() << "no sas.dll on this system";
    FreeLibrary(probe);
    int calls = 0;
    bool asUser = true;
    FARPROC seen = nullptr;
    EXPECT_TRUE(sv::SendSecureAttentionWith(sv::SystemLibraryPath(L"sas.dll").c_str(), [&](FARPROC entry, bool user) {
        ++calls;
        asUser = user;
        seen = entry;
    }));
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(asUser);
    EXPECT_NE(seen, nullptr);
}

}  // namespace
