#pragma once

#include <cstdint>

// The signals calyx-cli makes beyond the designed sine, and where they go.
enum class SignalKind : uint8_t { Sine, Sweep, Multitone, Smpte, Ccif };
enum class SignalChannels : uint8_t { Both, Left, Right, Inverted };

// The names the command line takes and file names carry, in enum order.
inline constexpr const char* SIGNAL_KIND_NAMES[] = {"sine", "sweep", "multitone", "smpte", "ccif"};
inline constexpr const char* SIGNAL_CHANNELS_NAMES[] = {"both", "left", "right", "inverted"};
inline constexpr const char* SIGNAL_PHASE_NAMES[] = {"running", "exact"};

// The lowest rate at which the CCIF pair (19 and 20 kHz) fits below half the rate.
inline constexpr int32_t CCIF_MIN_RATE = 44100;

inline bool SignalIsTwoTone(SignalKind k) { return k == SignalKind::Smpte || k == SignalKind::Ccif; }
inline bool SignalIsPeriodic(SignalKind k) { return k == SignalKind::Multitone || SignalIsTwoTone(k); }
