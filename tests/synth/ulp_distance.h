#pragma once

#include <bit>
#include <cstdint>

// Representable doubles between a and b (0 when equal; -0 and +0 are equal).
inline uint64_t UlpDistance(double a, double b)
{
    auto ordered = [](double d) {
        const int64_t i = std::bit_cast<int64_t>(d);
        return i < 0 ? INT64_MIN - i : i;
    };
    const int64_t ia = ordered(a), ib = ordered(b);
    return ia > ib ? uint64_t(ia) - uint64_t(ib) : uint64_t(ib) - uint64_t(ia);
}
