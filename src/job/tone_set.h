#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "job/tone_request.h"

// A set of files: every combination of the values given for each request
// option, each written as a file of its own, byte for byte the file the
// single request makes.

// The options as given: comma-separated lists of numbers, and for the
// frequency also the names "octaves" and "thirds".
struct ToneSetOptions {
    std::string rate = "384000";
    std::string freq = "1000";
    std::string atten = "0";
    std::string seconds = "30";
    std::string bits = "32";
    // The other signals' options. Each takes a list as the others do, but
    // --tones, whose list is one multitone's frequencies.
    std::string signal = "sine";
    std::string from = "20";
    std::string to = "20000";
    std::string silence = "1";
    std::string tones = "thirds";
    std::string period;  // empty: the rate
    std::string channels = "both";
    std::string phase = "running";
    std::string out;     // a name pattern with {rate} {freq} ... {phase}; empty: the default
    std::string outDir;  // a folder for the files; empty: none
};

// One file of a set: its request and the values as written in the lists.
struct ToneSetMember {
    ToneRequest request;
    std::string rate, freq, atten, seconds, bits;
    std::string signal, from, to, silence, period, channels, phase;
};

// The octave and third-octave frequencies (ISO 266 nominal values) that the
// names "octaves" and "thirds" stand for.
inline constexpr const char* OCTAVE_FREQUENCIES[] = {"31.5", "63",   "125",  "250",  "500",
                                                     "1000", "2000", "4000", "8000", "16000"};
inline constexpr const char* THIRD_OCTAVE_FREQUENCIES[] = {
    "20",   "25",   "31.5", "40",   "50",   "63",    "80",    "100",   "125",  "160",  "200",
    "250",  "315",  "400",  "500",  "630",  "800",   "1000",  "1250",  "1600", "2000", "2500",
    "3150", "4000", "5000", "6300", "8000", "10000", "12500", "16000", "20000"};
