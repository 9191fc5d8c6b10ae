#include "numeric.h"

#include <cmath>

float FloatArrayMean(const float* values, int n)
{
    float sum = 0.0f;
    int count = 0;
    for (int i = 0; i < n; ++i) {
        if (IsPresent(values[i])) {
            sum += values[i];
            ++count;
        }
    }
    return count == 0 ? MISSING_VALUE : sum / static_cast<float>(count);
}

float FloatArraySigma(const float* values, int n, float mean)
{
    float sum = 0.0f;
    int count = 0;
    for (int i = 0; i < n; ++i) {
        if (IsPresent(values[i])) {
            const float d = values[i] - mean;
            sum += d * d;
            ++count;
        }
    }
    if (count == 0)
        return MISSING_VALUE;
    if (count == 1)
        return 0.0f;
    return fsqrt(sum / static_cast<float>(count - 1));
}

float fsqrt(float x)
{
    return x > 0.0f ? std::sqrt(x) : 0.0f;
}

int32_t ScreenSample(float& value)
{
    if (value >= -1000000.0f && value <= 1000000.0f)
        return SAMPLE_RECEIVED;
    value = MISSING_VALUE;
    return SAMPLE_RECEIVED | SAMPLE_OUT_OF_RANGE;
}
