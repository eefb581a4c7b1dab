// Runs an enrolled host against a given relay, for the end-to-end tests of the
// device registration: enrolled_host --relay URL --data-dir DIR [--cacert PEM]
// --device-id N --device-secret S. Exits with the relay loop's result.
#include <winsock2.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/host_options.h"
#include "net/tls_stream.h"
#include "session/host.h"
#include "session/screen_capture.h"

int main(int argc, char** argv) {
    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) return 1;
    sv::InstallTlsThreadingLocks();
    // Frames need the JPEG encoder, as in the real program.
    if (!sv::StartGdiplus()) return 1;
    sv::HostOptions options;
    options.trainingEnabled = 0;
    int32_t deviceId = 0;
    std::string secret;
    for (int i = 1; i + 1 < argc; ++i) {
        std::string a = argv[i];
        if (a == "--relay") options.relayUrl = argv[++i];
        else if (a == "--data-dir") options.dataDir = argv[++i];
        else if (a == "--cacert") options.caBundlePath = argv[++i];
        else if (a == "--device-id") deviceId = static_cast<int32_t>(std::strtol(argv[++i], nullptr, 10));
        else if (a == "--device-secret") secret = argv[++i];
    }
    int rc = 0;
    {
        sv::Host host(options);
        rc = host.RunEnrolled(deviceId, secret);
        host.Stop();
    }
    std::printf("relay loop returned %d\n", rc);
    std::fflush(stdout);
    return rc;
}
