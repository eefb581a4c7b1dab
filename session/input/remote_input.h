#pragma once
// The controllers' input on this machine: "input", "key-input" and
// "input-block-request", each asked of the training gate first (input only), injected
// through the seams, and audited. It owns the keyboard and mouse block (InputState), so
// whatever ends a session lifts the block here. The training agent injects through the
// same seams, without the gate.
#include <functional>
#include <string>
#include <vector>

#include "session/input/injection_seams.h"
#include "session/input/input_injection.h"
#include "session/relay/message_table.h"

namespace sv {

class RemoteInput {
public:
    struct Seams {
        InjectionSeams inject;
        // Where the answer to an "input-block-request" goes.
        std::function<void(const std::string& text)> sendText;
        // False when the controller's input ("mouse" or "keyboard") must be dropped; empty
        // lets everything through.
        std::function<bool(const std::string& controllerId, const std::string& what)> gateInput;
    };

    // In service mode Ctrl+Alt+Delete is the secure attention sequence, and input goes
    // to whichever desktop receives it.
    RemoteInput(Seams seams, bool serviceMode, InputPlatform platform = SystemInputPlatform());
    RemoteInput(const RemoteInput&) = delete;
    RemoteInput& operator=(const RemoteInput&) = delete;

    // A member of the wrong type throws (the dispatcher audits and drops the message).
    void OnInput(const IncomingMessage& m);
    void OnKeyInput(const IncomingMessage& m);
    void OnInputBlockRequest(const IncomingMessage& m);

    // The training agent's own input, not gated.
    bool InjectPointer(const std::string& kind, double x, double y, const std::string& button);
    bool InjectText(const std::string& text);
    bool InjectKey(const std::string& key, const std::vector<std::string>& modifiers);

    // Lifts this host's block, if any (a session or the host ends).
    void ReleaseBlock();

private:
    InputState state_;
    const bool serviceMode_;
    Seams seams_;
};

}  // namespace sv
