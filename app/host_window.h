#pragma once
// Tray mode's window and notification-area icon: the Host ID, the password (or the
// device number) and the connection state, with copy buttons and a new password. Closing
// hides it to the tray; the tray menu's exit ends tray mode.
#include <functional>
#include <memory>
#include <vector>

#include "app/host_run_task.h"
#include "app/host_window_layout.h"
#include "session/host_options.h"

namespace sv {

class Host;
class WorkerGroup;

// The card for what the host-run task has settled on.
HostCard CardFor(const HostRunState::Snapshot& run);
// What else the card says: why an enrolment failed, what of the identity `host` (may be
// null) could not store.
CardNotes NotesFor(const HostRunState::Snapshot& run, Host* host);

// The ways out of the window that tests replace: a rotation they can hold, a tray that
// refuses, and what each paint laid out.
struct HostWindowSeams {
    enum class TrayOp { Add, Modify, Delete };
    std::function<void()> rotatePassword;     // default: Host::RotatePassword
    std::function<bool(TrayOp)> notifyIcon;   // default: Shell_NotifyIconW with the window's icon
    std::function<void(const std::vector<HostButton>& buttons)> painted;  // window thread, after each paint
};

// The window and its tray icon. Made on any thread; Run makes the window on the calling
// thread and runs its message loop there until the window is destroyed. Everything but
// the window handle is the window thread's own: the window procedure finds this object
// through the window's user data.
class HostWindow {
public:
    // `state` decides the card. A new password is made on a thread of `work`, never on the
    // window's own: the caller stops the Host and then waits for `work`. What the person
    // does with the window and tray goes to `usage`.
    HostWindow(Host& host, const HostRunState& state, WorkerGroup& work, UsageHooks usage,
               HostWindowSeams seams = {});
    ~HostWindow();
    HostWindow(const HostWindow&) = delete;
    HostWindow& operator=(const HostWindow&) = delete;

    // Once per object; 0.
    int Run();

    // Asks the window to close for good (the tray menu's exit); nothing while there is no
    // window (before Run made it, after it was destroyed). Any thread may call it.
    void PostExit();

private:
    struct State;
    std::unique_ptr<State> state_;
};
}  // namespace sv
