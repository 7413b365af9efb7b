#include "synth/tone_math.h"

#include <cmath>

double ToneSin(double x) { return std::sin(x); }
double ToneCos(double x) { return std::cos(x); }
double TonePow(double x, double y) { return std::pow(x, y); }
