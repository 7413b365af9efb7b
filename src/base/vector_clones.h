#pragma once

// Where the C library can pick a function's version by the processor (glibc
// on x86-64), a loop marked VECTOR_CLONES is also built for AVX2, and one
// marked VECTOR_CLONES_512 for AVX-512 as well. Every version makes the same
// values: the same IEEE operations on each element, without fused
// multiply-adds (the engine's options forbid contraction on every build).
// Under AddressSanitizer the loops stay plain: one version to check (clang
// says so by __has_feature, and cannot link clones under it).
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define CALYX_ADDRESS_SANITIZER 1
#endif
#endif
#if defined(__x86_64__) && defined(__GLIBC__) && !defined(__SANITIZE_ADDRESS__) && \
    !defined(CALYX_ADDRESS_SANITIZER)
#define VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#if defined(CALYX_NO_AVX512)  // the build option CALYX_AVX512=OFF
#define VECTOR_CLONES_512 VECTOR_CLONES
#else
#define VECTOR_CLONES_512 __attribute__((target_clones("avx512f", "avx2", "default")))
#endif
#else
#define VECTOR_CLONES
#define VECTOR_CLONES_512
#endif

// Before a loop whose iterations touch different elements in a way the
// compiler cannot see (rows apart by a run-time stride, indices running
// both ways): without it the compiler checks for overlap at run time or,
// with many arrays, gives up vectorising. The values are the same either way.
// Clang (only the fuzzing build uses it) gets nothing: its form of this,
// assume_safety, also demands the vectorising, and fails a -Werror build
// where its sanitizers prevent it.
#if defined(__GNUC__) && !defined(__clang__)
#define VECTOR_INDEPENDENT _Pragma("GCC ivdep")
#else
#define VECTOR_INDEPENDENT
#endif
