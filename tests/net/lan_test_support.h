#pragma once
// Shared by the LAN tests: Winsock start-up and loopback socket pairs.
#include <winsock2.h>

#include <gtest/gtest.h>

#include "app/lan_self_test.h"

namespace sv_test {

inline void EnsureWinsock() {
    static bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    ASSERT_TRUE(started);
}

// A connected loopback pair, closed at the end unless released.
struct SocketPair {
    SOCKET a = INVALID_SOCKET;  // accepted end
    SOCKET b = INVALID_SOCKET;  // connecting end
    SocketPair() {
        EnsureWinsock();
        EXPECT_TRUE(sv::MakeLoopbackSocketPair(a, b));
    }
    ~SocketPair() {
        if (a != INVALID_SOCKET) closesocket(a);
        if (b != INVALID_SOCKET) closesocket(b);
    }
    SOCKET ReleaseA() {
        SOCKET s = a;
        a = INVALID_SOCKET;
        return s;
    }
    SOCKET ReleaseB() {
        SOCKET s = b;
        b = INVALID_SOCKET;
        return s;
    }
};

// Bounds a blocking receive in tests so a fault fails instead of hanging.
inline void SetReceiveTimeout(SOCKET s, DWORD ms) {
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&ms), sizeof ms);
}

}  // namespace sv_test
