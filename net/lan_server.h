#pragma once
// Listens for direct LAN controllers and admits them through the SRP handshake.
// Password mode (classic host): one salt and verifier, every interface.
// Ticket mode (enrolled device): one-use tickets, private addresses and loopback.
// The handshake's messages are in net/lan_handshake.h.
#include <winsock2.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <chrono>
#include <vector>

#include "base/annotated_mutex.h"

#include "base/worker_group.h"
#include "net/lan_handshake.h"
#include "net/lan_lockout.h"
#include "net/secure_channel.h"

namespace sv {

// What bounds one handshake as a whole: a peer that sends a byte now and then, each
// within a per-read time-out, must not hold a handshake slot for long; and the
// listener's Stop must be able to end it without closing a socket under it.
struct HandshakeBounds {
    std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::time_point::max();
    const std::atomic<bool>* stop = nullptr;
};

constexpr uint32_t kHandshakeTimeoutMs = 15000;
constexpr uint32_t kChannelSendTimeoutMs = 3000;

class LanServer {
public:
    // The callbacks own the channel they are given.
    using ChannelCallback = std::function<void(std::unique_ptr<SecureChannel>)>;
    using TicketLookup = std::function<bool(const std::string& ticketId, LanTicket& out)>;
    using TicketChannelCallback =
        std::function<void(std::unique_ptr<SecureChannel>, const std::string& controllerId,
                           const std::string& peerAddress)>;
    using AddressSource = std::function<std::vector<std::string>()>;

    // `lockout` is the throttling table; a host passes the one it keeps for its life so a
    // restarted listener remembers. Without one the server keeps its own.
    explicit LanServer(std::shared_ptr<LanLockout> lockout = nullptr);
    ~LanServer();  // stops
    LanServer(const LanServer&) = delete;
    LanServer& operator=(const LanServer&) = delete;

    void InitForPassword(uint32_t port, std::vector<uint8_t> salt, std::vector<uint8_t> verifier,
                         ChannelCallback onChannel);
    void InitForTickets(uint32_t port, TicketLookup ticketLookup, TicketChannelCallback onTicketChannel);
    void Start();
    // Closes the listeners, cuts handshakes in progress and waits until every
    // connection thread has finished, including a callback it is running: do
    // not call it while holding a lock that the callbacks take.
    void Stop();
    void Restart();
    bool IsListening() const { return listening_.load() != 0; }
    // The Winsock error of the last listener that could not be opened at the last Start
    // (WSAEADDRINUSE: another program has the port), 0 when none failed.
    int ListenError() const { return listenError_.load(); }
    uint32_t Port() const { return port_; }
    // The port the last listener bound (differs from Port() when that is 0).
    uint16_t BoundPort() const { return boundPort_.load(); }

    // Seams. By default 15 s handshake time-outs and the machine's own addresses:
    // the private ones to bind in ticket mode, and all of them, read at each Start, to
    // count connections from this machine as one peer of the lock-out.
    void SetLockout(std::shared_ptr<LanLockout> lockout);
    void SetHandshakeTimeoutMs(uint32_t ms) { handshakeTimeoutMs_ = ms; }
    void SetAddressSource(AddressSource source) { addressSource_ = std::move(source); }
    void SetOwnAddressSource(AddressSource source) { ownAddressSource_ = std::move(source); }

private:
    struct Connections;  // handshakes in progress, shared with their threads

    bool OpenListener(uint32_t addressNetworkOrder) SV_REQUIRES(mutex_);
    void AcceptLoop(SOCKET listenSocket);
    void HandleConnection(SOCKET socket);
    bool Admit(SOCKET socket, std::string& controllerId, std::vector<uint8_t>& key, const HandshakeBounds& bounds);

    uint32_t port_ = 0;
    std::vector<uint8_t> salt_;
    std::vector<uint8_t> verifier_;
    ChannelCallback onChannel_;
    TicketLookup ticketLookup_;
    TicketChannelCallback onTicketChannel_;
    Mutex mutex_;
    std::vector<SOCKET> listenSockets_ SV_GUARDED_BY(mutex_);
    std::vector<std::thread> acceptThreads_ SV_GUARDED_BY(mutex_);
    std::atomic<uint8_t> running_{0};
    std::atomic<uint8_t> listening_{0};
    std::atomic<uint16_t> boundPort_{0};
    std::atomic<int> listenError_{0};
    std::shared_ptr<LanLockout> lockout_;
    uint32_t handshakeTimeoutMs_ = kHandshakeTimeoutMs;
    AddressSource addressSource_;
    AddressSource ownAddressSource_;
    // Written by Start before any accept thread runs, read by connection threads, all
    // of which Stop waits for before a later Start writes it again.
    std::vector<std::string> ownAddresses_;
    std::shared_ptr<Connections> connections_;
    WorkerGroup workers_;  // connection threads; Stop waits for every one
};

// Host side of the proof on an accepted socket, giving the 32-byte session key; false
// on any failure (the caller closes the socket).
bool RunLanHandshakeForKey(SOCKET socket, const std::vector<uint8_t>& salt, const std::vector<uint8_t>& verifier,
                           std::vector<uint8_t>& key, const HandshakeBounds& bounds = HandshakeBounds());
// Reads one message; refuses a negative length or one above `bound` before
// reading its body.
bool ReadHandshakeMessage(SOCKET socket, std::vector<uint8_t>& out, int32_t bound,
                          const HandshakeBounds& bounds = HandshakeBounds());
bool WriteHandshakeMessage(SOCKET socket, const std::vector<uint8_t>& bytes);

// Dotted IPv4 addresses of this machine's name: the private ones (each once),
// and all of them with "127.0.0.1" appended.
std::vector<std::string> ListPrivateAddresses();
std::vector<std::string> ListLocalAddresses();

}  // namespace sv
