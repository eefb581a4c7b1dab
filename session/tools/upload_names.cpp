#include "session/tools/upload_names.h"

#include <cstddef>

namespace sv {
namespace {

// Room for " (nnnn)" after the stem while staying far below the 255 UTF-16 units Windows
// allows per name component (every UTF-8 byte is at most one UTF-16 unit).
constexpr size_t kMaxNameBytes = 200;
constexpr size_t kMaxExtensionBytes = 32;

bool IsForbidden(unsigned char c) {
    if (c < 0x20 || c == 0x7F) return true;
    switch (c) {
        case '<': case '>': case ':': case '"': case '|': case '?': case '*': case '/': case '\\':
            return true;
        default:
            return false;
    }
}

char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// Cuts `text` to at most `limit` bytes without splitting a UTF-8 sequence.
std::string CutUtf8(const std::string& text, size_t limit) {
    if (text.size() <= limit) return text;
    size_t end = limit;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    return text.substr(0, end);
}

void StripTrailingDotsAndSpaces(std::string& s) {
    while (!s.empty() && (s.back() == '.' || s.back() == ' ')) s.pop_back();
}

}  // namespace

std::string LastPathComponent(const std::string& path) {
    size_t pos = path.find_last_of("/\\");
    return pos == std::string::npos ? path : path.substr(pos + 1);
}

bool IsReservedDeviceName(const std::string& name) {
    std::string base = name.substr(0, name.find('.'));
    while (!base.empty() && base.back() == ' ') base.pop_back();
    std::string u;
    for (char c : base) u += Upper(c);
    if (u == "CON" || u == "PRN" || u == "AUX" || u == "NUL" || u == "CONIN$" || u == "CONOUT$") return true;
    if (u.size() >= 4 && (u.compare(0, 3, "COM") == 0 || u.compare(0, 3, "LPT") == 0)) {
        std::string digit = u.substr(3);
        if (digit.size() == 1 && digit[0] >= '0' && digit[0] <= '9') return true;
        // Superscript one, two and three count as digits to the device namespace.
        if (digit == "\xC2\xB9" || digit == "\xC2\xB2" || digit == "\xC2\xB3") return true;
    }
    return false;
}

void SplitStemExtension(const std::string& name, std::string& stem, std::string& extension) {
    size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0) {
        stem = name;
        extension.clear();
    } else {
        stem = name.substr(0, dot);
        extension = name.substr(dot);
    }
}

std::string SafeUploadName(const std::string& name) {
    std::string s = LastPathComponent(name);
    // A drive-relative name ("D:x") would otherwise be a path on another drive.
    if (s.size() >= 2 && s[1] == ':' && ((s[0] >= 'A' && s[0] <= 'Z') || (s[0] >= 'a' && s[0] <= 'z'))) {
        s = s.substr(2);
    }
    for (char& c : s) {
        if (IsForbidden(static_cast<unsigned char>(c))) c = '_';
    }
    StripTrailingDotsAndSpaces(s);
    if (s.empty() || s == "." || s == "..") return "file";
    if (s.size() > kMaxNameBytes) {
        std::string stem;
        std::string ext;
        SplitStemExtension(s, stem, ext);
        if (ext.size() > kMaxExtensionBytes) {
            stem = s;
            ext.clear();
        }
        s = CutUtf8(stem, kMaxNameBytes - ext.size()) + ext;
        StripTrailingDotsAndSpaces(s);
        if (s.empty()) return "file";
    }
    // Checked on the final name: cutting an overlong one can leave a device name that
    // the whole name hid ("COM" and a superscript one followed by stray bytes).
    if (IsReservedDeviceName(s)) {
        s = CutUtf8("_" + s, kMaxNameBytes);
        StripTrailingDotsAndSpaces(s);
    }
    return s;
}

std::string NumberedName(const std::string& name, int n) {
    std::string stem;
    std::string ext;
    SplitStemExtension(name, stem, ext);
    return stem + " (" + std::to_string(n) + ")" + ext;
}

}  // namespace sv
