#pragma once
// Kept apart from the injection itself so the options of a host can name it without
// <windows.h>.
#include <functional>
#include <string>
#include <vector>

namespace sv {

// Input as the controllers' messages and the training agent ask for it. Empty: the real
// injection through the RemoteInput's InputState.
struct InjectionSeams {
    std::function<bool(const std::string& kind, double x, double y, const std::string& button)> injectPointer;
    std::function<bool(const std::string& text)> injectText;
    std::function<bool(const std::string& key, const std::vector<std::string>& modifiers)> injectKey;
    std::function<bool()> sendSecureAttention;
    std::function<bool(bool on)> setInputBlocked;
};

}  // namespace sv
