#include "session/relay/message_table.h"

#include "base/json_fields.h"
#include "session/controller_set.h"

namespace sv {

std::optional<IncomingMessage> ParseIncoming(const std::string& text, MessageSource source,
                                             const std::string& channelController) {
    nlohmann::json body = nlohmann::json::parse(text, nullptr, false);
    if (body.is_discarded() || !body.is_object()) return std::nullopt;
    std::optional<std::string> type = JsonString(body, "type");
    if (!type) return std::nullopt;
    IncomingMessage msg;
    msg.type = std::move(*type);
    msg.source = source;
    switch (source) {
        case MessageSource::kRelay:
            if (JsonMemberHasOtherKind(body, "from", [](const nlohmann::json& v) { return v.is_string(); })) {
                return std::nullopt;
            }
            msg.from = JsonStringOrEmpty(body, "from");
            break;
        case MessageSource::kLanTicket:
            msg.from = channelController;
            break;
        case MessageSource::kLanPassword:
            msg.from = kLanPeerKey;
            break;
    }
    msg.body = std::move(body);
    return msg;
}

}  // namespace sv
