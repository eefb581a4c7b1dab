#pragma once
// Listens for direct LAN controllers and admits them through the SRP handshake.
#include <winsock2.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "net/secure_channel.h"

namespace sv {

struct LanTicket {
    std::vector<uint8_t> salt;
    std::vector<uint8_t> verifier;
    std::string controllerId;
};

class LanServer {
public:
    using ChannelCallback = std::function<void(SecureChannel*)>;
    using TicketLookup = std::function<bool(const std::string& ticketId, LanTicket& out)>;
    using TicketChannelCallback =
        std::function<void(SecureChannel*, const std::string& controllerId, const std::string& peerAddress)>;

    LanServer();
    ~LanServer();
    LanServer(const LanServer&) = delete;
    LanServer& operator=(const LanServer&) = delete;

    void InitForPassword(uint32_t port, std::vector<uint8_t> salt, std::vector<uint8_t> verifier,
                         ChannelCallback onChannel);
    void InitForTickets(uint32_t port, TicketLookup ticketLookup, TicketChannelCallback onTicketChannel);
    void Start();
    void Stop();
    void Restart();
    bool IsListening() const { return listening_.load() != 0; }
    uint32_t Port() const { return port_; }

private:
    bool OpenListener(uint32_t addressNetworkOrder);
    void AcceptLoop(SOCKET listenSocket);
    void HandleConnection(SOCKET socket);

    uint32_t port_ = 0;
    std::vector<uint8_t> salt_;
    std::vector<uint8_t> verifier_;
    ChannelCallback onChannel_;
    TicketLookup ticketLookup_;
    TicketChannelCallback onTicketChannel_;
    std::mutex mutex_;
    std::vector<SOCKET> listenSockets_;
    std::vector<std::thread> acceptThreads_;
    std::atomic<uint8_t> running_{0};
    std::atomic<uint8_t> listening_{0};
};

std::vector<std::string> ListPrivateAddresses();
std::vector<std::string> ListLocalAddresses();

}  // namespace sv
