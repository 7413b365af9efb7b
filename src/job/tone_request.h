#pragma once

#include <cstdint>

// What the user asks for; the dialog's members and the command line's options.
struct ToneRequest {
    double Frequency = 1000.0;
    int32_t nSampleRate = 384000;
    int32_t nSeconds = 30;
    int32_t nBitWidth = 32;
    uint32_t nAttenuation = 0;
    char szPath[256] = {};
};

struct RequestProblem {
    const char* message = nullptr;  // null: the request passes
    const char* caption = nullptr;
    explicit operator bool() const { return message != nullptr; }
};

inline constexpr const char* CAPTION_INVALID = "Invalid parameter...";
inline constexpr const char* CAPTION_PATH = "Can't create that file...";
inline constexpr const char* CAPTION_CREATE = "Create wav file...";

// The number checks of "Create file", in their order; the first failure.
RequestProblem CheckRequest(const ToneRequest& request);

// Blocks of 512 frames the request asks for: ceil(seconds x rate / 512).
// Only meaningful for a request that CheckRequest passed.
uint32_t RequestBlocks(const ToneRequest& request);
