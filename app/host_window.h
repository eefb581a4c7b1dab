#pragma once
// Tray mode's window and notification-area icon: the Host ID, the password (or the
// device number) and the connection state, with copy buttons and a new password. Closing
// hides it to the tray; the tray menu's exit ends tray mode.
namespace sv {

class Host;

// Runs the window's message loop on this thread until the window is destroyed; 0.
int RunHostWindow(Host& host);

// Asks the window to close for good (the tray menu's exit); nothing when there is none.
// Any thread may call it.
void PostExitCommand();

}  // namespace sv
