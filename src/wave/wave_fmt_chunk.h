#pragma once

#include <cstdint>

#include "wave/wave_reader.h"

// Reads and checks the fmt chunk's fields (its first `size` bytes, at most
// 40 of them) into info; says in info.problems why when the encoding is not
// one the reader decodes.
WaveOpenResult WaveParseFormat(const unsigned char* f, uint32_t size, WaveInfo& info);
