#pragma once
// Turns the controller's pointer, key and text input into Windows input, and keeps the
// local keyboard and mouse block.
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "base/annotated_mutex.h"

namespace sv {

// The two Windows calls that input goes through; tests replace them.
struct InputPlatform {
    std::function<bool(bool on)> blockInput;                          // BlockInput
    std::function<uint32_t(const INPUT* events, uint32_t count)> sendInput;  // SendInput
};

// The real BlockInput and SendInput.
InputPlatform SystemInputPlatform();

// Whether this host has blocked the local keyboard and mouse, and the one thread that
// makes every BlockInput call. Windows lets only the thread that blocked input unblock
// it, while releases come from tear-down paths on any thread; funnelling every call
// through one long-lived thread keeps a block always releasable.
class InputState {
public:
    InputState();
    explicit InputState(InputPlatform platform);
    ~InputState();
    InputState(const InputState&) = delete;
    InputState& operator=(const InputState&) = delete;

    bool IsBlocked() const { return blocked_.load(); }
    // A service-mode host injects into whichever desktop receives input now.
    void SetServiceMode(bool on) { serviceMode_.store(on); }
    bool ServiceMode() const { return serviceMode_.load(); }
    const InputPlatform& Platform() const { return platform_; }

private:
    friend bool SetInputBlockedOn(InputState& state, bool on);
    friend void ReleaseInputBlock(InputState& state);

    // Runs `call` on the blocking thread (started on first use) and returns its result.
    bool RunOnBlockThread(std::function<bool()> call);
    void BlockThreadLoop();

    InputPlatform platform_;
    std::atomic<bool> blocked_{false};
    std::atomic<bool> serviceMode_{false};

    struct Job {
        std::function<bool()> call;
        bool done = false;
        bool result = false;
    };
    Mutex jobMutex_;
    CondVar jobReady_;
    CondVar jobDone_;
    std::deque<Job*> jobs_ SV_GUARDED_BY(jobMutex_);
    bool stopping_ SV_GUARDED_BY(jobMutex_) = false;
    std::thread blockThread_;
};

// BlockInput(on); the flag follows only when Windows accepted the call.
bool SetInputBlockedOn(InputState& state, bool on);
// Undoes this host's block, if any; the flag is cleared only when the unblock succeeded.
void ReleaseInputBlock(InputState& state);

bool InjectPointer(InputState& state, const std::string& kind, double x, double y, const std::string& button,
                   int screenWidth, int screenHeight);
// False without typing anything for a text above kTypedTextCapBytes.
bool InjectText(InputState& state, const std::string& text);
bool InjectKey(InputState& state, const std::string& key, const std::vector<std::string>& modifiers);

// In service mode, switches the calling thread to the desktop that receives input (the
// logon and secure desktops included). True when the thread was switched.
bool AttachInputDesktop(bool serviceMode);
std::wstring GetDesktopName(HDESK desktop);

// Calls the SendSAS entry point that was found; `asUser` is its one argument.
using SendSasCaller = std::function<void(FARPROC sendSas, bool asUser)>;
// Ctrl+Alt+Del through `library`'s SendSAS, called by `call`. True when the function was
// found and called; what SendSAS did is not reported.
bool SendSecureAttentionWith(const wchar_t* library, const SendSasCaller& call);
// The real thing: sas.dll, SendSAS(FALSE) as a service.
bool SendSecureAttention();

}  // namespace sv
