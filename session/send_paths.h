#pragma once
// The host's two ways out: the relay (whose media connection frames prefer once it is
// attached) and the LAN channels. Text goes out on both; a frame's result is the path
// the relay's controllers depend on, since a frame they did not get must leave its tiles
// dirty. Pure: it decides, the seams send.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace sv {

class SendPaths {
public:
    struct Seams {
        std::function<bool(const std::string& text)> sendRelayText;
        std::function<bool(const uint8_t* data, size_t length)> sendRelayBinary;
        std::function<bool(const uint8_t* data, size_t length)> sendMediaBinary;
        std::function<bool()> mediaAttached;
        // Somebody joined through the relay.
        std::function<bool()> relayControllers;
        // Every joined controller has a LAN channel: the relay carries no frames.
        std::function<bool()> allOnLan;
        std::function<size_t()> lanChannels;
        // Every LAN channel gets the bytes; true when there was one and each send succeeded.
        std::function<bool(const std::vector<uint8_t>& bytes, uint8_t frameType)> sendToLan;
    };

    explicit SendPaths(Seams seams);

    void SendText(const std::string& text) const;
    // True when the frame reached the controllers that depend on it: the relay's while any
    // joined through it (media first, the relay within the same call if that fails), else
    // the LAN channels'.
    bool SendBinary(const uint8_t* data, size_t length) const;

private:
    const Seams seams_;
};

}  // namespace sv
