#pragma once

#include <cstdint>

// The fractional DC correction over n samples: the running fraction gains
// step at every sample, and where it reaches a whole unit (in magnitude)
// that unit leaves it (std::modf) and is added to the sample, saturated.
// The fraction ends as after n such additions one by one, in every bit.
void ToneAddFraction(double& fraction, double step, int32_t* v, uint32_t n);
