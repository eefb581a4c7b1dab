#include "net/lan_server.h"

#include <windows.h>
#include <mstcpip.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <set>

#include "base/elapsed_time.h"
#include "net/lan_addresses.h"

namespace sv {

// Sockets of handshakes in progress; the connection threads themselves are counted
// by the server's worker group.
// Only the connection thread closes its socket: Stop shuts the socket down and sets
// `stopping`, which the handshake's sliced waits look at.
struct LanServer::Connections {
    Mutex mutex;
    std::set<SOCKET> handshaking;
    std::atomic<bool> stopping{false};
};

namespace {

void SetTimeouts(SOCKET s, uint32_t receiveMs, uint32_t sendMs) {
    DWORD r = receiveMs, w = sendMs;
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&r), sizeof r);
    setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&w), sizeof w);
}

void EnableKeepAlive(SOCKET s) {
    tcp_keepalive settings{};
    settings.onoff = 1;
    settings.keepalivetime = 2000;
    settings.keepaliveinterval = 1000;
    DWORD returned = 0;
    WSAIoctl(s, SIO_KEEPALIVE_VALS, &settings, sizeof settings, nullptr, 0, &returned, nullptr, nullptr);
}

std::string PeerAddress(SOCKET s) {
    sockaddr_in addr{};
    int len = sizeof addr;
    if (getpeername(s, reinterpret_cast<sockaddr*>(&addr), &len) != 0 || addr.sin_family != AF_INET) {
        return "unknown";
    }
    char text[INET_ADDRSTRLEN] = {};
    if (!inet_ntop(AF_INET, &addr.sin_addr, text, sizeof text)) return "unknown";
    return text;
}

// Every IPv4 address that this machine's name resolves to, in resolver order.
std::vector<std::string> ResolveOwnAddresses() {
    std::vector<std::string> out;
    char name[256] = {};
    if (gethostname(name, sizeof name) != 0) return out;
    name[sizeof name - 1] = 0;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo* results = nullptr;
    if (getaddrinfo(name, nullptr, &hints, &results) != 0) return out;
    for (addrinfo* p = results; p; p = p->ai_next) {
        if (p->ai_family != AF_INET || !p->ai_addr) continue;
        char text[INET_ADDRSTRLEN] = {};
        const sockaddr_in* in = reinterpret_cast<const sockaddr_in*>(p->ai_addr);
        if (inet_ntop(AF_INET, const_cast<in_addr*>(&in->sin_addr), text, sizeof text)) out.push_back(text);
    }
    freeaddrinfo(results);
    return out;
}

// Waits for a socket in slices; 1 ready, 0 stop flag or deadline, -1 error.
int WaitReadable(SOCKET s, const HandshakeBounds& bounds) {
    for (;;) {
        if (bounds.stop && bounds.stop->load()) return 0;
        int sliceMs = 250;
        if (bounds.deadline != std::chrono::steady_clock::time_point::max()) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(bounds.deadline -
                                                                              std::chrono::steady_clock::now())
                            .count();
            if (left <= 0) return 0;
            if (left < sliceMs) sliceMs = static_cast<int>(left);
        }
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(s, &readable);
        timeval slice{0, sliceMs * 1000};
        int ready = select(0, &readable, nullptr, nullptr, &slice);
        if (ready < 0) return -1;
        if (ready > 0) return 1;
    }
}

bool RecvWithin(SOCKET s, uint8_t* buf, size_t n, const HandshakeBounds& bounds) {
    while (n > 0) {
        if (WaitReadable(s, bounds) != 1) return false;
        int got = recv(s, reinterpret_cast<char*>(buf), static_cast<int>(std::min<size_t>(n, 1 << 20)), 0);
        if (got < 1) return false;
        buf += got;
        n -= static_cast<size_t>(got);
    }
    return true;
}

}  // namespace

std::vector<std::string> ListPrivateAddresses() { return SelectPrivateAddresses(ResolveOwnAddresses()); }

std::vector<std::string> ListLocalAddresses() { return AppendLoopback(ResolveOwnAddresses()); }

bool ReadHandshakeMessage(SOCKET socket, std::vector<uint8_t>& out, int32_t bound, const HandshakeBounds& bounds) {
    return ReadHandshakeMessageFrom([&](uint8_t* p, size_t n) { return RecvWithin(socket, p, n, bounds); }, out,
                                    bound);
}

bool WriteHandshakeMessage(SOCKET socket, const std::vector<uint8_t>& bytes) {
    return WriteHandshakeMessageTo([socket](const uint8_t* p, size_t n) { return SendAll(socket, p, n); }, bytes);
}

bool RunLanHandshakeForKey(SOCKET socket, const std::vector<uint8_t>& salt, const std::vector<uint8_t>& verifier,
                           std::vector<uint8_t>& key, const HandshakeBounds& bounds) {
    return RunHostHandshake([&](uint8_t* p, size_t n) { return RecvWithin(socket, p, n, bounds); },
                            [socket](const uint8_t* p, size_t n) { return SendAll(socket, p, n); }, salt, verifier,
                            key);
}

LanServer::LanServer(std::shared_ptr<LanLockout> lockout)
    : lockout_(lockout ? std::move(lockout)
                       : std::make_shared<LanLockout>([] { return static_cast<uint64_t>(SteadyMilliseconds()); })),
      addressSource_(ListPrivateAddresses),
      ownAddressSource_(ResolveOwnAddresses),
      connections_(std::make_shared<Connections>()) {}

LanServer::~LanServer() { Stop(); }

void LanServer::InitForPassword(uint32_t port, std::vector<uint8_t> salt, std::vector<uint8_t> verifier,
                                ChannelCallback onChannel) {
    port_ = port;
    salt_ = std::move(salt);
    verifier_ = std::move(verifier);
    onChannel_ = std::move(onChannel);
    ticketLookup_ = nullptr;
    onTicketChannel_ = nullptr;
}

void LanServer::InitForTickets(uint32_t port, TicketLookup ticketLookup, TicketChannelCallback onTicketChannel) {
    port_ = port;
    salt_.clear();
    verifier_.clear();
    onChannel_ = nullptr;
    ticketLookup_ = std::move(ticketLookup);
    onTicketChannel_ = std::move(onTicketChannel);
}

void LanServer::SetLockout(std::shared_ptr<LanLockout> lockout) {
    if (lockout) lockout_ = std::move(lockout);
}

void LanServer::Start() {
    MutexLock lock(mutex_);
    if (listening_.load()) return;
    connections_->stopping.store(false);
    ownAddresses_ = ownAddressSource_ ? ownAddressSource_() : std::vector<std::string>{};
    listenError_.store(0);
    running_.store(1);
    bool any = false;
    if (ticketLookup_) {
        std::vector<std::string> addresses = addressSource_ ? addressSource_() : std::vector<std::string>{};
        for (const std::string& text : TicketListenAddresses(addresses)) {
            in_addr a{};
            if (inet_pton(AF_INET, text.c_str(), &a) == 1) any = OpenListener(a.s_addr) || any;
        }
    } else {
        any = OpenListener(htonl(INADDR_ANY));
    }
    listening_.store(any ? 1 : 0);
    if (!any) running_.store(0);
}

bool LanServer::OpenListener(uint32_t addressNetworkOrder) {
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) {
        listenError_.store(WSAGetLastError());
        return false;
    }
    // No SO_REUSEADDR: on Windows it lets a listener share a port that another program
    // already listens on, so a port in use would be reported as listening while the peers'
    // connections went to either socket. A plain bind already takes a port whose old
    // connections are still closing.
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port_ & 0xffff));
    addr.sin_addr.s_addr = addressNetworkOrder;
    if (bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(s, 16) != 0) {
        listenError_.store(WSAGetLastError());  // before the close can replace it
        closesocket(s);
        return false;
    }
    sockaddr_in bound{};
    int len = sizeof bound;
    if (getsockname(s, reinterpret_cast<sockaddr*>(&bound), &len) == 0) boundPort_.store(ntohs(bound.sin_port));
    listenSockets_.push_back(s);
    acceptThreads_.emplace_back(&LanServer::AcceptLoop, this, s);
    return true;
}

void LanServer::AcceptLoop(SOCKET listenSocket) {
    // The accept waits in slices so that Stop can end this loop before it closes the
    // listening socket: a handle closed under a blocked accept may already name
    // another socket when the call looks at it.
    while (running_.load()) {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(listenSocket, &readable);
        timeval slice{0, 250000};
        int ready = select(0, &readable, nullptr, nullptr, &slice);
        if (ready < 0) break;
        if (ready == 0) continue;
        SOCKET s = accept(listenSocket, nullptr, nullptr);
        if (s == INVALID_SOCKET) {
            // A peer that reset before we took it is no reason to stop serving.
            if (running_.load() && WSAGetLastError() == WSAECONNRESET) continue;
            break;
        }
        BOOL noDelay = TRUE;
        setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay), sizeof noDelay);
        if (!workers_.Start([this, s] { HandleConnection(s); })) closesocket(s);
    }
}

bool LanServer::Admit(SOCKET socket, std::string& controllerId, std::vector<uint8_t>& key,
                      const HandshakeBounds& bounds) {
    if (!ticketLookup_) return RunLanHandshakeForKey(socket, salt_, verifier_, key, bounds);
    return RunTicketHandshake([&](uint8_t* p, size_t n) { return RecvWithin(socket, p, n, bounds); },
                              [socket](const uint8_t* p, size_t n) { return SendAll(socket, p, n); }, ticketLookup_,
                              controllerId, key);
}

void LanServer::HandleConnection(SOCKET socket) {
    const std::string address = PeerAddress(socket);
    // The lock-out's peer; the callbacks get the address itself.
    const std::string peer = LanPeerKey(address, ownAddresses_);
    if (lockout_->TryBegin(peer) != LanAdmission::kAdmitted) {
        closesocket(socket);
        return;
    }
    {
        MutexLock c(connections_->mutex);
        if (connections_->stopping.load()) {
            closesocket(socket);
            lockout_->Abandoned(peer);
            return;
        }
        connections_->handshaking.insert(socket);
    }
    // Both modes bound the handshake as a whole (a silent or trickling peer must not
    // hold one of the few handshake slots) and each send on its own.
    SetTimeouts(socket, handshakeTimeoutMs_, handshakeTimeoutMs_);
    HandshakeBounds bounds;
    bounds.deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(handshakeTimeoutMs_);
    bounds.stop = &connections_->stopping;
    std::string controllerId;
    std::vector<uint8_t> key;
    const bool admitted = Admit(socket, controllerId, key, bounds);
    {
        MutexLock c(connections_->mutex);
        connections_->handshaking.erase(socket);
    }
    if (connections_->stopping.load()) {
        // Cut by Stop: not the peer's failure.
        lockout_->Abandoned(peer);
        closesocket(socket);
        return;
    }
    if (!admitted) {
        lockout_->Failed(peer);
        closesocket(socket);
        return;
    }
    lockout_->Succeeded(peer);
    auto channel = std::make_unique<SecureChannel>(socket, key, kRoleHost);
    if (!running_.load()) return;  // stopping: the channel closes its socket
    SetTimeouts(socket, 0, kChannelSendTimeoutMs);
    EnableKeepAlive(socket);
    if (ticketLookup_) {
        if (onTicketChannel_) onTicketChannel_(std::move(channel), controllerId, address);
    } else if (onChannel_) {
        onChannel_(std::move(channel));
    }
}

void LanServer::Stop() {
    MutexLock lock(mutex_);
    running_.store(0);
    for (std::thread& t : acceptThreads_) {
        if (t.joinable()) t.join();
    }
    acceptThreads_.clear();
    for (SOCKET s : listenSockets_) closesocket(s);
    listenSockets_.clear();
    {
        // The handshakes see the flag within a slice; their threads close their own
        // sockets, so no handle is closed while a thread still reads or writes it.
        MutexLock c(connections_->mutex);
        connections_->stopping.store(true);
        for (SOCKET s : connections_->handshaking) shutdown(s, SD_BOTH);
    }
    workers_.Wait();
    listening_.store(0);
}

void LanServer::Restart() {
    Stop();
    Start();
}

}  // namespace sv
