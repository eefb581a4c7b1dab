#include "session/relay/message_routes.h"

#include <exception>
#include <optional>
#include <utility>

namespace sv {

MessageRoutes::MessageRoutes(std::vector<MessageRoute> routes, Audit audit)
    : routes_(std::move(routes)), audit_(std::move(audit)) {}

void MessageRoutes::DispatchText(const std::string& text, MessageSource source,
                                 const std::string& channelController) const {
    if (std::optional<IncomingMessage> msg = ParseIncoming(text, source, channelController)) Dispatch(*msg);
}

void MessageRoutes::Dispatch(const IncomingMessage& msg) const {
    for (const MessageRoute& route : routes_) {
        if (msg.type != route.type) continue;
        if (route.relayOnly && msg.source != MessageSource::kRelay) return;
        if (!route.handler) return;
        try {
            route.handler(msg);
        } catch (const std::exception& e) {
            // Named in the audit log, so a fault in a handler is not taken for a bad message.
            if (audit_) audit_("dispatch", "handler failed: " + msg.type + ": " + e.what(), msg.from);
        }
        return;
    }
}

}  // namespace sv
