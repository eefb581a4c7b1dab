#pragma once
// A Host for unit tests: its data and audit lines in a scratch folder, the real training
// agent without a surface, and a command runner that never starts netsh. A stand-in for
// the agent, for tests of what the Host asks of it; a relay the whole Host talks to; and
// the one way into a Host's LAN direct.
#include <atomic>
#include <condition_variable>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/training_agent_maker.h"
#include "base/audit_log.h"
#include "net/ws_test_server.h"
#include "session/host.h"
#include "test_support.h"
#include "training/training_host_hooks.h"

namespace sv {

// A Host's channels come from its LAN listener after an SRP handshake whose controller
// side lives only in the network tests: a test that plays a LAN peer hands its end of a
// socket pair straight to the Host's LAN direct, as the listener would.
class HostTestAccess {
public:
    static LanDirect& Lan(Host& host) { return host.lan_; }
};

}  // namespace sv

namespace sv_test {

inline sv::HostOptions TestHostOptions(const std::string& dataDir, bool serviceMode = false) {
    sv::HostOptions options;
    options.dataDir = dataDir;
    options.trainingEnabled = 0;
    options.serviceMode = serviceMode;
    options.commandRunner = [](const std::wstring&) { return 0u; };
    options.trainingFactories.makeAgent = sv::MakeTrainingAgent;
    return options;
}

inline std::unique_ptr<sv::Host> MakeTestHost(const std::string& dataDir, bool serviceMode = false) {
    sv::SetAuditDirectory(dataDir);
    return std::make_unique<sv::Host>(TestHostOptions(dataDir, serviceMode));
}

// Records what the Host asks of its agent ("queue <from> <op>", "gate <from> <what>",
// "gone <remaining>", "stopping", "shutdown"); `freed` counts the agent's release.
class FakeAgent {
public:
    std::atomic<bool> allowInput{true};
    std::atomic<bool> shutdownResult{true};
    std::atomic<int> made{0};
    std::atomic<int> freed{0};
    sv::training::ITrainingSurface* surfaceSeen = nullptr;
    std::function<void()> endLocally;
    // Run when the Host says it is stopping, after the call is noted.
    std::function<void()> onStopping;
    // What the Host gave its agent to call.
    std::function<void(const std::string&)> sink;
    sv::training::TrainingHostHooks hooks;

    sv::TrainingAgentMaker Maker() {
        return [this](std::function<void(const std::string&)> send, const sv::training::TrainingHostHooks& given,
                      std::function<void()> end) {
            ++made;
            surfaceSeen = given.surface;
            sink = send;
            hooks = given;
            endLocally = std::move(end);
            sv::TrainingAgentLink link;
            link.queueRequest = [this](const nlohmann::json& message, const std::string& from) {
                Note("queue " + from + " " + message.value("op", ""));
            };
            link.gateInput = [this](const std::string& from, const std::string& what) {
                Note("gate " + from + " " + what);
                return allowInput.load();
            };
            link.controllersGone = [this](int remaining) { Note("gone " + std::to_string(remaining)); };
            link.hostStopping = [this] {
                Note("stopping");
                if (onStopping) onStopping();
            };
            link.shutdown = [this] {
                Note("shutdown");
                return shutdownResult.load();
            };
            link.owner = sv::TrainingAgentLink::Owner(&freed, [](void* p) { ++*static_cast<std::atomic<int>*>(p); });
            return link;
        };
    }
    std::vector<std::string> Calls() {
        std::lock_guard<std::mutex> lock(mutex_);
        return calls_;
    }

private:
    void Note(const std::string& call) {
        std::lock_guard<std::mutex> lock(mutex_);
        calls_.push_back(call);
    }
    std::mutex mutex_;
    std::vector<std::string> calls_;
};

// A relay on 127.0.0.1 for a whole Host: it takes the host's connection, keeps every
// text the host sends and sends the host what the test gives it, in order.
class FakeRelay {
public:
    FakeRelay() : server_([this](RawPeer& peer) { Serve(peer); }) {}
    ~FakeRelay() { closing_.store(true); }

    std::string Url() const { return server_.Url(); }

    // A text frame to the host; false while no host is connected.
    bool Send(const std::string& text) {
        std::lock_guard<std::mutex> lock(mutex_);
        return peer_ != nullptr && peer_->Send(ServerFrame(0x81, Text(text)));
    }
    // Waits for a text from the host that holds `needle`.
    bool WaitFor(const std::string& needle, int timeoutMs = kPatienceMs) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
            for (const std::string& t : texts_) {
                if (t.find(needle) != std::string::npos) return true;
            }
            return false;
        });
    }
    // The host's registration has come in.
    bool WaitRegistered() { return WaitFor("-register\""); }
    // Returns once the host has handled everything sent before: the relay loop takes its
    // messages one after another, and this one it answers.
    bool Sync() {
        const std::string id = "sync-" + std::to_string(++syncs_);
        return Send(R"({"type":"input-block-request","blocked":false,"id":")" + id + "\"}") &&
               WaitFor("\"" + id + "\"");
    }
    std::vector<std::string> Texts() {
        std::lock_guard<std::mutex> lock(mutex_);
        return texts_;
    }
    // Every later text from the host goes to `to` as well (on the relay's thread).
    void Forward(std::function<void(const std::string&)> to) {
        std::lock_guard<std::mutex> lock(mutex_);
        forward_ = std::move(to);
    }
    // Drops the host's connection, as a relay that goes away does.
    void Drop() {
        std::lock_guard<std::mutex> lock(mutex_);
        if (peer_ != nullptr) shutdown(peer_->Handle(), SD_BOTH);
    }
    // Waits for the host to close its connection.
    bool WaitClosed() {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::milliseconds(kPatienceMs), [&] { return closed_; });
    }
    // The code of the host's close frame; -1 when it sent none.
    int CloseCode() {
        std::lock_guard<std::mutex> lock(mutex_);
        return closeCode_;
    }

private:
    void Serve(RawPeer& peer) {
        if (!peer.Handshake()) return;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            peer_ = &peer;
        }
        RawPeer::Frame frame;
        for (;;) {
            frame = RawPeer::Frame();
            if (!peer.ReadFrame(frame)) {
                // The server's receive bound passed while the host had nothing to say.
                if (WSAGetLastError() == WSAETIMEDOUT && !closing_.load()) continue;
                break;
            }
            if (frame.opcode == 8) {
                std::lock_guard<std::mutex> lock(mutex_);
                if (frame.payload.size() >= 2) closeCode_ = frame.payload[0] << 8 | frame.payload[1];
                break;
            }
            if (frame.opcode != 1) continue;
            std::lock_guard<std::mutex> lock(mutex_);
            texts_.emplace_back(frame.payload.begin(), frame.payload.end());
            if (forward_) forward_(texts_.back());
            changed_.notify_all();
        }
        std::lock_guard<std::mutex> lock(mutex_);
        peer_ = nullptr;
        closed_ = true;
        changed_.notify_all();
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> texts_;
    RawPeer* peer_ = nullptr;
    bool closed_ = false;
    int closeCode_ = -1;
    std::function<void(const std::string&)> forward_;
    std::atomic<bool> closing_{false};
    std::atomic<int> syncs_{0};
    RawServer server_;  // last: its thread ends before the members it uses go
};

// Runs a Host's classic entry on a thread of its own until this goes (it stops the Host).
class RunningHost {
public:
    explicit RunningHost(sv::Host& host)
        : host_(host), run_(std::async(std::launch::async, [&host] { return host.RunClassic(); })) {}
    ~RunningHost() {
        host_.Stop();
        run_.wait();
    }

private:
    sv::Host& host_;
    std::future<int> run_;
};

}  // namespace sv_test
