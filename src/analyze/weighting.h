#pragma once

// Frequency weighting of the residual.

// The A-weighting of IEC 61672-1 as a power gain, 1 at 1 kHz:
//   R_A(f) = 12194^2 f^4 / ((f^2 + 20.6^2) sqrt((f^2 + 107.7^2)(f^2 + 737.9^2)) (f^2 + 12194^2)),
//   gain(f) = (R_A(f) / R_A(1000))^2.
// Normalised by dividing by R_A(1000) rather than adding the standard's
// rounded 2.00 dB, so that 1 kHz is exactly 0 dB.
double AnalyzeAWeightingPower(double hz);
