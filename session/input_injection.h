#pragma once
// Turns the controller's pointer, key and text input into Windows input.
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace sv {

// Whether this host has blocked the local keyboard and mouse.
class InputState {
public:
    InputState();
    ~InputState();
    InputState(const InputState&) = delete;
    InputState& operator=(const InputState&) = delete;

    bool IsBlocked() const { return blocked_.load(); }

private:
    friend bool SetInputBlockedOn(InputState& state, bool on);
    friend void ReleaseInputBlock(InputState& state);
    std::atomic<bool> blocked_{false};
};

bool SetInputBlockedOn(InputState& state, bool on);
void ReleaseInputBlock(InputState& state);
bool InjectPointer(InputState& state, const std::string& kind, double x, double y, const std::string& button,
                   int screenWidth, int screenHeight);
bool InjectText(InputState& state, const std::string& text);
bool InjectKey(InputState& state, const std::string& key, const std::vector<std::string>& modifiers);
bool SendSecureAttention();

}  // namespace sv
