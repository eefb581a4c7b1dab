// Process entry. For now: the options the end-to-end harness needs and the console run.
#include <winsock2.h>
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/host_options.h"
#include "session/host.h"
#include "session/screen_capture.h"

int main(int argc, char** argv) {
    sv::HostOptions options;
    options.relayUrl = SV_DEFAULT_RELAY_URL;
    options.apiBase = SV_DEFAULT_API_BASE;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--data-dir" && i + 1 < argc) options.dataDir = argv[++i];
        else if (a == "--relay" && i + 1 < argc) options.relayUrl = argv[++i];
        else if (a == "--cacert" && i + 1 < argc) options.caBundlePath = argv[++i];
    }
    // GDI+ before the Host: every JPEG the stream sends needs its encoder.
    sv::StartGdiplus();
    sv::Host host(options);
    return host.RunClassic();
}
