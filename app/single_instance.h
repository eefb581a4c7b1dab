#pragma once
// One host per machine: the named mutex, and the nudge that brings the first one forward.
namespace sv {

// Takes the process-wide mutex "Global\SorvaneHostWin7" (kept until the process ends).
// True when another instance already holds it. Any other failure to create it counts
// as no other instance, so the host still runs.
bool AnotherInstanceRuns();

// Broadcasts the registered message "SorvaneHostWin7.Show" to every top-level window.
void SignalFirstInstance();

// Shows and raises the first instance's window, when it has one.
void ShowFirstInstanceWindow();

}  // namespace sv
