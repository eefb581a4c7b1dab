#pragma once
// The Poppins faces carried inside the program, for GDI (face names) and GDI+ (a
// private collection), with Segoe UI as the fallback; and the banner's light or dark
// theme. The faces load once per process, on the first call of any font function.
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "base/ui_theme_rules.h"

namespace Gdiplus {
class GpFont;
class GpFontCollection;
}  // namespace Gdiplus

namespace sv {

enum class UiFontWeight { Regular = 0, Medium = 1, SemiBold = 2 };

struct UiFontDeleter {
    void operator()(Gdiplus::GpFont* font) const;
};
// A GDI+ font owned by the caller; it must go before GDI+ shuts down.
using UiFont = std::unique_ptr<Gdiplus::GpFont, UiFontDeleter>;

// Loads the faces (once) and returns how many are in use; 0 means the fallback.
// The first load prints its report line to standard output and the audit log.
int LoadUiFonts();
bool UiFontsAvailable();
// The private collection while the embedded faces are in use, else null.
Gdiplus::GpFontCollection* GetUiFontCollection();
// The GDI face name for that weight: Poppins when available, else "Segoe UI".
std::wstring GetUiFontFaceName(UiFontWeight weight);
// A font of that weight and pixel size; null when not even the fallback can be made.
UiFont CreateUiFont(UiFontWeight weight, float sizePx);

// Frees the GDI+ objects behind the fonts; StopGdiplus calls it before GDI+ goes. The
// fonts stay released: later calls never load again (GDI+ may be gone), the face names
// are "Segoe UI" and CreateUiFont gives none.
void ReleaseUiFonts();

// Whether the training banner is dark, from host-ui.json in dataDir and, for the
// "system" setting, the user's app theme.
bool IsDarkTheme(const std::string& dataDir);

// A font set loaded from any source of face bytes: the process-wide one reads the
// program's own resources; tests hand in files.
class UiFontSet {
public:
    // The bytes of the face with that resource id, or none when it cannot be had.
    using FaceSource = std::function<std::optional<std::string>(int resourceId)>;

    UiFontSet() = default;
    ~UiFontSet();
    UiFontSet(const UiFontSet&) = delete;
    UiFontSet& operator=(const UiFontSet&) = delete;

    // Runs the load and returns its report line.
    std::string Load(const FaceSource& source);
    // Drops the GDI+ objects; the GDI registrations stay with the process.
    void Release();

    int FacesInUse() const { return faces_; }
    Gdiplus::GpFontCollection* Collection() const { return faces_ > 0 ? collection_ : nullptr; }
    std::wstring FaceName(UiFontWeight weight) const;
    UiFont Create(UiFontWeight weight, float sizePx);

private:
    Gdiplus::GpFontCollection* collection_ = nullptr;
    int faces_ = 0;
    // The faces stay in memory as long as the collection uses them.
    std::string bytes_[kUiFontFaceCount];
};

}  // namespace sv
