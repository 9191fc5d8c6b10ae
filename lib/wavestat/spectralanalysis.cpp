#include "spectralanalysis.h"

#include "numeric.h"
#include "sensor.h"

SpectralAnalysis::SpectralAnalysis(const WaveSensor* sensor) : sensor(sensor), sCnt(sensor->GetSCnt()) {}

namespace {

// Trapezoid sum of term(s[i], i) over bins lo/b .. hi/b.
template <typename Term>
float Trapezoid(const float* s, int lo, int hi, int b, Term term)
{
    const int i0 = lo / b;
    const int i1 = hi / b;
    float sum = (term(s[i0], i0) + term(s[i1], i1)) / 2.0f;
    for (int i = i0 + 1; i < i1; ++i)
        sum += term(s[i], i);
    return sum;
}

float BinWidth(int b)
{
    return static_cast<float>(b) / 1000.0f;
}

} // namespace

float SpectralAnalysis::BandEnergy(const float* s, int lo, int hi, int b) const
{
    return Trapezoid(s, lo, hi, b, [](float v, int) { return v; }) * BinWidth(b);
}

float SpectralAnalysis::FirstMoment(const float* s, int lo, int hi, int b) const
{
    const float w = BinWidth(b);
    return Trapezoid(s, lo, hi, b, [](float v, int i) { return v * static_cast<float>(i); }) * (w * w);
}

float SpectralAnalysis::SecondMoment(const float* s, int lo, int hi, int b) const
{
    const float w = BinWidth(b);
    return Trapezoid(s, lo, hi, b, [](float v, int i) { return v * static_cast<float>(i * i); }) * (w * w * w);
}

float SpectralAnalysis::MinusFirstMoment(const float* s, int lo, int hi, int b) const
{
    return Trapezoid(s, lo, hi, b, [](float v, int i) { return v / static_cast<float>(i); });
}

float SpectralAnalysis::MinusFirstMomentPeriod(const float* s, int lo, int hi, int b) const
{
    const float m0 = BandEnergy(s, lo, hi, b);
    return m0 == 0.0f ? MISSING_VALUE : MinusFirstMoment(s, lo, hi, b) / m0;
}

float SpectralAnalysis::AveragePeriod(const float* s, int lo, int hi, int b) const
{
    const float m2 = SecondMoment(s, lo, hi, b);
    return m2 == 0.0f ? MISSING_VALUE : fsqrt(BandEnergy(s, lo, hi, b) / m2);
}

float SpectralAnalysis::PeakFrequency(const float* s, int lo, int hi, int b) const
{
    const int best = PeakBin(s, lo, hi, b);
    return best < 0 ? MISSING_VALUE : static_cast<float>(best * b) / 1000.0f;
}

int SpectralAnalysis::PeakBin(const float* s, int lo, int hi, int b) const
{
    int best = -1;
    float highest = 0.0f;
    for (int i = lo / b; i <= hi / b; ++i) {
        if (IsPresent(s[i]) && s[i] > highest) {
            highest = s[i];
            best = i;
        }
    }
    return best;
}

float SpectralAnalysis::FourCoefEnergy(const float* coef, const float* s, int lo, int hi, int b) const
{
    const float* c = coef;
    return Trapezoid(s, lo, hi, b, [c](float v, int i) { return IsPresent(c[i]) ? c[i] * v : 0.0f; }) * BinWidth(b);
}

float SpectralAnalysis::SquareEnergy(const float* s, int lo, int hi, int b) const
{
    const float w = BinWidth(b);
    return Trapezoid(s, lo, hi, b, [](float v, int) { return v * v; }) * (w * w);
}
