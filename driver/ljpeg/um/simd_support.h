// Which vector instructions the encoder may use. The stages exist in plain
// C++ on every target; on x86 they also have SSE2 (and where it pays, SSSE3
// or AVX2) twins that produce the same bytes. The twins are chosen per call
// from what the processor reports, so TRIVJPEG.DLL still runs on a 32-bit
// processor without SSE2.
#pragma once

#include <stdint.h>

// Each level includes the ones below it.
enum SimdLevel : uint32_t {
    SimdNone = 0,
    SimdSse2 = 1,
    SimdSsse3 = 2,
    SimdAvx2 = 3,    // with BMI1, BMI2 and POPCNT, which every AVX2 processor has, and
                     // in a 32-bit build MOVBE, which those with BMI2 have
    SimdAvx512 = 4,  // AVX-512 F, BW, CD, VL and VBMI; only a 64-bit build has stages for it
    SimdHighest = SimdAvx512,
};

// The level this call may use: what the processor and the operating system
// support, capped by LimitSimdLevel.
uint32_t SimdLevelInUse();

// What the processor and the operating system support, asked each time
// (SimdLevelInUse keeps the answer): SimdNone on every target but x86.
uint32_t DetectSimdLevel();

// Caps the level for the whole process (SimdHighest lifts the cap). For tests,
// which pin each vector twin to its scalar original.
void LimitSimdLevel(uint32_t level);

#if defined(__i386__) || defined(__x86_64__)
#define TRIVJPEG_X86 1
// Functions that use vector instructions carry the instruction set in their
// own attribute, so the rest of the library stays plain i686 code.
#define TRIVJPEG_SSE2  __attribute__((target("sse2")))
#define TRIVJPEG_SSSE3 __attribute__((target("sse2,ssse3")))
#define TRIVJPEG_AVX2  __attribute__((target("sse2,ssse3,avx2,bmi,bmi2,popcnt")))
#define TRIVJPEG_AVX512 \
    __attribute__((     \
        target("sse2,ssse3,avx2,bmi,bmi2,popcnt,avx512f,avx512bw,avx512cd,avx512vl,avx512vbmi")))
// The same for every function between BEGIN and END, templates included: a
// body shared by several instruction sets is compiled under each of them.
#if defined(__clang__)
#define TRIVJPEG_TARGET_BEGIN(isa) \
    _Pragma(                       \
        TRIVJPEG_STRING(clang attribute push(__attribute__((target(isa))), apply_to = function)))
#define TRIVJPEG_TARGET_END _Pragma("clang attribute pop")
#else
#define TRIVJPEG_TARGET_BEGIN(isa) \
    _Pragma("GCC push_options") _Pragma(TRIVJPEG_STRING(GCC target(isa)))
#define TRIVJPEG_TARGET_END _Pragma("GCC pop_options")
#endif
#define TRIVJPEG_STRING(x) #x
#else
#define TRIVJPEG_X86 0
#endif
