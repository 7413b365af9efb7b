#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "job/signal_kind.h"

// What the user asks for; the dialog's members and the command line's options.
struct ToneRequest {
    double frequency = 1000.0;
    int32_t sampleRate = 384000;
    int32_t seconds = 30;
    int32_t bitWidth = 32;
    uint32_t attenuation = 0;
    std::string path;  // the output file
    // Beyond the designed sine (calyx-cli only).
    SignalKind signal = SignalKind::Sine;
    SignalChannels channels = SignalChannels::Both;
    bool exactPhase = false;    // the sine's phase from each sample's index
    double sweepFrom = 20.0;    // Hz
    double sweepTo = 20000.0;   // Hz
    double silence = 1.0;       // seconds after a sweep
    std::vector<double> tones;  // a multitone's frequencies
    uint32_t period = 0;        // a multitone's period in frames; 0: the rate
};

// The dialog's path field holds at most this many characters (its szPath).
inline constexpr size_t PATH_FIELD_CHARS = 255;
inline constexpr const char* DEFAULT_FILE_NAME = "Test.wav";

struct RequestRefusal {
    const char* message = nullptr;  // null: the request passes
    const char* caption = nullptr;
    explicit operator bool() const { return message != nullptr; }
};

inline constexpr const char* CAPTION_INVALID = "Invalid parameter...";
inline constexpr const char* CAPTION_PATH = "Can't create that file...";
inline constexpr const char* CAPTION_CREATE = "Create wav file...";

// The most attenuation a width allows, in dB: its full scale gives 16 bits
// 90 dB above its last step, 24 bits 138, 32 bits 186.
uint32_t MaxAttenuation(int32_t bitWidth);

// The number checks of "Create file", in their order; the first failure. For
// a signal other than the sine, only those of the rate, duration, width and
// attenuation (SignalCheck has the rest).
RequestRefusal RequestCheck(const ToneRequest& request);

// Blocks (BLOCK_FRAMES frames) the request asks for: ceil(seconds x rate / BLOCK_FRAMES).
// Only meaningful for a request that RequestCheck passed.
uint32_t RequestBlocks(const ToneRequest& request);

// The default output: DEFAULT_FILE_NAME in the given working directory, with
// the system's separator and a drive letter upper-cased; the bare name when
// the directory is unknown.
std::string RequestDefaultPath(const std::string& currentDir);
