#pragma once
// Plain records shared by the training agent and the Windows side.
#include <cstdint>
#include <optional>
#include <string>

namespace sv {
namespace training {

// A screen rectangle in pixels.
struct Box {
    int32_t x = 0;
    int32_t y = 0;
    int32_t width = 0;
    int32_t height = 0;
};

// One top-level window.
struct WindowInfo {
    uint64_t hwnd = 0;
    std::string title;
    std::string className;
    std::string process;  // image file name without directory and ".exe"
    uint32_t processId = 0;
    Box rect;
    uint64_t owner = 0;
};

}  // namespace training
}  // namespace sv
