// Run-time choice between the baseline code (SSE2 on x86) and a copy of the same loops built
// for AVX2. Both perform the same IEEE double operations in the same order per pixel (no
// fused multiply-add), so the pixels never depend on the choice.
//
// The AVX2 copies exist only in the native build: 64-bit MinGW cannot realign the stack for
// spilled 32-byte registers, so there the baseline runs.
#pragma once

#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__) && !defined(_WIN32)
#define NYRA_HAVE_AVX2_PATH 1
#define NYRA_TARGET_AVX2 __attribute__((target("avx2")))
#else
#define NYRA_HAVE_AVX2_PATH 0
#define NYRA_TARGET_AVX2
#endif

#if defined(__GNUC__)
#define NYRA_ALWAYS_INLINE inline __attribute__((always_inline))
#else
#define NYRA_ALWAYS_INLINE inline
#endif

// True when the AVX2 copies may run on this processor.
bool UseAvx2();
// Forces the baseline loops (tests and the benchmark compare both).
void SetAvx2Allowed(bool allowed);
