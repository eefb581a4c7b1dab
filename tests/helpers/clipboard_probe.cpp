// Reads or sets the clipboard's Unicode text so end-to-end tests can see what the host put
// there. "get" prints the text's UTF-8 bytes as hex (or "none"); "set HEX" puts text there.
#include <windows.h>

#include <cstdio>
#include <string>

#include "session/tools/clipboard.h"

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    std::string mode = argv[1];
    if (mode == "get") {
        std::string text;
        if (!sv::GetClipboardUtf8(text)) {
            std::printf("none\n");
            return 0;
        }
        std::printf("text ");
        for (unsigned char c : text) std::printf("%02x", c);
        std::printf("\n");
        return 0;
    }
    if (mode == "set" && argc >= 3) {
        std::string hex = argv[2];
        std::string text;
        for (size_t i = 0; i + 1 < hex.size(); i += 2) {
            text += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
        }
        return sv::SetClipboardFromUtf8(text) ? 0 : 1;
    }
    return 2;
}
