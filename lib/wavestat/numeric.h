// Numeric routines that every analysis of the library shares.
#pragma once

#include "wavedefs.h"

// A value takes part in an analysis when it is neither the missing marker nor
// infinite or not a number (such values are treated as missing wherever they
// come from).
inline bool IsPresent(float v)
{
    return v != MISSING_VALUE && v - v == 0.0f;
}

extern "C" {
// Mean of the present values among the first n; the missing marker when none is.
WAVESTAT_EXPORT float FloatArrayMean(const float* values, int n);
// Standard deviation of the present values about mean, with (count - 1) in the
// denominator; the missing marker without values, 0 with exactly one.
WAVESTAT_EXPORT float FloatArraySigma(const float* values, int n, float mean);
}

// Square root of a float; 0 for x <= 0.
float fsqrt(float x);

// Fills the gap x[i-g] .. x[i-1] on the straight line from x[i-g-1] to x[i].
inline void InterpolateGap(float* x, int i, int g)
{
    const float step = (x[i] - x[i - g - 1]) / static_cast<float>(g + 1);
    for (int k = i - g; k < i; ++k)
        x[k] = x[k - 1] + step;
}

// The screen every sample passes on its way in: a value beyond +-1,000,000
// (or not a finite number) is stored as missing and flagged out of range.
// Returns the sample's flag word.
int32_t ScreenSample(float& value);
