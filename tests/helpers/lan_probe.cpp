// A LAN listener in password mode for end-to-end tests of the controller side
// before the host's own LAN direct is involved. Every frame a controller sends
// is echoed back with the same type; a text frame "close" ends that channel.
// Usage: lan_probe.exe --port N --password P [--handshake-timeout MS] [--lifetime S]
#include <winsock2.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "net/lan_server.h"
#include "net/srp.h"

namespace {

struct Echoers {
    std::mutex mutex;
    std::vector<std::thread> threads;
    ~Echoers() {
        std::lock_guard<std::mutex> lock(mutex);
        for (auto& t : threads) t.join();
    }
};

void Echo(std::unique_ptr<sv::SecureChannel> channel) {
    std::vector<uint8_t> payload;
    bool binary = false;
    try {
        while (channel->ReceiveFrame(payload, binary)) {
            if (!binary && std::string(payload.begin(), payload.end()) == "close") break;
            if (!channel->SendFrame(payload, binary ? 1 : 0)) break;
        }
    } catch (const std::exception& e) {
        std::printf("channel error: %s\n", e.what());
        std::fflush(stdout);
    }
    channel->Close();
}

}  // namespace

int main(int argc, char** argv) {
    uint32_t port = 0;
    std::string password;
    uint32_t timeoutMs = sv::kHandshakeTimeoutMs;
    int lifetime = 120;
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string a = argv[i];
        if (a == "--port") port = static_cast<uint32_t>(std::atoi(argv[i + 1]));
        else if (a == "--password") password = argv[i + 1];
        else if (a == "--handshake-timeout") timeoutMs = static_cast<uint32_t>(std::atoi(argv[i + 1]));
        else if (a == "--lifetime") lifetime = std::atoi(argv[i + 1]);
    }
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return 1;
    std::vector<uint8_t> salt = sv::RandomBytes32();
    std::vector<uint8_t> verifier = sv::SrpMakeVerifier(sv::SrpSalt(salt), sv::SrpPassword(password));
    Echoers echoers;
    {
        sv::LanServer server;
        server.SetHandshakeTimeoutMs(timeoutMs);
        server.InitForPassword(port, salt, verifier, [&](std::unique_ptr<sv::SecureChannel> channel) {
            std::lock_guard<std::mutex> lock(echoers.mutex);
            echoers.threads.emplace_back(Echo, std::move(channel));
        });
        server.Start();
        if (!server.IsListening()) {
            std::printf("not listening\n");
            std::fflush(stdout);
            return 1;
        }
        std::printf("listening %u\n", static_cast<unsigned>(server.BoundPort()));
        std::fflush(stdout);
        std::this_thread::sleep_for(std::chrono::seconds(lifetime));
        server.Stop();
    }
    return 0;
}
