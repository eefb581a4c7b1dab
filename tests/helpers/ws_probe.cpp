// Drives the host's WebSocket client directly so end-to-end tests can check it
// against real servers.
//   ws_probe <url> <cacert> [--send TEXT]... [--send-binary N] [--echo]
//            [--abort-after-ms N] [--max-messages N] [--timeout-ms N] [--send-loop N]
// --send-loop N sends N numbered texts ("loop <i> <padding>") from a second thread
// while the main thread keeps receiving.
// Prints one line per event: "connected", "connect-failed", "text <len> <text>",
// "binary <len> <sum>", "close <code>", "error", "aborted", "receive-ended <result> <ms>".
// Exit codes: 0 after a close or --max-messages, 2 connect failed, 3 receive error.
#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "net/tls_stream.h"
#include "net/websocket_client.h"

namespace {

void Line(const std::string& s) {
    std::fwrite(s.data(), 1, s.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        Line("usage: ws_probe <url> <cacert> [options]");
        return 64;
    }
    WSADATA wsa;
    WSAStartup(MAKEWORD(2, 2), &wsa);
    sv::InstallTlsThreadingLocks();

    std::string url = argv[1];
    std::string ca = argv[2];
    std::vector<std::string> sends;
    long sendBinary = -1;
    bool echo = false;
    long abortAfterMs = -1;
    long maxMessages = -1;
    long timeoutMs = 60000;
    long sendLoop = 0;
    for (int i = 3; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--send" && i + 1 < argc) sends.push_back(argv[++i]);
        else if (a == "--send-binary" && i + 1 < argc) sendBinary = std::atol(argv[++i]);
        else if (a == "--echo") echo = true;
        else if (a == "--abort-after-ms" && i + 1 < argc) abortAfterMs = std::atol(argv[++i]);
        else if (a == "--max-messages" && i + 1 < argc) maxMessages = std::atol(argv[++i]);
        else if (a == "--timeout-ms" && i + 1 < argc) timeoutMs = std::atol(argv[++i]);
        else if (a == "--send-loop" && i + 1 < argc) sendLoop = std::atol(argv[++i]);
    }

    sv::WebSocketClient client;
    if (!client.Connect(url, ca.c_str(), static_cast<uint32_t>(timeoutMs))) {
        Line("connect-failed");
        return 2;
    }
    Line("connected");
    for (const std::string& s : sends) {
        if (!client.SendText(s)) Line("send-failed");
    }
    if (sendBinary >= 0) {
        std::vector<uint8_t> data(static_cast<size_t>(sendBinary));
        for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7 + 3);
        if (!client.SendBinary(data.data(), data.size())) Line("send-failed");
    }

    std::thread loopSender;
    if (sendLoop > 0) {
        loopSender = std::thread([&client, sendLoop] {
            long failed = 0;
            for (long i = 0; i < sendLoop; ++i) {
                std::string text = "loop " + std::to_string(i) + " " + std::string(static_cast<size_t>(100 + (i * 37) % 3000), 'p');
                if (!client.SendText(text)) ++failed;
            }
            Line("send-loop-done " + std::to_string(failed));
        });
    }

    std::atomic<long long> abortedAt{0};
    std::thread aborter;
    auto now = [] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    };
    if (abortAfterMs >= 0) {
        aborter = std::thread([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(abortAfterMs));
            abortedAt.store(now());
            client.AbortSocket();
            Line("aborted");
        });
    }

    int exitCode = 0;
    long count = 0;
    for (;;) {
        sv::WebSocketMessage msg;
        int r = client.ReceiveMessage(msg);
        if (abortAfterMs >= 0 && abortedAt.load() != 0) {
            Line("receive-ended " + std::to_string(r) + " " + std::to_string(now() - abortedAt.load()));
            exitCode = r == 2 ? 0 : 3;
            break;
        }
        if (r == 1) {
            Line("close " + std::to_string(msg.closeCode));
            break;
        }
        if (r != 0) {
            Line("error");
            exitCode = 3;
            break;
        }
        if (msg.opcode == 1) {
            Line("text " + std::to_string(msg.text.size()) + " " + msg.text);
            if (echo) client.SendText(msg.text);
        } else {
            unsigned long long sum = 0;
            for (uint8_t b : msg.data) sum += b;
            Line("binary " + std::to_string(msg.data.size()) + " " + std::to_string(sum));
            if (echo) client.SendBinary(msg.data.data(), msg.data.size());
        }
        if (maxMessages >= 0 && ++count >= maxMessages) break;
    }
    if (aborter.joinable()) aborter.join();
    if (loopSender.joinable()) loopSender.join();
    client.Disconnect();
    return exitCode;
}
