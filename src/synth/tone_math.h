#pragma once

// The only transcendental functions the synthesis uses. Every sample, every
// ramp gain and the amplitude go through these, so planning's count-only run
// and rendering compute the same values.
double ToneSin(double x);
double ToneCos(double x);
double TonePow(double x, double y);
