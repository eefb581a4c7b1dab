#pragma once
// A door that callers pass through one call at a time: Close() shuts it and waits for
// those still inside, so whatever was let in has finished before the closer goes on, and
// nobody gets in afterwards. A closer must never be one of those inside.
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace sv {
namespace training {

class EntryGate {
public:
    // False once closed.
    bool Enter();
    void Leave();
    void Close();
    bool IsOpen();

    // Holds one passage for a scope; check Entered() before acting.
    class Pass {
    public:
        explicit Pass(EntryGate& gate) : gate_(gate), entered_(gate.Enter()) {}
        ~Pass() {
            if (entered_) gate_.Leave();
        }
        Pass(const Pass&) = delete;
        Pass& operator=(const Pass&) = delete;
        bool Entered() const { return entered_; }

    private:
        EntryGate& gate_;
        const bool entered_;
    };

private:
    std::mutex mutex_;
    std::condition_variable idle_;
    bool open_ = true;
    int32_t inside_ = 0;
};

}  // namespace training
}  // namespace sv
