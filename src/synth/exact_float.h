#pragma once

#include <cfloat>

// The samples are exact only in plain IEEE double arithmetic. The engine's
// build target asks for it (SSE2 doubles, no fused multiply-add, no fast
// maths); a build that lost those options stops here rather than make other
// samples. (Contraction into fused multiply-adds leaves no trace a compiler
// can test; the tests check it instead.)
static_assert(FLT_EVAL_METHOD == 0, "doubles must be evaluated as doubles: build with -msse2 -mfpmath=sse");
#if defined(__FAST_MATH__) || defined(__ASSOCIATIVE_MATH__) || defined(__RECIPROCAL_MATH__) || \
    (defined(__FINITE_MATH_ONLY__) && __FINITE_MATH_ONLY__)
#error "value-changing maths optimisations are on: build the engine with -fno-fast-math"
#endif
