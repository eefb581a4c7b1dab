#include "base/ui_theme_rules.h"

#include <cstdio>

#include <nlohmann/json.hpp>

namespace sv {

int UiFontFacesInUse(const UiFontTally& tally) {
    bool whole = tally.gdiplusFaces >= kUiFontFaceCount && tally.gdiFaces == kUiFontFaceCount &&
                 tally.familiesPresent;
    return whole ? tally.gdiplusFaces : 0;
}

std::string FormatUiFontReport(const UiFontTally& tally) {
    char line[160];
    if (UiFontFacesInUse(tally) > 0) {
        std::snprintf(line, sizeof line, "font: Poppins loaded (%d faces)", tally.gdiplusFaces);
    } else {
        std::snprintf(line, sizeof line, "font: Poppins NOT loaded (%d faces;%s) - falling back to Segoe UI",
                      tally.gdiplusFaces, tally.reasons.c_str());
    }
    return line;
}

std::string ThemeSettingFromSettingsText(const std::string& settingsText) {
    std::string setting = "system";
    nlohmann::json doc = nlohmann::json::parse(settingsText, nullptr, false);
    if (!doc.is_object()) return setting;
    for (const char* key : {"Theme", "theme"}) {
        auto it = doc.find(key);
        if (it != doc.end() && it->is_string()) setting = it->get<std::string>();
    }
    return setting;
}

bool ThemeIsDark(const std::string& setting, std::optional<uint32_t> appsUseLightTheme) {
    if (setting == "dark") return true;
    if (setting == "light") return false;
    return appsUseLightTheme.has_value() && *appsUseLightTheme == 0;
}

}  // namespace sv
