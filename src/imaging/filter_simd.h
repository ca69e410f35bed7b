// Run-time choice between the baseline code (SSE2 on x86) and a copy of the same loops built
// for AVX2 with FMA or AVX-512. All perform the same IEEE double operations in the same order
// per pixel (a fused multiply-add only where its one rounding gives the same result as the
// operations it stands for), so the pixels never depend on the choice.
//
// The wider copies exist in the native build and in the 32-bit plug-in, where GCC realigns
// the stack of every function that spills a 32- or 64-byte register (-mstackrealign is the
// MinGW i686 default; the functions open with `and $-64, %esp`). 64-bit MinGW cannot realign
// under its unwind tables (spills would fault), so the x86_64 Windows build keeps the baseline.
#pragma once

#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__) && !defined(__clang__) \
    && (!defined(_WIN32) || !defined(_WIN64))
#define NYRA_HAVE_AVX2_PATH 1
#define NYRA_TARGET_AVX2 __attribute__((target("avx2,fma")))
#define NYRA_TARGET_AVX512 \
    __attribute__((target("avx512f,avx512bw,avx512vl,avx512dq,fma,prefer-vector-width=512")))
#else
#define NYRA_HAVE_AVX2_PATH 0
#define NYRA_TARGET_AVX2
#define NYRA_TARGET_AVX512
#endif

// Loops shaped for the sixteen or more vector registers of x86_64; 32-bit x86 has eight and
// takes shapes of its own. The benchmark's eight-register build (NYRA_EIGHT_REGISTERS: x86_64
// code denied the other registers) takes the 32-bit shapes too, to time them where no 32-bit
// program runs.
#if (defined(__x86_64__) || defined(_M_X64)) && !defined(NYRA_EIGHT_REGISTERS)
#define NYRA_WIDE_REGISTERS 1
#else
#define NYRA_WIDE_REGISTERS 0
#endif

// The filter sources vectorise their row loops also at -O2 (the product's optimisation level);
// -ffp-contract=off still holds, so no fused multiply-add appears.
#if defined(__GNUC__) && !defined(__clang__)
#define NYRA_VECTORIZE_LOOPS _Pragma("GCC optimize(\"tree-vectorize\", \"vect-cost-model=dynamic\")")
#else
#define NYRA_VECTORIZE_LOOPS
#endif

#if defined(__GNUC__)
#define NYRA_ALWAYS_INLINE inline __attribute__((always_inline))
#else
#define NYRA_ALWAYS_INLINE inline
#endif

// Which copies may run on this processor: 2 AVX-512, 1 AVX2 with FMA, 0 the baseline.
int SimdLevel();
// Caps the level SimdLevel may return (tests compare every path; 2 = no cap).
void SetSimdLimit(int maxLevel);
