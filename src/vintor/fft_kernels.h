// The vector kernels of the fixed-point FFT as the transform calls them: one
// table of entry points per build (baseline, widest vector unit).
#pragma once

#include <cstdint>

#include "integer_fft.h"

// Narrow passes are exact while every value lies within +-65536: a Q15
// product then stays below 2^31 and every sum within 32 bits.
constexpr int32_t kNarrowLimit = 65535;

struct FixedFft::Kernels {
    uint32_t (*pass)(int32_t*, int32_t*, int, int, const int32_t*, const int32_t*, int);
    bool (*in)(const fixed*, const fixed*, const int16_t*, int, int32_t*, int32_t*);
    uint32_t (*magnitude)(const int32_t*, const int32_t*, int);
    void (*out)(const int32_t*, const int32_t*, int, fixed*, fixed*);
    uint32_t (*samples)(const unsigned char*, const int32_t*, const int16_t*, int, int, int32_t, int32_t*, int32_t*,
        int64_t*, int*);
    bool (*power)(const int32_t*, const int32_t*, int, double, float, float*);
};

