#include "base/ui_theme.h"

#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <cstdio>
#include <vector>

#include "base/annotated_mutex.h"
#include "base/audit_log.h"
#include "base/console_output.h"
#include "base/settings_file.h"
#include "resources/version.h"

namespace sv {
namespace {

namespace gp = Gdiplus::DllExports;

const int kFaceResources[kUiFontFaceCount] = {SV_RES_FONT_REGULAR, SV_RES_FONT_MEDIUM, SV_RES_FONT_SEMIBOLD};
const wchar_t* const kPoppinsFaces[kUiFontFaceCount] = {L"Poppins", L"Poppins Medium", L"Poppins SemiBold"};

int WeightIndex(UiFontWeight weight) {
    int i = static_cast<int>(weight);
    return (i >= 0 && i < kUiFontFaceCount) ? i : 0;
}

Gdiplus::GpFont* MakeFont(Gdiplus::GpFontFamily* family, float sizePx, int style) {
    Gdiplus::GpFont* font = nullptr;
    if (family == nullptr) return nullptr;
    if (gp::GdipCreateFont(family, sizePx, style, Gdiplus::UnitPixel, &font) != Gdiplus::Ok) return nullptr;
    return font;
}

// The family of that name in the collection. Wine answers a lookup by name only for
// families it can also find among the process's GDI fonts, so the collection's own
// family list is searched when the lookup fails.
Gdiplus::GpFontFamily* FindFamily(Gdiplus::GpFontCollection* collection, const wchar_t* name) {
    Gdiplus::GpFontFamily* family = nullptr;
    if (gp::GdipCreateFontFamilyFromName(name, collection, &family) == Gdiplus::Ok && family != nullptr) {
        return family;
    }
    if (collection == nullptr) return nullptr;
    INT count = 0;
    if (gp::GdipGetFontCollectionFamilyCount(collection, &count) != Gdiplus::Ok || count <= 0) return nullptr;
    std::vector<Gdiplus::GpFontFamily*> list(static_cast<size_t>(count), nullptr);
    INT found = 0;
    if (gp::GdipGetFontCollectionFamilyList(collection, count, list.data(), &found) != Gdiplus::Ok) return nullptr;
    for (INT i = 0; i < found && i < count; ++i) {
        WCHAR listed[LF_FACESIZE] = {0};
        if (list[i] == nullptr || gp::GdipGetFamilyName(list[i], listed, LANG_NEUTRAL) != Gdiplus::Ok) continue;
        if (lstrcmpiW(listed, name) == 0 && gp::GdipCloneFontFamily(list[i], &family) == Gdiplus::Ok) {
            return family;
        }
    }
    return nullptr;
}

std::optional<std::string> ProgramResource(int id) {
    HMODULE module = GetModuleHandleW(nullptr);
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(10) /* RT_RCDATA */);
    if (found == nullptr) return std::nullopt;
    HGLOBAL loaded = LoadResource(module, found);
    if (loaded == nullptr) return std::nullopt;
    const void* data = LockResource(loaded);
    DWORD size = SizeofResource(module, found);
    if (data == nullptr || size == 0) return std::nullopt;
    return std::string(static_cast<const char*>(data), size);
}

// The process-wide set: loaded on first use, released for good before GDI+ shuts down.
struct ProcessFonts {
    Mutex mutex;
    bool loaded SV_GUARDED_BY(mutex) = false;
    bool released SV_GUARDED_BY(mutex) = false;
    UiFontSet set SV_GUARDED_BY(mutex);
};

ProcessFonts& Fonts() {
    static ProcessFonts* fonts = new ProcessFonts;  // outlives every static destructor
    return *fonts;
}

// The set, loaded first if it never was; only for use under the lock.
UiFontSet& LoadedFonts(ProcessFonts& fonts) SV_REQUIRES(fonts.mutex) {
    if (!fonts.loaded && !fonts.released) {
        fonts.loaded = true;
        std::string line = fonts.set.Load(ProgramResource);
        PrintText(stdout, line + "\n");
        WriteAuditLine("font", line, "");
    }
    return fonts.set;
}

}  // namespace

void UiFontDeleter::operator()(Gdiplus::GpFont* font) const {
    if (font != nullptr) gp::GdipDeleteFont(font);
}

UiFontSet::~UiFontSet() { Release(); }

std::string UiFontSet::Load(const FaceSource& source) {
    Release();
    UiFontTally tally;
    if (gp::GdipNewPrivateFontCollection(&collection_) != Gdiplus::Ok) collection_ = nullptr;
    for (int i = 0; i < kUiFontFaceCount; ++i) {
        const int id = kFaceResources[i];
        std::optional<std::string> face = source ? source(id) : std::nullopt;
        if (!face || face->empty()) {
            tally.reasons += " res " + std::to_string(id);
            continue;
        }
        bytes_[i] = std::move(*face);
        DWORD installed = 0;
        HANDLE gdi = AddFontMemResourceEx(bytes_[i].data(), static_cast<DWORD>(bytes_[i].size()), nullptr,
                                          &installed);
        if (gdi != nullptr) {
            ++tally.gdiFaces;
        } else {
            tally.reasons += " gdi " + std::to_string(id);
        }
        if (collection_ != nullptr &&
            gp::GdipPrivateAddMemoryFont(collection_, bytes_[i].data(), static_cast<INT>(bytes_[i].size())) ==
                Gdiplus::Ok) {
            ++tally.gdiplusFaces;
        } else {
            tally.reasons += " gdiplus " + std::to_string(id);
        }
    }
    for (const wchar_t* name : kPoppinsFaces) {
        Gdiplus::GpFontFamily* family = collection_ != nullptr ? FindFamily(collection_, name) : nullptr;
        if (family != nullptr) {
            gp::GdipDeleteFontFamily(family);
        } else {
            tally.reasons += " family";
            tally.familiesPresent = false;
        }
    }
    faces_ = UiFontFacesInUse(tally);
    return FormatUiFontReport(tally);
}

void UiFontSet::Release() {
    if (collection_ != nullptr) gp::GdipDeletePrivateFontCollection(&collection_);
    collection_ = nullptr;
    faces_ = 0;
}

std::wstring UiFontSet::FaceName(UiFontWeight weight) const {
    return faces_ > 0 ? kPoppinsFaces[WeightIndex(weight)] : L"Segoe UI";
}

UiFont UiFontSet::Create(UiFontWeight weight, float sizePx) {
    if (faces_ > 0) {
        Gdiplus::GpFontFamily* family = FindFamily(collection_, kPoppinsFaces[WeightIndex(weight)]);
        if (family != nullptr) {
            UiFont font(MakeFont(family, sizePx, Gdiplus::FontStyleRegular));
            gp::GdipDeleteFontFamily(family);
            if (font) return font;
        }
    }
    const int style = weight == UiFontWeight::SemiBold ? Gdiplus::FontStyleBold : Gdiplus::FontStyleRegular;
    Gdiplus::GpFontFamily* family = nullptr;
    if (gp::GdipCreateFontFamilyFromName(L"Segoe UI", nullptr, &family) != Gdiplus::Ok) family = nullptr;
    if (family == nullptr && gp::GdipGetGenericFontFamilySansSerif(&family) != Gdiplus::Ok) family = nullptr;
    UiFont font(MakeFont(family, sizePx, style));
    if (family != nullptr) gp::GdipDeleteFontFamily(family);
    return font;
}

int LoadUiFonts() {
    ProcessFonts& fonts = Fonts();
    MutexLock lock(fonts.mutex);
    return LoadedFonts(fonts).FacesInUse();
}

bool UiFontsAvailable() { return LoadUiFonts() > 0; }

Gdiplus::GpFontCollection* GetUiFontCollection() {
    ProcessFonts& fonts = Fonts();
    MutexLock lock(fonts.mutex);
    return LoadedFonts(fonts).Collection();
}

std::wstring GetUiFontFaceName(UiFontWeight weight) {
    ProcessFonts& fonts = Fonts();
    MutexLock lock(fonts.mutex);
    return LoadedFonts(fonts).FaceName(weight);
}

UiFont CreateUiFont(UiFontWeight weight, float sizePx) {
    ProcessFonts& fonts = Fonts();
    MutexLock lock(fonts.mutex);
    UiFontSet& set = LoadedFonts(fonts);
    if (fonts.released) return UiFont();  // even the fallback is a GDI+ call
    return set.Create(weight, sizePx);
}

void ReleaseUiFonts() {
    ProcessFonts& fonts = Fonts();
    MutexLock lock(fonts.mutex);
    fonts.set.Release();
    fonts.released = true;
}

bool IsDarkTheme(const std::string& dataDir) {
    std::string setting = "system";
    const SettingsText settings = SettingsFile::InDataDir(dataDir).Read();
    if (settings.readable) setting = ThemeSettingFromSettingsText(settings.text);
    if (setting == "dark" || setting == "light") return ThemeIsDark(setting, std::nullopt);
    DWORD value = 0;
    DWORD size = sizeof value;
    std::optional<uint32_t> appsUseLight;
    if (RegGetValueW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Themes\\Personalize",
                     L"AppsUseLightTheme", RRF_RT_REG_DWORD, nullptr, &value, &size) == ERROR_SUCCESS) {
        appsUseLight = value;
    }
    return ThemeIsDark(setting, appsUseLight);
}

}  // namespace sv
