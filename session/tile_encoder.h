#pragma once
// Changed-tile diffing and the SVT1 frame format.
#include <atomic>
#include <cstdint>
#include <vector>

namespace sv {

class TileEncoder {
public:
    TileEncoder();
    void SetQuality(int32_t q) { quality_.store(q); }
    int32_t Quality() const { return quality_.load(); }
    void Commit();

private:
    std::atomic<int32_t> quality_{60};
};

}  // namespace sv
