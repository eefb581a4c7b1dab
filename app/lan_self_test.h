#pragma once
// One-shot console checks of LAN direct that need no controller.
#include <winsock2.h>

#include <functional>
#include <string>

namespace sv {

// The fixed inputs of PrintSrpVectors, so a controller's implementation can be
// compared with the host's byte for byte:
//   salt     = the 32 bytes 0x00, 0x01, ..., 0x1f
//   password = "abc123"
//   A        = HexToBytes("123456789abcdef0123456789abcdef0123456789abcdef")   (47 digits, 24 bytes)
//   B        = HexToBytes("fedcba9876543210fedcba9876543210fedcba98765432")    (46 digits, 23 bytes)
//   S        = HexToBytes("0f1e2d3c4b5a69780f1e2d3c4b5a69780f1e2d3c4b5a69788796") (52 digits, 26 bytes)
extern const char kSrpVectorPassword[];
extern const char kSrpVectorA[];
extern const char kSrpVectorB[];
extern const char kSrpVectorS[];

// The seven lines of the SRP vectors (x, k, u, M1, M2, key, first 48 hex digits of v).
std::string FormatSrpVectors();
// Prints FormatSrpVectors() to standard output.
void PrintSrpVectors();

struct LanSelfTestSeams {
    // Makes a connected loopback pair (the accepted end first); false on failure.
    std::function<bool(SOCKET& accepted, SOCKET& connected)> makeSocketPair;
    // Receives each failure text.
    std::function<void(const std::string&)> reportFailure;
};

// A loopback TCP pair through a listener on 127.0.0.1, port 0.
bool MakeLoopbackSocketPair(SOCKET& accepted, SOCKET& connected);

// Plays both sides of the password proof, then one frame each way over a
// loopback pair. True when every step passed; failure lines go to standard error.
bool RunLanSelfTest();
bool RunLanSelfTest(const LanSelfTestSeams& seams);

}  // namespace sv
