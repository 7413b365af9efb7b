#pragma once

#include <cstdint>
#include <limits>

// A corrected sample saturates instead of wrapping to the opposite peak.
inline int32_t ToneSaturate(int64_t v)
{
    constexpr int64_t lo = std::numeric_limits<int32_t>::min();
    constexpr int64_t hi = std::numeric_limits<int32_t>::max();
    return int32_t(v < lo ? lo : v > hi ? hi : v);
}
