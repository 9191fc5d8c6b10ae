#include "sensor.h"

#include <cmath>
#include <memory>
#include <new>
#include <utility>

#include "numeric.h"
#include "wavedefs.h"

WaveSensor::WaveSensor(int hasTide, int directional, float sampleRate)
    : hasTide(hasTide), directional(directional), sampleRate(sampleRate),
      sCnt(static_cast<int>(sampleRate * 200.0f + 0.5f))
{
}

void WaveSensor::CorrectHeave(int, int, float*) const {}
void WaveSensor::CorrectCoQuad(int, int, float* const[8]) const {}
void WaveSensor::CorrectTide(int, int, float*) const {}
void WaveSensor::RemoveTide(float*, float*) const {}

namespace {

enum CoQuad { C11, C22, C33, C12, C13, C23, Q12, Q13 };

struct ComplexGain {
    float re, im;
};

// Inverse of the buoy's response at bin k: the complex factor that restores
// the displacement from what its high-pass filters let through.
ComplexGain WavecInverse(int k)
{
    const double f = 0.005 * k;
    const double u = 1.0 / (30.8 * f);
    const double v = 1.0 / (170.0 * f);
    return {static_cast<float>(1.0 - u * u - M_SQRT2 * u * v),
            static_cast<float>(v * u * u - M_SQRT2 * u - v)};
}

// Inverse power response of a 3rd-order Butterworth high-pass at bin k.
double DRiderGain(int k)
{
    return 1.0 + 1.0 / std::pow(k * 0.005 * 30.8, 6);
}

} // namespace

WavecSensor::WavecSensor() : WaveSensor(0, 1, 1.28f) {}

void WavecSensor::CorrectHeave(int first, int end, float* spectrum) const
{
    for (int k = first; k < end; ++k) {
        const ComplexGain g = WavecInverse(k);
        spectrum[k] *= g.re * g.re + g.im * g.im;
    }
}

void WavecSensor::CorrectCoQuad(int first, int end, float* const s[8]) const
{
    for (int k = first; k < end; ++k) {
        const ComplexGain g = WavecInverse(k);
        s[C11][k] *= g.re * g.re + g.im * g.im;
        // The cross pairs of heave with each horizontal signal turn with the
        // heave channel's phase.
        const int pairs[2][2] = {{C12, Q12}, {C13, Q13}};
        for (const auto& p : pairs) {
            const float c = s[p[0]][k];
            const float q = s[p[1]][k];
            s[p[0]][k] = g.re * c - g.im * q;
            s[p[1]][k] = g.im * c + g.re * q;
        }
    }
}

DRiderSensor::DRiderSensor() : WaveSensor(0, 1, 1.28f) {}

void DRiderSensor::CorrectHeave(int first, int end, float* spectrum) const
{
    for (int k = first; k < end; ++k)
        spectrum[k] = static_cast<float>(spectrum[k] * DRiderGain(k));
}

void DRiderSensor::CorrectCoQuad(int first, int end, float* const s[8]) const
{
    for (int k = first; k < end; ++k) {
        const double g = DRiderGain(k);
        for (int j = 0; j < 8; ++j)
            s[j][k] = static_cast<float>(s[j][k] * g);
    }
}

RiderSensor::RiderSensor() : WaveSensor(0, 0, 2.56f) {}

GaugeSensor::GaugeSensor() : GaugeSensor(2.56f) {}
GaugeSensor::GaugeSensor(float sampleRate) : WaveSensor(1, 0, sampleRate) {}
GaugeSensor_1_28::GaugeSensor_1_28() : GaugeSensor(1.28f) {}

GaugeArraySensor::GaugeArraySensor() : WaveSensor(0, 1, 1.28f) {}

namespace {

// One box filter of 2a + 1 ones over a zero-padded sequence, as a running sum.
void BoxPass(const double* in, double* out, int len, int a)
{
    double sum = 0.0;
    for (int j = 0; j < a && j < len; ++j)
        sum += in[j];
    for (int j = 0; j < len; ++j) {
        if (j + a < len)
            sum += in[j + a];
        if (j - a - 1 >= 0)
            sum -= in[j - a - 1];
        out[j] = sum;
    }
}

// Fills runs of missing values shorter than maxGap, with present values on
// both sides, by linear interpolation.
void InterpolateInnerGaps(float* x, int n, int maxGap)
{
    int g = 0;
    for (int i = 0; i < n; ++i) {
        if (!IsPresent(x[i])) {
            ++g;
            continue;
        }
        if (g > 0 && i - g - 1 >= 0 && g < maxGap)
            InterpolateGap(x, i, g);
        g = 0;
    }
}

} // namespace

void GaugeSensor::RemoveTide(float* values, float* tide) const
{
    const int n = static_cast<int>(sampleRate * 1200.0f + 0.5f);
    const int a = static_cast<int>(sampleRate * 5.0f + 0.5f);

    // The filter is a box of 2a + 1 ones convolved with itself four times.
    // Weighted sums of the accepted values (S) and of their weights (W) are
    // that convolution of the values and of an acceptance mask: four running
    // box sums over a series padded by 4a zeros on each side.
    const int pad = 4 * a;
    const int len = n + 2 * pad;
    std::unique_ptr<double[]> work(new (std::nothrow) double[4 * static_cast<size_t>(len)]);
    if (!work)
        return;
    for (int i = 0; i < n; ++i)
        tide[i] = MISSING_VALUE;
    double* s = work.get();
    double* w = s + len;
    double* s2 = w + len;
    double* w2 = s2 + len;

    const float mean = FloatArrayMean(values, n);
    if (mean != MISSING_VALUE) {
        const float sigma = FloatArraySigma(values, n, mean);
        const float lo = mean - 4.0f * sigma;
        const float hi = mean + 4.0f * sigma;
        for (int j = 0; j < len; ++j) {
            const int i = j - pad;
            const bool take = i >= 0 && i < n && IsPresent(values[i]) && values[i] >= lo && values[i] <= hi;
            s[j] = take ? values[i] : 0.0;
            w[j] = take ? 1.0 : 0.0;
        }
        for (int pass = 0; pass < 4; ++pass) {
            BoxPass(s, s2, len, a);
            BoxPass(w, w2, len, a);
            std::swap(s, s2);
            std::swap(w, w2);
        }
        const double full = std::pow(2.0 * a + 1.0, 4);
        for (int i = 0; i < n; ++i) {
            const double weight = w[i + pad];
            if (weight >= 0.9 * full)
                tide[i] = static_cast<float>(s[i + pad] / weight);
        }
    }

    InterpolateInnerGaps(tide, n, static_cast<int>(sampleRate * 150.0f + 0.5f));

    int first = -1, last = -1;
    for (int i = 0; i < n; ++i) {
        if (IsPresent(tide[i])) {
            if (first < 0)
                first = i;
            last = i;
        }
    }
    if (first >= 0 && first != last) {
        const float slope = (tide[last] - tide[first]) / static_cast<float>(last - first);
        const int reach = static_cast<int>(sampleRate * 75.0f + 0.5f);
        if (first < reach)
            for (int k = first - 1; k >= 0; --k)
                tide[k] = tide[k + 1] - slope;
        if (n - last < reach)
            for (int k = last + 1; k < n; ++k)
                tide[k] = tide[k - 1] + slope;
    }

    for (int i = 0; i < n; ++i) {
        if (!IsPresent(values[i]))
            continue;
        values[i] = IsPresent(tide[i]) ? values[i] - tide[i] : MISSING_VALUE;
    }
}

void GaugeSensor::CorrectTide(int first, int end, float* spectrum) const
{
    // Power left over where the tide filter (a box of `width` samples applied
    // four times) has been subtracted: (1 - r^4)^2.
    const int width = 2 * static_cast<int>(5.0f * sampleRate + 0.5f) + 1;
    for (int k = first; k < end; ++k) {
        const float omega = static_cast<float>(M_PI * k * 0.005 / sampleRate);
        const float sinOmega = std::sin(omega);
        if (sinOmega == 0.0f)
            continue;
        const float r = std::sin(static_cast<float>(width) * omega) / (static_cast<float>(width) * sinOmega);
        const float c = 1.0f - r * r * r * r;
        if (c != 0.0f)
            spectrum[k] *= 1.0f / (c * c);
    }
}

WaveSensor* CreateWaveSensor(int sensorType)
{
    switch (sensorType) {
    case 0: return new (std::nothrow) WavecSensor;
    case 1: return new (std::nothrow) DRiderSensor;
    case 2: return new (std::nothrow) RiderSensor;
    case 3: return new (std::nothrow) GaugeSensor;
    case 4: return new (std::nothrow) GaugeSensor_1_28;
    case 5: return new (std::nothrow) GaugeArraySensor;
    default: return nullptr;
    }
}
