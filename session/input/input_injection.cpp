#include "session/input/input_injection.h"

#include "base/system_library.h"
#include "base/text_encoding.h"
#include "session/input/input_records.h"

namespace sv {
namespace {

// The desktop this thread was last switched to. Closing it when the thread ends is best
// effort: Windows refuses while the desktop is still the thread's own.
struct ThreadDesktop {
    HDESK held = nullptr;
    ~ThreadDesktop() {
        if (held) CloseDesktop(held);
    }
};
thread_local ThreadDesktop t_desktop;

constexpr ACCESS_MASK kInputDesktopAccess = DESKTOP_READOBJECTS | DESKTOP_CREATEWINDOW | DESKTOP_HOOKCONTROL |
                                            DESKTOP_JOURNALPLAYBACK | DESKTOP_WRITEOBJECTS | DESKTOP_SWITCHDESKTOP;
static_assert(kInputDesktopAccess == 0x1AB, "input desktop access");

bool SendAll(const InputState& state, std::vector<INPUT>& events) {
    if (events.empty()) return true;
    const auto& send = state.Platform().sendInput;
    if (!send) return false;
    uint32_t count = static_cast<uint32_t>(events.size());
    return send(events.data(), count) == count;
}

}  // namespace

InputPlatform SystemInputPlatform() {
    InputPlatform p;
    p.blockInput = [](bool on) { return ::BlockInput(on ? TRUE : FALSE) != FALSE; };
    p.sendInput = [](const INPUT* events, uint32_t count) {
        return static_cast<uint32_t>(
            ::SendInput(count, const_cast<INPUT*>(events), static_cast<int>(sizeof(INPUT))));
    };
    return p;
}

InputState::InputState() : platform_(SystemInputPlatform()) {}

InputState::InputState(InputPlatform platform) : platform_(std::move(platform)) {}

InputState::~InputState() {
    ReleaseInputBlock(*this);
    {
        MutexLock lock(jobMutex_);
        stopping_ = true;
    }
    jobReady_.NotifyAll();
    // Should the unblock above have failed, the thread's end still lifts the block:
    // Windows re-enables input when the thread that blocked it exits.
    if (blockThread_.joinable()) blockThread_.join();
}

bool InputState::RunOnBlockThread(std::function<bool()> call) {
    Job job;
    job.call = std::move(call);
    MutexLock lock(jobMutex_);
    if (stopping_) return false;
    if (!blockThread_.joinable()) {
        try {
            blockThread_ = std::thread([this] { BlockThreadLoop(); });
        } catch (const std::exception&) {
            return false;
        }
    }
    jobs_.push_back(&job);
    jobReady_.NotifyOne();
    jobDone_.Wait(lock, [&job]() SV_REQUIRES(jobMutex_) { return job.done; });
    return job.result;
}

void InputState::BlockThreadLoop() {
    MutexLock lock(jobMutex_);
    for (;;) {
        jobReady_.Wait(lock, [this]() SV_REQUIRES(jobMutex_) { return stopping_ || !jobs_.empty(); });
        if (jobs_.empty()) return;  // stopping, nothing left to serve
        Job* job = jobs_.front();
        jobs_.pop_front();
        lock.Unlock();
        bool result = false;
        try {
            result = job->call();
        } catch (...) {
            result = false;
        }
        lock.Lock();
        job->result = result;
        job->done = true;
        jobDone_.NotifyAll();
    }
}

bool SetInputBlockedOn(InputState& state, bool on) {
    return state.RunOnBlockThread([&state, on] {
        if (!state.platform_.blockInput || !state.platform_.blockInput(on)) return false;
        state.blocked_.store(on);
        return true;
    });
}

void ReleaseInputBlock(InputState& state) {
    if (!state.blocked_.load()) return;
    state.RunOnBlockThread([&state] {
        if (!state.blocked_.load()) return true;
        if (!state.platform_.blockInput || !state.platform_.blockInput(false)) return false;
        state.blocked_.store(false);
        return true;
    });
}

bool InjectPointer(InputState& state, const std::string& kind, double x, double y, const std::string& button,
                   int screenWidth, int screenHeight) {
    AttachInputDesktop(state.ServiceMode());
    std::vector<INPUT> events(1);
    if (!BuildPointerInput(kind, x, y, button, screenWidth, screenHeight, events[0])) return false;
    return SendAll(state, events);
}

bool InjectText(InputState& state, const std::string& text) {
    if (text.size() > kTypedTextCapBytes) return false;
    AttachInputDesktop(state.ServiceMode());
    std::wstring units = Utf8ToUtf16(text);
    std::vector<INPUT> batch;
    batch.reserve(kTextBatchEvents);
    size_t next = 0;
    while (next < units.size()) {
        batch.clear();
        next = AppendTextInputs(units, next, kTextBatchEvents, batch);
        if (!SendAll(state, batch)) return false;
    }
    return true;
}

bool InjectKey(InputState& state, const std::string& key, const std::vector<std::string>& modifiers) {
    AttachInputDesktop(state.ServiceMode());
    std::vector<INPUT> events;
    if (!BuildKeyInputs(key, modifiers, events)) return false;
    return SendAll(state, events);
}

std::wstring GetDesktopName(HDESK desktop) {
    wchar_t buffer[256];
    DWORD needed = 0;
    if (!desktop || !GetUserObjectInformationW(desktop, UOI_NAME, buffer, sizeof(buffer), &needed)) {
        return std::wstring();
    }
    if (needed < 2) return std::wstring();
    size_t length = needed / 2 - 1;
    if (length > 255) length = 255;
    return std::wstring(buffer, length);
}

bool AttachInputDesktop(bool serviceMode) {
    if (!serviceMode) return false;
    HDESK input = OpenInputDesktop(0, FALSE, kInputDesktopAccess);
    if (!input) return false;
    std::wstring inputName = GetDesktopName(input);
    std::wstring currentName = GetDesktopName(GetThreadDesktop(GetCurrentThreadId()));
    if (!inputName.empty() && inputName == currentName) {
        CloseDesktop(input);
        return false;
    }
    if (!SetThreadDesktop(input)) {
        CloseDesktop(input);
        return false;
    }
    HDESK previous = t_desktop.held;
    t_desktop.held = input;
    if (previous) CloseDesktop(previous);
    return true;
}

bool SendSecureAttentionWith(const wchar_t* library, const SendSasCaller& call) {
    HMODULE module = LoadLibraryW(library);
    if (!module) return false;
    FARPROC entry = GetProcAddress(module, "SendSAS");
    if (!entry) {
        FreeLibrary(module);
        return false;
    }
    if (call) call(entry, false);
    FreeLibrary(module);
    return true;
}

bool SendSecureAttention() {
    const std::wstring path = SystemLibraryPath(L"sas.dll");
    if (path.empty()) return false;
    return SendSecureAttentionWith(path.c_str(), [](FARPROC entry, bool asUser) {
        using SendSasFn = VOID(WINAPI*)(BOOL);
        reinterpret_cast<SendSasFn>(reinterpret_cast<void*>(entry))(asUser ? TRUE : FALSE);
    });
}

}  // namespace sv
