#pragma once

#include <cmath>
#include <cstddef>
#include <algorithm>
#include <optional>

// A computed position (a bin, a pixel, a frame) as an index into something
// of `size` elements: the whole part of x when 0 <= x < size, nothing when x
// is outside, infinite or not a number. Converting such a double directly is
// undefined behaviour, and fuzzed input makes every one of those cases.
inline std::optional<size_t> IndexIn(double x, size_t size)
{
    if (!(x >= 0.0) || !(x < double(size))) return std::nullopt;
    const auto i = size_t(x);
    if (i >= size) return std::nullopt;  // size near 2^64: the double rounded up
    return i;
}

// The same, held to the nearest end when outside (0 for not a number); size > 0.
inline size_t IndexClamped(double x, size_t size)
{
    if (!(x >= 0.0)) return 0;
    if (!(x < double(size))) return size - 1;
    return std::min(size_t(x), size - 1);
}
