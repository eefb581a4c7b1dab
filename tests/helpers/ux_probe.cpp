// Runs the usage telemetry client against a test endpoint with a short period, so
// end-to-end tests see its real HTTPS exchanges without waiting five minutes.
//   ux_probe.exe <api base> <ca bundle> <events> <periodMs>
// Queues <events> actions "a0", "a1", ..., waits (at most 60 s) until the queue is empty
// or recording has stopped, and prints "off", or "left <n> started <0|1>".
#include <winsock2.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/ux_telemetry.h"
#include "net/tls_stream.h"

int main(int argc, char** argv) {
    if (argc < 5) return 2;
    // What the program's entry sets up before any request.
    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) return 1;
    sv::InstallTlsThreadingLocks();
    sv::UxTelemetry ux(sv::DefaultUxIo());
    if (!ux.Start(argv[1], argv[2], "1.1.6", std::getenv("SORVANE_UX_URL"),
                  std::chrono::milliseconds(std::atoi(argv[4])))) {
        std::printf("off\n");
        return 0;
    }
    const int events = std::atoi(argv[3]);
    ux.TrackScreenView("window");
    for (int i = 0; i < events; ++i) ux.TrackAction(("a" + std::to_string(i)).c_str());
    const ULONGLONG deadline = GetTickCount64() + 60000;
    while (ux.Queued() > 0 && ux.Started() && GetTickCount64() < deadline) Sleep(20);
    ux.StopWorker(std::chrono::seconds(30));
    std::printf("left %zu started %d\n", ux.Queued(), ux.Started() ? 1 : 0);
    return 0;
}
