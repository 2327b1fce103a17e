// What the x86 processor and its operating system offer the vector twins.

#include <cpuid.h>

#include "simd_support.h"

uint32_t DetectSimdLevel() {
    unsigned a, b, c, d;
    // __get_cpuid also checks, on i386, that the processor has CPUID at all.
    if (!__get_cpuid(1, &a, &b, &c, &d)) return SimdNone;
    if (!(d & bit_SSE2)) return SimdNone;
    if (!(c & bit_SSSE3)) return SimdSse2;
    unsigned c1 = c;
    // AVX2 needs the processor's support and the system's: the operating
    // system must save the YMM registers (OSXSAVE, then XCR0 bits 1 and 2).
    // AVX-512 also needs the mask registers and all 32 ZMM registers saved
    // (XCR0 bits 5 to 7).
    unsigned xcr0 = 0;
    if ((c & bit_OSXSAVE) && (c & bit_AVX)) {
        unsigned hi;
        __asm__ volatile("xgetbv" : "=a"(xcr0), "=d"(hi) : "c"(0));
    }
    if ((xcr0 & 6) == 6 && __get_cpuid_max(0, nullptr) >= 7) {
        __cpuid_count(7, 0, a, b, c, d);
        // The 32-bit coder's hand loops store with movbe, which processors
        // with AVX2 and BMI2 have (Intel from Haswell, AMD from Excavator);
        // a 64-bit build does not use it.
        bool popcnt = c1 & bit_POPCNT, movbe = sizeof(void *) == 8 || (c1 & bit_MOVBE);
        if (!popcnt || !movbe || !(b & bit_AVX2) || !(b & bit_BMI) || !(b & bit_BMI2)) {
            return SimdSsse3;
        }
        constexpr unsigned kAvx512 = bit_AVX512F | bit_AVX512BW | bit_AVX512CD | bit_AVX512VL;
        const bool avx512 = (b & kAvx512) == kAvx512 && (c & bit_AVX512VBMI);
        return (xcr0 & 0xE6) == 0xE6 && avx512 ? SimdAvx512 : SimdAvx2;
    }
    return SimdSsse3;
}
