// The files the host reads at start: host-id.txt, host-ui.json and device.json, and the
// enrolment answer that becomes device.json.
#include <cstdint>
#include <optional>
#include <string>

#include "app/enrollment.h"
#include "session/host_identity.h"
#include "session/lan/lan_settings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::string id = sv::HostIdFromFileText(text);
    if (!id.empty() && id.size() != 9) __builtin_trap();
    sv::PasswordFromSettingsText(text);
    sv::SettingsTextWithNewPassword(text, true, "abc234", "wss://r.invalid/", "https://a.invalid");
    sv::SettingsTextWithRotatedPassword(text, "abc234");
    sv::ChooseLanPort(0, text);
    sv::ChooseLanPort(47811, std::optional<std::string>(text));
    int32_t deviceId = 0;
    std::string secret;
    sv::ReadDeviceRecord(text, deviceId, secret);
    sv::ReadEnrollAnswer(text);
    return 0;
}
