#pragma once
// The edge of the message table: every incoming text is parsed here once into its type,
// its sender and its body. Who the sender is depends on where the text came from: the
// relay names it in "from"; a ticket-mode LAN channel is its controller whatever the
// text says; a password-mode LAN peer is always "lan". Pure: no I/O.
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

namespace sv {

enum class MessageSource {
    kRelay,
    kLanTicket,    // a LAN channel bound to a relay controller
    kLanPassword,  // a LAN peer admitted by the host password
};

struct IncomingMessage {
    std::string type;
    std::string from;
    nlohmann::json body;  // the whole object
    MessageSource source = MessageSource::kRelay;
};

// Nothing for text that is not a JSON object with a string "type", and for relay text
// whose "from" is there but not a string.
std::optional<IncomingMessage> ParseIncoming(const std::string& text, MessageSource source,
                                             const std::string& channelController = std::string());

}  // namespace sv
