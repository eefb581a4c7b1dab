#pragma once
// Where each incoming message goes: one route per type, bound by the owner to the class
// that does the work. Filled once at construction and never changed, so the relay's
// thread and every LAN channel's thread dispatch through it without a lock. Pure: the
// handlers do the I/O.
#include <functional>
#include <string>
#include <vector>

#include "session/relay/message_table.h"

namespace sv {

struct MessageRoute {
    std::string type;
    bool relayOnly = false;  // only the relay may send it; a LAN peer's copy is dropped
    std::function<void(const IncomingMessage&)> handler;
};

class MessageRoutes {
public:
    using Audit = std::function<void(const std::string& kind, const std::string& detail, const std::string& actor)>;

    // Compared in the order given; a type that matches none is ignored.
    MessageRoutes(std::vector<MessageRoute> routes, Audit audit);

    // Text that does not parse as a message is dropped without a word, as noise is.
    void DispatchText(const std::string& text, MessageSource source,
                      const std::string& channelController = std::string()) const;
    // A handler's std::exception (a member of the wrong type and the like) drops the
    // message with an audit line; the caller's loop goes on.
    void Dispatch(const IncomingMessage& msg) const;

private:
    const std::vector<MessageRoute> routes_;
    const Audit audit_;
};

}  // namespace sv
