#pragma once

#include <cstdint>

// Frames made, packed and written at a time; the data of every file is a
// whole number of such blocks.
inline constexpr uint32_t BLOCK_FRAMES = 512;
