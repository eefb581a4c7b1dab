#pragma once
// The decisions behind the theme and the embedded fonts, kept free of Windows so they
// can be checked on their own: which setting host-ui.json holds, whether that means a
// dark banner, and the one report line the font load prints.
#include <cstdint>
#include <optional>
#include <string>

namespace sv {

// What the font load counted; `reasons` holds the " res 201"-style pieces in the
// order they happened.
struct UiFontTally {
    int gdiFaces = 0;
    int gdiplusFaces = 0;
    bool familiesPresent = true;
    std::string reasons;
};

// Faces expected from the three embedded resources.
constexpr int kUiFontFaceCount = 3;

// The number of faces in use: the GDI+ count when the load is whole, else 0.
int UiFontFacesInUse(const UiFontTally& tally);

// The line printed and audited once the load has run (at most 159 characters).
std::string FormatUiFontReport(const UiFontTally& tally);

// The theme setting in the text of host-ui.json: "system" unless "Theme" or "theme"
// holds a string ("theme" wins when both do).
std::string ThemeSettingFromSettingsText(const std::string& settingsText);

// Dark for exactly "dark", light for exactly "light"; any other setting follows the
// system, which is dark only when AppsUseLightTheme was read and is 0.
bool ThemeIsDark(const std::string& setting, std::optional<uint32_t> appsUseLightTheme);

}  // namespace sv
