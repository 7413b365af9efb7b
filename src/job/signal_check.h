#pragma once

#include <cstdint>
#include <string>

#include "job/tone_request.h"

// What a signal other than the sine needs of a request that RequestCheck
// passed: its own refusals (a sweep's range and length, a multitone's bins,
// the CCIF pair's rate, the 4 GB limit), checked without making it. Empty
// when it can be made.
std::string SignalCheck(const ToneRequest& request);

// The frequencies and relative amplitudes (null: equal) of a periodic signal.
struct SignalTones {
    const double* frequencies = nullptr;
    const double* amplitudes = nullptr;
    uint32_t count = 0;
};
SignalTones SignalTonesOf(const ToneRequest& request);

// The period of a periodic signal in frames: a multitone's as asked, or the
// rate (always, for the two-tone signals).
inline uint32_t SignalPeriod(const ToneRequest& r)
{
    return r.signal == SignalKind::Multitone && r.period != 0 ? r.period : uint32_t(r.sampleRate);
}
