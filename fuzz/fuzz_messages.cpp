// Text messages from the relay and from LAN channels: parsed once at the edge for each
// kind of source, then read by the pure readers the handlers use on their fields.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include "base/json_fields.h"
#include "session/relay/message_table.h"
#include "session/screen/stream_rules.h"
#include "session/tools/file_transfer.h"
#include "session/tools/upload_names.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const int which = in.ConsumeIntegralInRange<int>(0, 2);
    const std::string text = in.ConsumeRemainingBytesAsString();
    const sv::MessageSource sources[] = {sv::MessageSource::kRelay, sv::MessageSource::kLanTicket,
                                         sv::MessageSource::kLanPassword};
    auto msg = sv::ParseIncoming(text, sources[which], "controller-1");
    if (!msg) return 0;
    if (!msg->body.is_object()) __builtin_trap();
    if (msg->source == sv::MessageSource::kLanTicket && msg->from != "controller-1") __builtin_trap();
    const nlohmann::json& body = msg->body;
    sv::ReadStreamControl(body);
    int32_t width = 0;
    sv::ReadPrefsMaxWidth(body, width);
    sv::ReadAckSeq(body);
    sv::ControllerKey(msg->from);
    for (const char* key : {"id", "name", "path", "text", "data", "transferId", "token", "ticketId", "secret"}) {
        if (auto s = sv::JsonString(body, key)) {
            if (std::string(key) == "name") {
                std::string safe = sv::SafeUploadName(*s);
                if (safe.empty() || safe.find_first_of("/\\") != std::string::npos) __builtin_trap();
            }
            if (std::string(key) == "data") sv::DecodeBase64(*s);
        }
        sv::JsonInt64(body, key);
        sv::JsonDouble(body, key);
        sv::JsonBool(body, key);
    }
    for (const char* key : {"seq", "size", "quality", "fps", "x", "y", "port"}) sv::JsonInt64(body, key);
    return 0;
}
